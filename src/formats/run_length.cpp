#include "formats/run_length.h"

#include <algorithm>
#include <cstring>

#include "settings/profile.h"
#include "core/dither.h"
#include "core/image.h"
#include "filepkg/filepkg.h"

namespace {
// Large enough that a picture goes out in few writes to the package.
constexpr size_t kOutputBufferSize = 1 << 20;
constexpr size_t kPcxLongestRun = 63;
constexpr size_t kTgaLongestPacket = 128;
constexpr int32_t kQuickLookSide = 128;
} // namespace

TByteReader::TByteReader(TPkgStream* stream) : m_stream(stream) { Load(); }

void TByteReader::Load() {
  m_start = m_next = m_stream->windowPtr;
  m_left = m_stream->windowCount;
}

void TByteReader::Sync() {
  const int32_t consumed = static_cast<int32_t>(m_next - m_start);
  m_stream->windowPtr = const_cast<uint8_t*>(m_next);
  m_stream->windowCount = m_left;
  m_stream->position += consumed;
  m_start = m_next;
}

// Maps the next block of the stream and hands it to the window unconsumed,
// so that the stream's position stays exact.
bool TByteReader::Fetch() {
  Sync();
  uint8_t* data = nullptr;
  const int32_t block = static_cast<int32_t>(std::clamp<uint32_t>(m_stream->info.blockSize, 1, INT32_MAX));
  const int32_t got = PkgMapRead(&data, block, m_stream);
  if (got > 0 && data) {
    m_stream->position -= got;
    m_stream->windowPtr = data;
    m_stream->windowCount = got;
  }
  Load();
  return m_left > 0;
}

size_t TByteReader::Read(uint8_t* out, size_t count) {
  size_t done = 0;
  while (done < count) {
    int32_t available = 0;
    const uint8_t* bytes = Window(available);
    if (available == 0) break;
    const size_t part = std::min(count - done, static_cast<size_t>(available));
    std::memcpy(out + done, bytes, part);
    Skip(static_cast<int32_t>(part));
    done += part;
  }
  return done;
}

bool ReadExact(TPkgStream* stream, uint8_t* buffer, size_t count) {
  return PkgRead(buffer, 1, count, stream) == count;
}

bool StreamCanHold(TPkgStream* stream, uint64_t pictureBytes, uint64_t maxExpansion) {
  PkgFill(stream, INT64_MAX);
  const auto left = static_cast<uint64_t>(std::max<int64_t>(stream->size - PkgTell(stream), 0));
  return pictureBytes / maxExpansion <= left;
}

void UnpackBits(const uint8_t* in, uint8_t* out, int32_t width, int bitCount) {
  const int perByte = 8 / bitCount;
  const int mask = (1 << bitCount) - 1;
  for (int32_t x = 0; x < width; ++x) {
    const int shift = 8 - bitCount * (x % perByte + 1);
    out[x] = static_cast<uint8_t>((in[x / perByte] >> shift) & mask);
  }
}

int32_t ReaderReduction(const TProfile& options, int32_t width, int32_t height) {
  if (!options.Get(IntKey::QuickLook)) return 1;
  return std::max(std::max(width, height) / kQuickLookSide, 1);
}

void WriterPalette(const TImage& image, const TDither* ditherer, TLogPalette& palette) {
  // Only a ditherer prepared from the picture's palette knows its colours
  // (after tone); otherwise the picture's own palette is written.
  if (ditherer && ditherer->HasIndexedSource())
    ditherer->GetSourcePalette(palette);
  else
    image.GetPalette(palette);
  palette.count = std::min<uint16_t>(palette.count, 256);
}

const uint8_t* FetchOutputRow(const TImage& image, const TSaveSize& area, int32_t row, uint8_t* buffer,
                              const TDither* ditherer) {
  const int32_t bytesPerPixel = image.BytesPerPixel();
  if (!ditherer || ditherer->KeepsRows(bytesPerPixel))
    return image.OutputRowView(area.left, area.top + row, buffer, area.width);
  image.OutputRow(area.left, area.top + row, buffer, area.width);
  ditherer->ConvertRow(buffer, area.width, bytesPerPixel, bytesPerPixel);
  return buffer;
}

TCodecOutput::TCodecOutput(const char* path) : m_stream(PkgOpen(path, "wb")), m_buffer(kOutputBufferSize) {}

TCodecOutput::~TCodecOutput() {
  if (m_stream) Finish(true);
}

void TCodecOutput::Flush() {
  if (m_fill == 0) return;
  if (!m_failed && m_stream && PkgWrite(m_buffer.data(), 1, m_fill, m_stream) != m_fill) m_failed = true;
  m_fill = 0;
}

void TCodecOutput::Write(const uint8_t* data, size_t count) {
  while (count > 0) {
    if (m_fill == m_buffer.size()) Flush();
    const size_t part = std::min(count, m_buffer.size() - m_fill);
    std::memcpy(m_buffer.data() + m_fill, data, part);
    m_fill += part;
    data += part;
    count -= part;
  }
}

uint8_t* TCodecOutput::Reserve(size_t count) {
  if (m_buffer.size() - m_fill < count) {
    Flush();
    if (m_buffer.size() < count) m_buffer.resize(count);
  }
  return m_buffer.data() + m_fill;
}

int TCodecOutput::Finish(bool stopped) {
  if (!m_stream) return kSaveFailed;
  Flush();
  const bool keep = !m_failed && !stopped;
  const int closeResult = PkgClose(m_stream, keep ? kPkgKeep : kPkgAbandon);
  m_stream = nullptr;
  if (stopped) return kSaveStopped;
  return keep && closeResult == 0 ? kSaveWritten : kSaveFailed;
}

size_t PcxEncodePlane(const uint8_t* bytes, size_t count, uint8_t* out) {
  uint8_t* const start = out;
  size_t i = 0;
  while (i < count) {
    const uint8_t value = bytes[i];
    size_t run = 1;
    while (i + run < count && run < kPcxLongestRun && bytes[i + run] == value) ++run;
    if (run > 1 || value >= 0xC0) *out++ = static_cast<uint8_t>(0xC0 | run);
    *out++ = value;
    i += run;
  }
  return static_cast<size_t>(out - start);
}

size_t TgaEncodeRow(const uint8_t* pixels, size_t count, size_t pixelBytes, uint8_t* out) {
  uint8_t* const start = out;
  auto same = [&](size_t a, size_t b) {
    return std::memcmp(pixels + a * pixelBytes, pixels + b * pixelBytes, pixelBytes) == 0;
  };
  size_t i = 0;
  while (i < count) {
    size_t run = 1;
    while (i + run < count && run < kTgaLongestPacket && same(i, i + run)) ++run;
    if (run > 1) {
      *out++ = static_cast<uint8_t>(0x80 | (run - 1));
      std::memcpy(out, pixels + i * pixelBytes, pixelBytes);
      out += pixelBytes;
      i += run;
      continue;
    }
    // A literal packet ends where two equal pixels start a run.
    size_t literal = 1;
    while (i + literal < count && literal < kTgaLongestPacket &&
           !(i + literal + 1 < count && same(i + literal, i + literal + 1)))
      ++literal;
    *out++ = static_cast<uint8_t>(literal - 1);
    std::memcpy(out, pixels + i * pixelBytes, literal * pixelBytes);
    out += literal * pixelBytes;
    i += literal;
  }
  return static_cast<size_t>(out - start);
}
