// The GIF LZW coder on its own: round trips through both encoder modes,
// the decoder's answers to damaged code streams, and the literal mode's
// promise of one fixed-width code per pixel.
#include "formats/lzw.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

// Collects the encoder's chunks and plays them back to the decoder in the
// same sizes.
struct TChunks {
  std::vector<std::vector<uint8_t>> chunks;
  size_t next = 0;

  static bool Sink(void* context, const uint8_t* data, int32_t length) {
    static_cast<TChunks*>(context)->chunks.emplace_back(data, data + length);
    return true;
  }
  static int32_t Source(void* context, const uint8_t** data) {
    auto& self = *static_cast<TChunks*>(context);
    if (self.next >= self.chunks.size()) return 0;
    const auto& chunk = self.chunks[self.next++];
    *data = chunk.data();
    return static_cast<int32_t>(chunk.size());
  }
  size_t TotalBytes() const {
    size_t total = 0;
    for (const auto& chunk : chunks) total += chunk.size();
    return total;
  }
};

TChunks Encode(const std::vector<uint8_t>& pixels, int32_t minCodeSize, TLzwMode mode, int32_t rowLength) {
  TChunks out;
  TLzwEncoder encoder;
  encoder.Start(minCodeSize + 1, mode, TChunks::Sink, &out);
  for (size_t i = 0; i < pixels.size(); i += rowLength)
    encoder.Write(&pixels[i], static_cast<int32_t>(std::min<size_t>(rowLength, pixels.size() - i)));
  EXPECT_TRUE(encoder.Finish());
  return out;
}

// Decodes in reads of readLength pixels, so strings are split across reads.
std::vector<uint8_t> Decode(TChunks& chunks, int32_t minCodeSize, size_t expected, int32_t readLength,
                            TLzwStatus& status) {
  TLzwDecoder decoder;
  EXPECT_TRUE(decoder.Start(minCodeSize, TChunks::Source, &chunks));
  std::vector<uint8_t> out(expected + readLength);
  size_t produced = 0;
  for (;;) {
    const int32_t got = decoder.Read(&out[produced], readLength);
    produced += got;
    if (got < readLength || produced > expected) break;
  }
  // Past the last pixel the decoder must find the end code.
  status = decoder.Status();
  out.resize(produced);
  return out;
}

std::vector<uint8_t> Pixels(size_t count, int32_t colours, int32_t runLength, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> pixels(count);
  for (size_t i = 0; i < count; i += runLength) {
    const auto value = static_cast<uint8_t>(random() % colours);
    for (size_t j = i; j < std::min(count, i + runLength); ++j) pixels[j] = value;
  }
  return pixels;
}

struct TRoundTrip {
  int32_t minCodeSize;
  int32_t colours;
  int32_t runLength; // 1 = noise, long runs = long strings and early table fills
  size_t count;
};

class LzwRoundTrip : public ::testing::TestWithParam<TRoundTrip> {};

TEST_P(LzwRoundTrip, BothModesGiveThePixelsBack) {
  const TRoundTrip& p = GetParam();
  const std::vector<uint8_t> pixels = Pixels(p.count, p.colours, p.runLength, 7);
  for (TLzwMode mode : {TLzwMode::Compress, TLzwMode::Literal}) {
    for (int32_t readLength : {1, 7, 640}) {
      TChunks chunks = Encode(pixels, p.minCodeSize, mode, 333);
      for (const auto& chunk : chunks.chunks) ASSERT_LE(chunk.size(), 255u);
      TLzwStatus status = TLzwStatus::Ok;
      const std::vector<uint8_t> decoded = Decode(chunks, p.minCodeSize, pixels.size(), readLength, status);
      ASSERT_EQ(decoded, pixels) << "mode " << static_cast<int>(mode) << " read " << readLength;
      EXPECT_EQ(status, TLzwStatus::End);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LzwRoundTrip,
                         ::testing::Values(TRoundTrip{2, 2, 1, 20000},     // two colours of noise
                                           TRoundTrip{2, 4, 1, 1},         // a single pixel
                                           TRoundTrip{4, 16, 3, 50000},    // short runs
                                           TRoundTrip{8, 256, 1, 300000},  // noise: many table clears
                                           TRoundTrip{8, 256, 5000, 300000}, // long strings
                                           TRoundTrip{8, 1, 1, 1000000})); // one colour: longest strings

TEST(LzwEncoder, CompressesRepetitiveData) {
  const std::vector<uint8_t> pixels(100000, 3);
  TChunks chunks = Encode(pixels, 2, TLzwMode::Compress, 1000);
  EXPECT_LT(chunks.TotalBytes(), 1000u);
}

TEST(LzwEncoder, LiteralModeSpendsOneCodePerPixelAtTheInitialWidth) {
  // Width 8 codes: a clear, the pixels, a clear whenever the table would
  // otherwise force a ninth bit, and the end code.
  const std::vector<uint8_t> pixels = Pixels(10000, 128, 1, 3);
  TChunks chunks = Encode(pixels, 7, TLzwMode::Literal, 100);
  const size_t codes = chunks.TotalBytes();
  EXPECT_GT(codes, pixels.size() + 2);
  EXPECT_LT(codes, pixels.size() + 2 + pixels.size() / 100);
}

TEST(LzwEncoder, ValuesAboveTheCodeSpaceCannotBreakTheStream) {
  const std::vector<uint8_t> pixels = {0, 1, 2, 3, 200, 255, 4, 5};
  TChunks chunks = Encode(pixels, 2, TLzwMode::Compress, 8);
  TLzwStatus status = TLzwStatus::Ok;
  const std::vector<uint8_t> decoded = Decode(chunks, 2, pixels.size(), 8, status);
  EXPECT_EQ(decoded, (std::vector<uint8_t>{0, 1, 2, 3, 0, 3, 0, 1}));
  EXPECT_EQ(status, TLzwStatus::End);
}

TEST(LzwEncoder, ReportsAFailedSink) {
  TLzwEncoder encoder;
  encoder.Start(9, TLzwMode::Compress, [](void*, const uint8_t*, int32_t) { return false; }, nullptr);
  const std::vector<uint8_t> pixels = Pixels(5000, 256, 1, 1);
  encoder.Write(pixels.data(), static_cast<int32_t>(pixels.size()));
  EXPECT_TRUE(encoder.Failed());
  EXPECT_FALSE(encoder.Finish());
}

// Packs codes of the given widths least significant bit first.
TChunks PackCodes(const std::vector<std::pair<int32_t, int32_t>>& codes) {
  TChunks out;
  std::vector<uint8_t> bytes;
  uint32_t bits = 0;
  int32_t count = 0;
  for (auto [code, width] : codes) {
    bits |= static_cast<uint32_t>(code) << count;
    count += width;
    while (count >= 8) {
      bytes.push_back(static_cast<uint8_t>(bits));
      bits >>= 8;
      count -= 8;
    }
  }
  if (count > 0) bytes.push_back(static_cast<uint8_t>(bits));
  out.chunks.push_back(bytes);
  return out;
}

struct TDamage {
  const char* name;
  std::vector<std::pair<int32_t, int32_t>> codes; // (code, width) with minimum code size 2
  std::vector<uint8_t> pixels;
  TLzwStatus status;
};

TEST(LzwDecoder, StopsOnDamagedStreams) {
  const std::vector<TDamage> cases = {
      // Entry 7 makes the next free code 8, so the end code is 4 bits wide.
      {"well formed: clear, 1, 6 (= 1 1), 2, end", {{4, 3}, {1, 3}, {6, 3}, {2, 3}, {5, 4}}, {1, 1, 1, 2}, TLzwStatus::End},
      {"no clear at the start", {{1, 3}, {2, 3}, {5, 3}}, {1, 2}, TLzwStatus::End},
      {"code above the next free one", {{4, 3}, {1, 3}, {7, 3}}, {1}, TLzwStatus::Corrupt},
      {"first code after clear is a table code", {{4, 3}, {6, 3}}, {}, TLzwStatus::Corrupt},
      {"no end code", {{4, 3}, {3, 3}, {3, 3}, {4, 3}, {3, 3}}, {3, 3, 3}, TLzwStatus::NoData},
  };
  for (const TDamage& c : cases) {
    TChunks chunks = PackCodes(c.codes);
    TLzwDecoder decoder;
    ASSERT_TRUE(decoder.Start(2, TChunks::Source, &chunks));
    std::vector<uint8_t> out(16);
    out.resize(decoder.Read(out.data(), 16));
    EXPECT_EQ(out, c.pixels) << c.name;
    EXPECT_EQ(decoder.Status(), c.status) << c.name;
  }
}

} // namespace
