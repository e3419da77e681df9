// TGA files: an 18-byte header, the identification field, the colour map,
// then the pixels, uncompressed (image types 1, 2, 3) or run-length coded
// (9, 10, 11).
//
// Header: identification length (0), colour-map type (1), image type (2),
// colour-map first entry and length (16-bit at 3 and 5), colour-map entry
// size in bits (7), x and y origin (8, 10), width and height (12, 14), pixel
// depth (16) and descriptor (17): bit 5 set means the top row comes first,
// bits 7-6 select rows interleaved by two (01) or four (10).
//
// Run-length packets start with a byte holding count - 1 in its low 7 bits;
// with the top bit set one pixel follows and repeats, otherwise count literal
// pixels follow. Packets may run on into the next row, so the decoder keeps
// its state for the whole picture.
#include "formats/tga.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "core/image.h"
#include "core/progress.h"
#include "filepkg/filepkg.h"
#include "formats/comment_sink.h"
#include "formats/run_length.h"

namespace {

constexpr size_t kHeaderSize = 18;
constexpr int32_t kFileTypeTga = 3;
constexpr int32_t kMaxColourMapEntries = 8192;
constexpr int kMissingByte = 0xFF;
constexpr size_t kMaxPixelBytes = 4;
// A run packet codes at most 128 pixels in one byte and a pixel; a header
// declaring more pixels than its data could hold that way is refused, since
// missing data would be made up as bytes FF hex.
constexpr uint64_t kMaxRunExpansion = 128;

struct TTgaHeader {
  int idLength = 0;
  int colourMapType = 0;
  int imageType = 0;
  int32_t mapFirst = 0;
  int32_t mapLength = 0;
  int mapEntryBits = 0;
  int32_t width = 0;
  int32_t height = 0;
  int depth = 0;
  int descriptor = 0;

  bool RunLength() const { return imageType >= 9; }
  bool ColourMapped() const { return imageType == 1 || imageType == 9; }
  size_t PixelBytes() const { return static_cast<size_t>(depth + 7) / 8; }
};

bool KnownImageType(int type) {
  return type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11;
}

bool KnownDepth(int bits) { return bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32; }

bool ReadHeader(TPkgStream* stream, TTgaHeader& header) {
  uint8_t bytes[kHeaderSize];
  if (!ReadExact(stream, bytes, kHeaderSize)) return false;
  header.idLength = bytes[0];
  header.colourMapType = bytes[1];
  header.imageType = bytes[2];
  header.mapFirst = Le16(bytes + 3);
  header.mapLength = Le16(bytes + 5);
  header.mapEntryBits = bytes[7];
  header.width = Le16(bytes + 12);
  header.height = Le16(bytes + 14);
  header.depth = bytes[16];
  header.descriptor = bytes[17];
  if (header.colourMapType > 1 || !KnownImageType(header.imageType)) return false;
  if (header.colourMapType == 1 &&
      (header.mapFirst + header.mapLength > kMaxColourMapEntries || !KnownDepth(header.mapEntryBits)))
    return false;
  return header.width >= 1 && header.width <= kMaxImageSide && header.height >= 1 &&
         header.height <= kMaxImageSide && KnownDepth(header.depth);
}

// Three colour tables, blue, green, red, indexed by colour-map position; the
// positions the file's map does not fill keep the identity ramp.
struct TColourTables {
  std::array<std::array<uint8_t, kMaxColourMapEntries>, 3> channel;

  TColourTables() {
    for (auto& table : channel) {
      for (int32_t i = 0; i < kMaxColourMapEntries; ++i) table[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    }
  }
  void Set(size_t index, const uint8_t* bgr) {
    for (int c = 0; c < 3; ++c) channel[c][index] = bgr[c];
  }
  void Lookup(size_t index, uint8_t* bgr) const {
    for (int c = 0; c < 3; ++c) bgr[c] = index < kMaxColourMapEntries ? channel[c][index] : 0;
  }
};

// One encoded pixel of 1 to 4 bytes as blue, green, red, before any colour
// map: one byte is grey, two bytes hold 5 bits per channel (the top bit is
// ignored), three or four bytes are blue, green, red and maybe alpha.
void DecodeDirect(const uint8_t* in, size_t pixelBytes, uint8_t* bgr) {
  if (pixelBytes == 1) {
    bgr[0] = bgr[1] = bgr[2] = in[0];
  } else if (pixelBytes == 2) {
    bgr[0] = static_cast<uint8_t>((in[0] & 0x1F) << 3);
    bgr[1] = static_cast<uint8_t>((((in[1] & 3) << 3) | (in[0] >> 5)) << 3);
    bgr[2] = static_cast<uint8_t>(((in[1] >> 2) & 0x1F) << 3);
  } else {
    std::memcpy(bgr, in, 3);
  }
}

// Reads one pixel of the given size; missing bytes read as FF hex.
void ReadPixel(TPkgStream* stream, uint8_t* out, size_t pixelBytes) {
  for (size_t b = 0; b < pixelBytes; ++b) {
    const int byte = PkgGetByte(stream);
    out[b] = static_cast<uint8_t>(byte < 0 ? kMissingByte : byte);
  }
}

void ReadColourMap(TPkgStream* stream, const TTgaHeader& header, TColourTables& tables) {
  const size_t entryBytes = static_cast<size_t>(header.mapEntryBits + 7) / 8;
  for (int32_t i = 0; i < header.mapLength; ++i) {
    uint8_t entry[kMaxPixelBytes];
    uint8_t bgr[3];
    ReadPixel(stream, entry, entryBytes);
    DecodeDirect(entry, entryBytes, bgr);
    tables.Set(static_cast<size_t>(header.mapFirst + i), bgr);
  }
}

// Delivers the file's rows as raw pixel bytes, uncompressed or from run-length
// packets. Data missing at the end of the file reads as bytes FF hex.
class TTgaPixelReader {
public:
  TTgaPixelReader(TPkgStream* stream, const TTgaHeader& header)
      : m_stream(stream), m_pixelBytes(header.PixelBytes()), m_runLength(header.RunLength()) {}

  void ReadRow(uint8_t* raw, int32_t width);
  // True once bytes were missing.
  bool DataEnded() const { return m_dataEnded; }

private:
  TPkgStream* m_stream;
  size_t m_pixelBytes;
  bool m_runLength;
  int m_runLeft = 0;
  int m_literalLeft = 0;
  uint8_t m_runPixel[kMaxPixelBytes] = {};
  bool m_dataEnded = false;
};

void TTgaPixelReader::ReadRow(uint8_t* raw, int32_t width) {
  const size_t pixelBytes = m_pixelBytes;
  if (!m_runLength) {
    const size_t bytes = static_cast<size_t>(width) * pixelBytes;
    const size_t got = PkgRead(raw, 1, bytes, m_stream);
    std::memset(raw + got, kMissingByte, bytes - got);
    m_dataEnded = m_dataEnded || got < bytes;
    return;
  }
  TByteReader reader(m_stream);
  // Bytes the data no longer holds read as FF hex.
  const auto readBytes = [this, &reader](uint8_t* out, size_t count) {
    const size_t got = reader.Read(out, count);
    std::memset(out + got, kMissingByte, count - got);
    m_dataEnded = m_dataEnded || got < count;
  };
  int32_t x = 0;
  while (x < width) {
    if (m_runLeft > 0) {
      const int n = std::min(m_runLeft, width - x);
      for (int k = 0; k < n; ++k, ++x) std::memcpy(raw + x * pixelBytes, m_runPixel, pixelBytes);
      m_runLeft -= n;
    } else if (m_literalLeft > 0) {
      const int n = std::min(m_literalLeft, width - x);
      readBytes(raw + x * pixelBytes, n * pixelBytes);
      x += n;
      m_literalLeft -= n;
    } else {
      const int byte = reader.Get();
      m_dataEnded = m_dataEnded || byte < 0;
      const int packet = byte < 0 ? kMissingByte : byte;
      const int count = (packet & 0x7F) + 1;
      if (packet & 0x80) {
        readBytes(m_runPixel, pixelBytes);
        m_runLeft = count;
      } else {
        m_literalLeft = count;
      }
    }
  }
}

// Turns raw file pixels into picture pixels: indices stay as they are; other
// pixels become blue, green, red, through the colour map for colour-mapped
// image types.
void ConvertRow(const uint8_t* raw, uint8_t* row, int32_t width, const TTgaHeader& header,
                const TColourTables& tables) {
  const size_t pixelBytes = header.PixelBytes();
  if (pixelBytes == 1) {
    std::memcpy(row, raw, static_cast<size_t>(width));
    return;
  }
  const bool mapped = header.ColourMapped();
  for (int32_t x = 0; x < width; ++x, raw += pixelBytes, row += 3) {
    if (pixelBytes == 2 && mapped) {
      tables.Lookup(Le16(raw), row);
      continue;
    }
    DecodeDirect(raw, pixelBytes, row);
    if (mapped) {
      for (int c = 0; c < 3; ++c) row[c] = tables.channel[c][row[c]];
    }
  }
}

// The order in which file rows fill the picture: passes of every row, every
// second or every fourth row, each pass starting one row below the one
// before; then turned upside down unless the top row comes first.
class TTgaRowOrder {
public:
  explicit TTgaRowOrder(const TTgaHeader& header)
      : m_height(header.height), m_topFirst((header.descriptor & 0x20) != 0),
        m_step((header.descriptor & 0xC0) == 0x80 ? 4 : (header.descriptor & 0xC0) == 0x40 ? 2 : 1) {}

  int32_t Next() {
    const int32_t row = m_next;
    m_next += m_step;
    if (m_next >= m_height) m_next = ++m_passStart;
    return m_topFirst ? row : m_height - 1 - row;
  }

private:
  int32_t m_height;
  bool m_topFirst;
  int32_t m_step;
  int32_t m_next = 0;
  int32_t m_passStart = 0;
};

// Rows past the end of the data are made of bytes FF hex, and the picture
// then counts as read in part.
TReadOutcome ReadRows(TPkgStream* stream, TImage& image, const TTgaHeader& header, const TColourTables& tables) {
  TTgaPixelReader reader(stream, header);
  TTgaRowOrder order(header);
  std::vector<uint8_t> raw(static_cast<size_t>(header.width) * header.PixelBytes());
  for (int32_t done = 0; done < header.height; ++done) {
    const int32_t y = order.Next();
    uint8_t* row = image.RowBuffer(0, y, header.width);
    if (!row) return TReadOutcome::Partial;
    reader.ReadRow(raw.data(), header.width);
    ConvertRow(raw.data(), row, header.width, header, tables);
    image.PutRow(0, y, row, header.width);
    if (ProgressReport(static_cast<int>((done + 1) * int64_t{100} / header.height)) != 0) return TReadOutcome::Stopped;
  }
  return reader.DataEnded() ? TReadOutcome::Partial : TReadOutcome::Complete;
}

constexpr uint8_t kTopLeftOrigin = 0x20;

} // namespace

TReadOutcome ReadTga(TPkgStream* stream, TImage& image, const TProfile& options) {
  TTgaHeader header;
  if (!ReadHeader(stream, header)) return TReadOutcome::Failed;
  for (int i = 0; i < header.idLength; ++i) {
    const int c = PkgGetByte(stream);
    if (c > 0) CommentChar(c);
  }
  auto tables = std::make_unique<TColourTables>();
  if (header.colourMapType == 1) ReadColourMap(stream, header, *tables);
  const uint64_t pictureBytes = uint64_t{static_cast<uint32_t>(header.width)} *
                                static_cast<uint32_t>(header.height) * header.PixelBytes();
  if (!StreamCanHold(stream, pictureBytes, kMaxRunExpansion)) return TReadOutcome::Failed;

  const bool indexed = header.depth == 8;
  image.Create(kFileTypeTga, header.width, header.height, 1, 1, indexed ? 1 : 3,
               ReaderReduction(options, header.width, header.height), 0);
  image.GreyPalette();
  if (indexed) {
    TLogPalette palette;
    palette.count = 256;
    for (size_t i = 0; i < 256; ++i) {
      palette.entries[i] = {tables->channel[2][i], tables->channel[1][i], tables->channel[0][i], 0};
    }
    image.SetPalette(palette);
  }
  // A map cut short leaves no data for the rows, which then count as short.
  return ReadRows(stream, image, header, *tables);
}

int WriteTga(const char* path, TImage& image, const TProfile& options, TDither* ditherer) {
  const TSaveSize area = PrepareSaveOutput(image, options);
  if ((area.width & 0xFFFF) == 0 || (area.height & 0xFFFF) == 0) return 1;
  const bool indexed = image.BytesPerPixel() != 3;
  const size_t pixelBytes = indexed ? 1 : 3;
  TLogPalette palette;
  if (indexed) WriterPalette(image, ditherer, palette);

  TCodecOutput out(path);
  if (!out.IsOpen()) return 1;
  uint8_t header[kHeaderSize] = {};
  header[1] = indexed ? 1 : 0;
  header[2] = indexed ? 9 : 10;
  PutLe16(header + 5, indexed ? 256 : 0);
  header[7] = indexed ? 24 : 0;
  PutLe16(header + 12, static_cast<uint32_t>(area.width));
  PutLe16(header + 14, static_cast<uint32_t>(area.height));
  header[16] = indexed ? 8 : 24;
  header[17] = kTopLeftOrigin;
  out.Write(header, kHeaderSize);
  if (indexed) {
    // The colour map: the picture's entries, then a grey ramp.
    for (int i = 0; i < 256; ++i) {
      const uint8_t grey = static_cast<uint8_t>(i);
      const TPaletteEntry e = i < palette.count ? palette.entries[i] : TPaletteEntry{grey, grey, grey, 0};
      const uint8_t bgr[3] = {e.blue, e.green, e.red};
      out.Write(bgr, 3);
    }
  }

  const size_t width = static_cast<size_t>(area.width);
  std::vector<uint8_t> row(width * pixelBytes);
  for (int32_t y = 0; y < area.height; ++y) {
    const uint8_t* pixels = FetchOutputRow(image, area, y, row.data(), ditherer);
    out.Commit(TgaEncodeRow(pixels, width, pixelBytes, out.Reserve(width * (pixelBytes + 1))));
    if (ProgressReport(static_cast<int>((y + 1) * int64_t{100} / area.height)) != 0) return out.Finish(true);
  }
  return out.Finish(false);
}
