// BMP files: a 14-byte file header ("BM", file size, two reserved words, the
// offset of the pixel data), an information header whose first 32-bit value
// is its own size, an optional colour table, then the rows, bottom row first
// unless the height is negative, each padded to a multiple of 4 bytes. 8-bit
// and 4-bit pictures may be run-length encoded (compression 1 and 2); 16- and
// 32-bit pixels are split into channels by three masks.
//
// Information headers read: 12 bytes (OS/2 1.x: 16-bit width and height, no
// compression, 3-byte colour entries) and 40 bytes (Windows 3), plus the
// longer Windows headers of 52, 56, 108 and 124 bytes that today's tools
// write. Those only add fields after the first 40 bytes (masks, colour space,
// profile), so they are read like the 40-byte header, with their masks taken
// from the header itself. OS/2 2.x headers have the Windows 3 fields in the
// same places but may stop after any of them (16 to 64 bytes, the fields
// left out being 0) and continue with fields of their own instead of masks;
// they are read like the 40-byte header as far as they go, as are other
// sizes up to 124 bytes that some writers produce.
#include "formats/bmp.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <vector>

#include "settings/profile.h"
#include "core/dither.h"
#include "core/image.h"
#include "core/progress.h"
#include "filepkg/filepkg.h"
#include "formats/run_length.h"

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kCoreHeaderSize = 12;
constexpr size_t kShortestOs2HeaderSize = 16;
constexpr size_t kInfoHeaderSize = 40;
constexpr size_t kMasksSize = 12;
constexpr size_t kLargestHeaderSize = 124;
constexpr int32_t kFileTypeBmp = 1;
constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionBitFields = 3;
// In OS/2 2.x headers compression 3 is Huffman-coded 1-bit data and 4 is
// 24-bit run-length data; this reader decodes neither.
constexpr uint32_t kFirstOs2OnlyCompression = 3;
constexpr uint32_t kPelsPerMetreScale = 10000;
// A packed bitmap handed over by the image may be larger than a file the
// reader accepts; the image stores it reduced.
constexpr int32_t kMaxPackedSide = 1 << 16;

enum class TBmpLayout { File, Packed };

// One channel of a 16- or 32-bit pixel: the masked bits moved down to bit 0,
// then widened or narrowed to 8 bits.
struct TChannel {
  uint32_t mask = 0;
  int down = 0;
  int up = 0;
  int narrow = 0;

  uint8_t Extract(uint32_t value) const {
    return static_cast<uint8_t>((((value & mask) >> down) << up) >> narrow);
  }
};

// A channel narrower than 8 bits is shifted up until its top bit reaches bit
// 7 (so 5-bit white becomes 248); a wider one keeps its top 8 bits.
TChannel MakeChannel(uint32_t mask) {
  TChannel channel;
  if (mask == 0) return channel;
  channel.mask = mask;
  channel.down = std::countr_zero(mask);
  const uint32_t shifted = mask >> channel.down;
  const int width = std::bit_width(shifted);
  if (width > 8) {
    channel.narrow = width - 8;
  } else {
    channel.up = std::countl_zero(static_cast<uint8_t>(shifted));
  }
  return channel;
}

struct TBmpInfo {
  uint32_t headerSize = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool topDown = false;
  int32_t bitCount = 0;
  uint32_t compression = kCompressionNone;
  int32_t xDpi = 1;
  int32_t yDpi = 1;
  uint32_t masks[3] = {0xFF0000, 0xFF00, 0xFF}; // red, green, blue
  TLogPalette palette;
};

bool KnownHeaderSize(uint32_t size) {
  return size == kCoreHeaderSize || (size >= kShortestOs2HeaderSize && size <= kLargestHeaderSize);
}

// The Windows headers longer than 40 bytes hold the three masks after their
// first 40 bytes; OS/2 2.x headers and the odd sizes hold no masks.
bool WindowsHeaderSize(uint32_t size) {
  return size == kInfoHeaderSize || size == 52 || size == 56 || size == 108 || size == kLargestHeaderSize;
}

bool KnownBitCount(int32_t bitCount) {
  return bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
}

int32_t DpiFromPelsPerMetre(uint32_t field) {
  const int64_t dpi = (int64_t{static_cast<int32_t>(field)} * 254 + kPelsPerMetreScale / 2) / kPelsPerMetreScale;
  return static_cast<int32_t>(std::clamp<int64_t>(dpi, 1, INT32_MAX));
}

// Reads the information header, the masks and the colour table. False when
// the header is of an unknown kind, describes no readable picture, or ends
// early.
bool ReadInfo(TPkgStream* stream, TBmpLayout layout, TBmpInfo& info) {
  uint8_t header[kLargestHeaderSize] = {};
  if (!ReadExact(stream, header, 4)) return false;
  info.headerSize = Le32(header);
  if (!KnownHeaderSize(info.headerSize) || !ReadExact(stream, header + 4, info.headerSize - 4)) return false;
  int64_t height = 0;
  if (info.headerSize == kCoreHeaderSize) {
    info.width = Le16(header + 4);
    height = Le16(header + 6);
    info.bitCount = Le16(header + 10);
  } else {
    info.width = static_cast<int32_t>(Le32(header + 4));
    height = static_cast<int32_t>(Le32(header + 8));
    info.bitCount = Le16(header + 14);
    info.compression = Le32(header + 16);
    info.xDpi = DpiFromPelsPerMetre(Le32(header + 24));
    info.yDpi = DpiFromPelsPerMetre(Le32(header + 28));
  }
  // A negative height marks a picture stored top row first.
  info.topDown = height < 0;
  height = height < 0 ? -height : height;
  const int32_t maxSide = layout == TBmpLayout::File ? kMaxImageSide : kMaxPackedSide;
  if (info.width < 1 || info.width > maxSide || height < 1 || height > maxSide) return false;
  info.height = static_cast<int32_t>(height);
  if (!KnownBitCount(info.bitCount)) return false;
  const bool windows = WindowsHeaderSize(info.headerSize);
  if (info.headerSize != kCoreHeaderSize && !windows && info.compression >= kFirstOs2OnlyCompression)
    return false;

  if (info.bitCount == 16) {
    info.masks[0] = 0x7C00;
    info.masks[1] = 0x3E0;
    info.masks[2] = 0x1F;
  }
  if (info.compression == kCompressionBitFields) {
    uint8_t masks[kMasksSize];
    if (info.headerSize > kInfoHeaderSize && windows) {
      std::memcpy(masks, header + kInfoHeaderSize, kMasksSize);
    } else if (!ReadExact(stream, masks, kMasksSize)) {
      return false;
    }
    for (int i = 0; i < 3; ++i) info.masks[i] = Le32(masks + 4 * i);
  }

  if (info.bitCount > 8) return true;
  const uint32_t most = 1u << info.bitCount;
  uint32_t entries = most;
  size_t entrySize = 3;
  if (info.headerSize != kCoreHeaderSize) {
    const uint32_t coloursUsed = Le32(header + 32);
    if (coloursUsed != 0 && coloursUsed < most) entries = coloursUsed;
    entrySize = 4;
  }
  uint8_t table[256 * 4];
  if (!ReadExact(stream, table, entries * entrySize)) return false;
  info.palette.count = static_cast<uint16_t>(entries);
  for (uint32_t i = 0; i < entries; ++i) {
    const uint8_t* entry = table + i * entrySize;
    info.palette.entries[i] = {entry[2], entry[1], entry[0], 0};
  }
  return true;
}

// File row length in bytes, padded to a multiple of 4.
size_t FileStride(const TBmpInfo& info) {
  return ((static_cast<size_t>(info.width) * info.bitCount + 31) / 32) * 4;
}

template <int kBytes>
void UnpackMasked(const uint8_t* in, uint8_t* out, int32_t width, const TChannel* channels) {
  for (int32_t x = 0; x < width; ++x, in += kBytes, out += 3) {
    const uint32_t value = kBytes == 2 ? Le16(in) : Le32(in);
    out[0] = channels[2].Extract(value);
    out[1] = channels[1].Extract(value);
    out[2] = channels[0].Extract(value);
  }
}

// Run-length decoding of 8-bit (compression 1) and 4-bit (compression 2)
// data. The position moves over the picture as the codes say: end of line
// finishes the row with zeros, end of bitmap finishes the picture with zeros,
// and a delta skips dx columns and dy whole rows, leaving zeros behind. A run
// that would pass the end of its row is cut there; the file must end each row
// with an end-of-line code, as the format requires.
class TBmpRunLength {
public:
  TBmpRunLength(TPkgStream* stream, int32_t width, bool fourBit)
      : m_stream(stream), m_width(width), m_fourBit(fourBit) {}

  // Fills row with the next file row's width pixels. False once the data has
  // ended early; the row is then complete, with zeros where data was missing.
  bool DecodeRow(uint8_t* row);
  // The end-of-bitmap code was met: every row from here on is zeros.
  bool EndOfBitmap() const { return m_endOfBitmap; }

private:
  bool Absolute(TByteReader& reader, uint8_t* row, int32_t& x, int count);

  TPkgStream* m_stream;
  int32_t m_width;
  bool m_fourBit;
  int32_t m_skipRows = 0;
  int32_t m_skipColumns = 0;
  bool m_endOfBitmap = false;
  bool m_endOfData = false;
};

bool TBmpRunLength::DecodeRow(uint8_t* row) {
  std::memset(row, 0, static_cast<size_t>(m_width));
  if (m_endOfData) return false;
  if (m_endOfBitmap) return true;
  if (m_skipRows > 0) {
    --m_skipRows;
    return true;
  }
  int32_t x = std::min(m_skipColumns, m_width);
  m_skipColumns = 0;
  TByteReader reader(m_stream);
  for (;;) {
    const int count = reader.Get();
    const int value = reader.Get();
    if (value < 0) break;
    if (count > 0) {
      const int32_t n = std::min<int32_t>(count, m_width - x);
      if (!m_fourBit) {
        std::memset(row + x, value, static_cast<size_t>(n));
      } else {
        const uint8_t pair[2] = {static_cast<uint8_t>(value >> 4), static_cast<uint8_t>(value & 15)};
        for (int32_t k = 0; k < n; ++k) row[x + k] = pair[k & 1];
      }
      x += n;
      continue;
    }
    if (value == 0) return true;  // end of line
    if (value == 1) {             // end of bitmap
      m_endOfBitmap = true;
      return true;
    }
    if (value == 2) {             // delta
      const int dx = reader.Get();
      const int dy = reader.Get();
      if (dy < 0) break;
      if (dy == 0) {
        x = std::min(x + dx, m_width);
        continue;
      }
      m_skipRows = dy - 1;
      m_skipColumns = x + dx;
      return true;
    }
    if (!Absolute(reader, row, x, value)) break;
  }
  m_endOfData = true;
  return false;
}

// An absolute run of count pixels stored literally (two to a byte for 4-bit
// data, high nibble first), padded to an even number of bytes.
bool TBmpRunLength::Absolute(TByteReader& reader, uint8_t* row, int32_t& x, int count) {
  const int bytes = m_fourBit ? (count + 1) / 2 : count;
  for (int i = 0; i < bytes; ++i) {
    const int byte = reader.Get();
    if (byte < 0) return false;
    if (!m_fourBit) {
      if (x < m_width) row[x++] = static_cast<uint8_t>(byte);
      continue;
    }
    if (x < m_width) row[x++] = static_cast<uint8_t>(byte >> 4);
    if (x < m_width && 2 * i + 1 < count) row[x++] = static_cast<uint8_t>(byte & 15);
  }
  return (bytes & 1) == 0 || reader.Get() >= 0;
}

// One uncompressed file row into width picture pixels. 8- and 24-bit rows
// are read straight into the picture; the others pass through fileRow.
// False when the data ends before the row does.
bool ReadPlainRow(TPkgStream* stream, const TBmpInfo& info, const TChannel* channels,
                  std::vector<uint8_t>& fileRow, uint8_t* row) {
  TByteReader reader(stream);
  const size_t stride = fileRow.size();
  if (info.bitCount == 8 || info.bitCount == 24) {
    const size_t pixelBytes = static_cast<size_t>(info.width) * (info.bitCount / 8);
    return reader.Read(row, pixelBytes) == pixelBytes &&
           reader.Read(fileRow.data(), stride - pixelBytes) == stride - pixelBytes;
  }
  if (reader.Read(fileRow.data(), stride) != stride) return false;
  switch (info.bitCount) {
  case 16:
    UnpackMasked<2>(fileRow.data(), row, info.width, channels);
    break;
  case 32:
    UnpackMasked<4>(fileRow.data(), row, info.width, channels);
    break;
  default:
    UnpackBits(fileRow.data(), row, info.width, info.bitCount);
    break;
  }
  return true;
}

// Decodes every row into the picture, in file order. Stops at the first row
// the data does not complete (Partial), or when the user asks to stop. The
// rows after an end-of-bitmap code are left to the picture's fill, zeros, as
// the code says: a few bytes may end a picture of gigabytes.
TReadOutcome ReadRows(TPkgStream* stream, TImage& image, const TBmpInfo& info) {
  const bool runLength = info.compression != kCompressionNone && (info.bitCount == 8 || info.bitCount == 4);
  TBmpRunLength decoder(stream, info.width, info.bitCount == 4);
  const TChannel channels[3] = {MakeChannel(info.masks[0]), MakeChannel(info.masks[1]),
                                MakeChannel(info.masks[2])};
  std::vector<uint8_t> fileRow(runLength ? 0 : FileStride(info));
  for (int32_t done = 0; done < info.height; ++done) {
    const int32_t y = info.topDown ? done : info.height - 1 - done;
    uint8_t* row = image.RowBuffer(0, y, info.width);
    if (!row) return TReadOutcome::Partial;
    if (runLength) {
      const bool complete = decoder.DecodeRow(row);
      image.PutRow(0, y, row, info.width);
      if (!complete) return TReadOutcome::Partial;
      if (decoder.EndOfBitmap()) break;
    } else {
      if (!ReadPlainRow(stream, info, channels, fileRow, row)) return TReadOutcome::Partial;
      image.PutRow(0, y, row, info.width);
    }
    if (ProgressReport(static_cast<int>((done + 1) * int64_t{100} / info.height)) != 0) return TReadOutcome::Stopped;
  }
  return TReadOutcome::Complete;
}

// Failed when the headers reject the file; the picture is then left alone.
TReadOutcome ReadBitmap(TPkgStream* stream, TImage& image, const TProfile& options, TBmpLayout layout) {
  const int64_t start = PkgTell(stream);
  uint32_t dataOffset = 0;
  if (layout == TBmpLayout::File) {
    uint8_t fileHeader[kFileHeaderSize];
    if (!ReadExact(stream, fileHeader, kFileHeaderSize)) return TReadOutcome::Failed;
    dataOffset = Le32(fileHeader + 10);
  }
  TBmpInfo info;
  if (!ReadInfo(stream, layout, info)) return TReadOutcome::Failed;

  const int32_t bytesPerPixel = info.bitCount > 8 ? 3 : 1;
  image.Create(kFileTypeBmp, info.width, info.height, info.xDpi, info.yDpi, bytesPerPixel,
               ReaderReduction(options, info.width, info.height), 0);
  image.GreyPalette();
  if (info.bitCount <= 8) image.SetPalette(info.palette);

  if (layout == TBmpLayout::File) {
    const int64_t dataStart = start + dataOffset;
    if (PkgTell(stream) < dataStart && PkgSeek(stream, dataStart, 0) != 0) return TReadOutcome::Partial;
  }
  return ReadRows(stream, image, info);
}

TProfile PackedBitmapOptions() {
  TProfile options;
  options.Set(IntKey::QuickLook, 0);
  return options;
}

// The fields of a 40-byte information header that the writers set; the
// planes are always 1, and colours used and important are both colours.
struct TInfoFields {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t bitCount = 0;
  uint32_t compression = kCompressionNone;
  uint32_t imageSize = 0;
  uint32_t xPelsPerMetre = 0;
  uint32_t yPelsPerMetre = 0;
  uint32_t colours = 0;
};

void PutInfoHeader(uint8_t* header, const TInfoFields& fields) {
  PutLe32(header, kInfoHeaderSize);
  PutLe32(header + 4, fields.width);
  PutLe32(header + 8, fields.height);
  PutLe16(header + 12, 1);
  PutLe16(header + 14, fields.bitCount);
  PutLe32(header + 16, fields.compression);
  PutLe32(header + 20, fields.imageSize);
  PutLe32(header + 24, fields.xPelsPerMetre);
  PutLe32(header + 28, fields.yPelsPerMetre);
  PutLe32(header + 32, fields.colours);
  PutLe32(header + 36, fields.colours);
}

// The field is a signed 32-bit number; a huge resolution is kept to its
// largest value instead of wrapping round.
uint32_t PelsPerMetreFromDpi(int32_t dpi) {
  const int64_t pels = (int64_t{std::max(dpi, 0)} * kPelsPerMetreScale + 127) / 254;
  return static_cast<uint32_t>(std::min<int64_t>(pels, INT32_MAX));
}

// The packed form of a bitmap: a 40-byte information header, the masks for
// bit fields, the colour table for 8 bits or fewer, then the pixels.
bool WritePackedDib(const TDib& dib, TPkgStream* stream) {
  uint8_t header[kInfoHeaderSize + kMasksSize] = {};
  PutInfoHeader(header, {.width = static_cast<uint32_t>(dib.width),
                         .height = static_cast<uint32_t>(dib.height),
                         .bitCount = static_cast<uint32_t>(dib.bitCount),
                         .compression = static_cast<uint32_t>(dib.compression),
                         .imageSize = static_cast<uint32_t>(dib.bits.size()),
                         .xPelsPerMetre = static_cast<uint32_t>(dib.xPelsPerMeter),
                         .yPelsPerMetre = static_cast<uint32_t>(dib.yPelsPerMeter),
                         .colours = static_cast<uint32_t>(dib.colourCount)});
  size_t headerBytes = kInfoHeaderSize;
  if (static_cast<uint32_t>(dib.compression) == kCompressionBitFields) {
    for (int i = 0; i < 3; ++i) PutLe32(header + kInfoHeaderSize + 4 * i, dib.masks[i]);
    headerBytes += kMasksSize;
  }
  if (PkgWrite(header, 1, headerBytes, stream) != headerBytes) return false;
  if (dib.bitCount >= 1 && dib.bitCount <= 8) {
    const uint32_t most = 1u << dib.bitCount;
    const uint32_t used = static_cast<uint32_t>(dib.colourCount);
    const size_t entries = used != 0 && used < most ? used : most;
    const size_t bytes = entries * sizeof(TRgbQuad);
    if (PkgWrite(dib.colours.data(), 1, bytes, stream) != bytes) return false;
  }
  return dib.bits.empty() || PkgWrite(dib.bits.data(), 1, dib.bits.size(), stream) == dib.bits.size();
}

// The BMP module installs the image's bitmap decoder when the program starts,
// so that adopted bitmaps of every kind the reader knows can be shown.
[[maybe_unused]] const bool g_dibDecoderInstalled = [] {
  TImage::SetDibDecoder(DecodeDib);
  return true;
}();

constexpr int32_t kTempBlockSize = 32768;
constexpr int32_t kTempBlockCount = 2;
constexpr size_t kStrideAlign = 4;

// What a BMP file is written from: the output rows of area, each
// bytesPerPixel wide, and for 8-bit rows the colour table.
struct TBmpOutput {
  TSaveSize area;
  uint32_t bytesPerPixel;
  const TLogPalette* palette; // nullptr for 24-bit rows
};

// Produces output row r (0 = top) of the area, in buffer, which holds the
// row's pixels, or elsewhere; returns where.
using TBmpRowSource = std::function<const uint8_t*(int32_t row, uint8_t* buffer)>;

// The file header, the information header, the colour table and the rows,
// bottom row first, each padded to 4 bytes. Both writers end here. A picture
// whose file would pass the 4 GiB that the headers' 32-bit sizes can tell
// is not written.
int WriteBmpFile(const char* path, const TImage& image, const TBmpOutput& output, const TBmpRowSource& fetchRow) {
  const TSaveSize& area = output.area;
  if (area.width <= 0 || area.height <= 0) return kSaveFailed;
  const uint32_t bytesPerPixel = output.bytesPerPixel;
  const uint32_t entries = output.palette ? output.palette->count : 0;
  const uint32_t stride = (static_cast<uint32_t>(area.width) * bytesPerPixel + kStrideAlign - 1) & ~uint32_t{kStrideAlign - 1};
  const uint32_t dataOffset = kFileHeaderSize + kInfoHeaderSize + 4 * entries;
  const uint64_t wholeImageSize = uint64_t{stride} * static_cast<uint32_t>(area.height);
  if (wholeImageSize > UINT32_MAX - dataOffset) return kSaveFailed;
  const auto imageSize = static_cast<uint32_t>(wholeImageSize);

  TCodecOutput out(path);
  if (!out.IsOpen()) return kSaveFailed;
  uint8_t header[kFileHeaderSize + kInfoHeaderSize] = {'B', 'M'};
  PutLe32(header + 2, dataOffset + imageSize);
  PutLe32(header + 10, dataOffset);
  PutInfoHeader(header + kFileHeaderSize, {.width = static_cast<uint32_t>(area.width),
                                            .height = static_cast<uint32_t>(area.height),
                                            .bitCount = bytesPerPixel * 8,
                                            .imageSize = imageSize,
                                            .xPelsPerMetre = PelsPerMetreFromDpi(image.EffectiveXDpi()),
                                            .yPelsPerMetre = PelsPerMetreFromDpi(image.EffectiveYDpi()),
                                            .colours = entries});
  out.Write(header, sizeof header);
  for (uint32_t i = 0; i < entries; ++i) {
    const TPaletteEntry& e = output.palette->entries[i];
    const uint8_t quad[4] = {e.blue, e.green, e.red, 0};
    out.Write(quad, 4);
  }

  // Rows go bottom row first, fetched straight into the output buffer with
  // the padding bytes cleared; a row produced elsewhere is copied there
  // whole.
  const size_t rowBytes = static_cast<size_t>(area.width) * bytesPerPixel;
  for (int32_t done = 0; done < area.height; ++done) {
    uint8_t* row = out.Reserve(stride);
    std::memset(row + stride - kStrideAlign, 0, kStrideAlign);
    const uint8_t* pixels = fetchRow(area.height - 1 - done, row);
    if (pixels != row) std::memcpy(row, pixels, rowBytes);
    out.Commit(stride);
    if (ProgressReport(static_cast<int>((done + 1) * int64_t{100} / area.height)) != 0) return out.Finish(true);
  }
  return out.Finish(false);
}

// The entry of a palette closest to black.
uint8_t NearestToBlack(const TLogPalette& palette) {
  uint8_t nearest = 0;
  int best = INT32_MAX;
  for (int i = 0; i < std::min<int>(palette.count, 256); ++i) {
    const TPaletteEntry& e = palette.entries[i];
    const int distance = e.red * e.red + e.green * e.green + e.blue * e.blue;
    if (distance < best) {
      best = distance;
      nearest = static_cast<uint8_t>(i);
    }
  }
  return nearest;
}

} // namespace

TReadOutcome ReadBmp(TPkgStream* stream, TImage& image, const TProfile& options) {
  return ReadBitmap(stream, image, options, TBmpLayout::File);
}

TReadOutcome ReadPackedBmp(TPkgStream* stream, TImage& image, const TProfile& options) {
  return ReadBitmap(stream, image, options, TBmpLayout::Packed);
}

bool DecodeDib(const TDib& dib, TImage& image) {
  image.Create(kFileTypeBmp, 1, 1, 1, 1, 1, 1, 0);
  TPkgStream* stream = PkgTempStream(kTempBlockSize, kTempBlockCount);
  if (!stream) return false;
  const bool decoded = WritePackedDib(dib, stream) && PkgSeek(stream, 0, 0) == 0 &&
                       ReadBitmap(stream, image, PackedBitmapOptions(), TBmpLayout::Packed) != TReadOutcome::Failed;
  PkgClose(stream, 0);
  return decoded;
}

int WriteBmp(const char* path, TImage& image, const TProfile& options, TDither* ditherer) {
  const TSaveSize area = PrepareSaveOutput(image, options);
  const uint32_t bytesPerPixel = image.BytesPerPixel() == 3 ? 3 : 1;
  TLogPalette palette;
  if (bytesPerPixel == 1) WriterPalette(image, ditherer, palette);
  return WriteBmpFile(path, image, {area, bytesPerPixel, bytesPerPixel == 1 ? &palette : nullptr},
                      [&](int32_t row, uint8_t* buffer) { return FetchOutputRow(image, area, row, buffer, ditherer); });
}

int WriteBmpForDevice(const char* path, TImage& image, TDither* ditherer, const TBmpDevice& device) {
  if (device.width <= 0 || device.height <= 0 || device.width > kMaxImageSide || device.height > kMaxImageSide)
    return kSaveFailed;
  // The cropped view in its present orientation, fitted into the screen and
  // centred there.
  image.SetOutputGeometry(device.width, device.height, 1, 1, image.m_orientation, true, true);
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  image.OutputRect(left, top, right, bottom);
  const int32_t placedWidth = right - left;
  const bool indexed = device.bitCount <= 8 && device.palette != nullptr;
  const uint32_t bytesPerPixel = indexed ? 1 : 3;
  const int32_t sourceBytes = image.BytesPerPixel();

  // Without a ditherer of the caller's, one is prepared from the picture's
  // palette with neutral tone, as writers prepare theirs.
  TDither ownDitherer;
  TDither& rows = ditherer ? *ditherer : ownDitherer;
  if (!ditherer) {
    TLogPalette source;
    image.GetPalette(source);
    rows.SetSourcePalette(sourceBytes == 1 ? &source : nullptr, TDitherTarget::Display, TColourMode::Colour,
                          TToneSettings{});
  }
  if (indexed) rows.StartDithering(*device.palette);
  // The screen around the picture is black, whatever colour the picture's
  // pixel 0 has.
  const uint8_t margin = indexed ? NearestToBlack(*device.palette) : 0;
  // Room for the placed part of a row before conversion: a 24-bit picture's
  // three bytes per pixel, or the three bytes an index becomes.
  std::vector<uint8_t> scratch(static_cast<size_t>(placedWidth) * 3);
  const TBmpOutput output{{0, 0, device.width, device.height}, bytesPerPixel, indexed ? device.palette : nullptr};
  return WriteBmpFile(path, image, output, [&](int32_t row, uint8_t* buffer) {
    std::memset(buffer, margin, static_cast<size_t>(device.width) * bytesPerPixel);
    if (row < top || row >= bottom) return buffer;
    image.OutputRow(left, row, scratch.data(), placedWidth);
    if (indexed)
      rows.DitherRow(scratch.data(), placedWidth, sourceBytes);
    else
      rows.ConvertRow(scratch.data(), placedWidth, 3, sourceBytes);
    std::memcpy(buffer + static_cast<size_t>(left) * bytesPerPixel, scratch.data(),
                static_cast<size_t>(placedWidth) * bytesPerPixel);
    return buffer;
  });
}
