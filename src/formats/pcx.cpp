// PCX files: a 128-byte header, then every row as one run-length coded
// sequence per colour plane, optionally followed by a 256-entry palette (a
// byte 0C hex and 768 bytes of red, green, blue) at the very end of the file.
//
// Header: manufacturer (0), version (1), encoding (2), bits per pixel per
// plane (3), x min, y min, x max, y max (16-bit at 4, 6, 8, 10), horizontal
// and vertical dpi (12, 14), a 16-entry palette of red, green, blue (16-63),
// reserved (64), planes (65), bytes per line per plane (66), palette
// information (68), screen width and height (70, 72), zeros.
//
// Run-length coding: a byte whose top two bits are set carries a count in its
// low six bits, and the next byte is repeated that many times; any other byte
// stands for itself. Readers keep one state for the whole picture because
// some writers let runs cross plane and row boundaries.
#include "formats/pcx.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/image.h"
#include "core/progress.h"
#include "filepkg/filepkg.h"
#include "formats/run_length.h"

namespace {

constexpr size_t kHeaderSize = 128;
constexpr size_t kPaletteTrailerSize = 769;
constexpr uint8_t kPaletteMarker = 0x0C;
constexpr int32_t kFileTypePcx = 2;
constexpr int kMaxIndexPlanes = 8;
// A run codes at most 63 bytes in two; a header declaring more lines than
// its data could hold that way is refused, since missing data would be made
// up as zeros.
constexpr uint64_t kMaxRunExpansion = 32;

// The 16 colours of a PCX file that brings no usable palette of its own.
constexpr uint8_t kDefaultPalette[16][3] = {
    {0, 0, 0},      {255, 0, 0},    {0, 255, 0},    {255, 255, 0},   {0, 0, 255},    {255, 0, 255},
    {0, 255, 255},  {255, 255, 255}, {255, 85, 85}, {85, 85, 85},    {0, 170, 0},    {0, 0, 170},
    {255, 255, 85}, {255, 85, 255}, {85, 255, 255}, {255, 255, 255}};

struct TPcxHeader {
  int version = 0;
  int bitsPerPlane = 0;
  int planes = 0;
  int32_t bytesPerLine = 0;
  int32_t width = 0;
  int32_t height = 0;
  int32_t xDpi = 0;
  int32_t yDpi = 0;
  uint8_t palette[48] = {};
};

// The layouts the reader knows: one plane of 1, 2, 4 or 8 bits; up to eight
// one-bit planes, each giving one bit of the index; and three or more 8-bit
// planes, red, green and blue, any further plane being skipped.
bool KnownLayout(const TPcxHeader& header) {
  const int bits = header.bitsPerPlane;
  if (bits != 1 && bits != 2 && bits != 4 && bits != 8) return false;
  if (header.planes == 1) return true;
  if (bits == 1) return header.planes >= 2 && header.planes <= kMaxIndexPlanes;
  return bits == 8 && header.planes >= 3;
}

bool ReadHeader(TPkgStream* stream, TPcxHeader& header) {
  uint8_t bytes[kHeaderSize];
  if (!ReadExact(stream, bytes, kHeaderSize)) return false;
  header.version = bytes[1];
  header.bitsPerPlane = bytes[3];
  header.width = int32_t{Le16(bytes + 8)} - Le16(bytes + 4) + 1;
  header.height = int32_t{Le16(bytes + 10)} - Le16(bytes + 6) + 1;
  header.xDpi = Le16(bytes + 12);
  header.yDpi = Le16(bytes + 14);
  std::memcpy(header.palette, bytes + 16, sizeof header.palette);
  header.planes = bytes[65];
  header.bytesPerLine = Le16(bytes + 66);
  return header.width >= 1 && header.width <= kMaxImageSide && header.height >= 1 &&
         header.height <= kMaxImageSide && header.bytesPerLine >= 1 && KnownLayout(header);
}

// The bytes of one plane's line as the reader holds it: the header's line
// length, or what the width needs when that is more (a line shorter than
// the width needs leaves the rest of the row zero).
uint32_t LineBytes(const TPcxHeader& header) {
  const uint32_t needed = (static_cast<uint32_t>(header.width) * header.bitsPerPlane + 7) / 8;
  return std::max(static_cast<uint32_t>(header.bytesPerLine), needed);
}

// The run-length decoder, one state for the whole picture. Data missing at
// the end of the file decodes as zeros.
class TPcxDecoder {
public:
  explicit TPcxDecoder(TPkgStream* stream) : m_stream(stream) {}

  void Decode(uint8_t* out, size_t count);
  // True once the data has ended before the picture did.
  bool DataEnded() const { return m_atEnd; }

private:
  TPkgStream* m_stream;
  size_t m_runLeft = 0;
  uint8_t m_runValue = 0;
  bool m_atEnd = false;
};

void TPcxDecoder::Decode(uint8_t* out, size_t count) {
  TByteReader reader(m_stream);
  size_t i = 0;
  while (i < count) {
    if (m_runLeft > 0) {
      const size_t n = std::min(m_runLeft, count - i);
      std::memset(out + i, m_runValue, n);
      m_runLeft -= n;
      i += n;
      continue;
    }
    int32_t available = 0;
    const uint8_t* const bytes = m_atEnd ? nullptr : reader.Window(available);
    if (available == 0) {
      m_atEnd = true;
      std::memset(out + i, 0, count - i);
      return;
    }
    // Decode from the window as far as it and the output reach. A run longer
    // than the output needs is finished by the next call.
    const uint8_t* p = bytes;
    const uint8_t* const end = bytes + available;
    while (i < count && p < end) {
      const uint8_t code = *p;
      if (code < 0xC0) {
        out[i++] = code;
        ++p;
        continue;
      }
      if (p + 1 == end) break;
      const size_t length = code & 0x3F;
      const size_t n = std::min(length, count - i);
      std::memset(out + i, p[1], n);
      m_runLeft = length - n;
      m_runValue = p[1];
      i += n;
      p += 2;
    }
    reader.Skip(static_cast<int32_t>(p - bytes));
    if (i < count && p + 1 == end && *p >= 0xC0) {
      // A run code whose value lies beyond the window.
      m_runLeft = *p & 0x3F;
      reader.Skip(1);
      const int value = reader.Get();
      m_atEnd = value < 0;
      m_runValue = static_cast<uint8_t>(std::max(value, 0));
    }
  }
}

// Decodes all rows, top to bottom, until the picture is complete or the user
// asks to stop. Rows past the end of the data are decoded as zeros, and the
// picture then counts as read in part.
TReadOutcome ReadRows(TPkgStream* stream, TImage& image, const TPcxHeader& header) {
  TPcxDecoder decoder(stream);
  const int32_t width = header.width;
  const size_t lineBytes = static_cast<size_t>(header.bytesPerLine);
  std::vector<uint8_t> plane(LineBytes(header), 0);
  for (int32_t y = 0; y < header.height; ++y) {
    uint8_t* row = image.RowBuffer(0, y, width);
    if (!row) return TReadOutcome::Partial;
    if (header.planes == 1) {
      decoder.Decode(plane.data(), lineBytes);
      if (header.bitsPerPlane == 8) {
        std::memcpy(row, plane.data(), static_cast<size_t>(width));
      } else {
        UnpackBits(plane.data(), row, width, header.bitsPerPlane);
      }
    } else if (header.bitsPerPlane == 8) {
      for (int p = 0; p < header.planes; ++p) {
        decoder.Decode(plane.data(), lineBytes);
        if (p > 2) continue;
        uint8_t* channel = row + (2 - p); // red, green, blue planes into blue, green, red pixels
        for (int32_t x = 0; x < width; ++x) channel[3 * x] = plane[static_cast<size_t>(x)];
      }
    } else {
      std::memset(row, 0, static_cast<size_t>(width));
      for (int p = 0; p < header.planes; ++p) {
        decoder.Decode(plane.data(), lineBytes);
        for (int32_t x = 0; x < width; ++x) {
          row[x] |= static_cast<uint8_t>(((plane[static_cast<size_t>(x >> 3)] >> (7 - (x & 7))) & 1) << p);
        }
      }
    }
    image.PutRow(0, y, row, width);
    if (ProgressReport(static_cast<int>((y + 1) * int64_t{100} / header.height)) != 0) return TReadOutcome::Stopped;
  }
  return decoder.DataEnded() ? TReadOutcome::Partial : TReadOutcome::Complete;
}

// The 256-entry palette behind the image data, when the file has one: the
// last 769 bytes must start after the data and begin with 0C hex. A palette
// of nothing but zeros stands for a grey ramp.
bool ReadTrailingPalette(TPkgStream* stream, TLogPalette& palette) {
  const int64_t dataEnd = PkgTell(stream);
  if (PkgSeek(stream, 0, 2) != 0) return false;
  const int64_t trailerStart = PkgTell(stream) - kPaletteTrailerSize;
  if (trailerStart < dataEnd || PkgSeek(stream, trailerStart, 0) != 0) return false;
  uint8_t trailer[kPaletteTrailerSize];
  if (!ReadExact(stream, trailer, kPaletteTrailerSize) || trailer[0] != kPaletteMarker) return false;
  const bool allZero = std::all_of(trailer + 1, trailer + kPaletteTrailerSize, [](uint8_t b) { return b == 0; });
  palette.count = 256;
  for (int i = 0; i < 256; ++i) {
    const uint8_t* rgb = trailer + 1 + 3 * i;
    const uint8_t grey = static_cast<uint8_t>(i);
    palette.entries[i] = allZero ? TPaletteEntry{grey, grey, grey, 0} : TPaletteEntry{rgb[0], rgb[1], rgb[2], 0};
  }
  return true;
}

void SetPcxPalette(TPkgStream* stream, TImage& image, const TPcxHeader& header) {
  const int bits = header.bitsPerPlane * header.planes;
  if (bits > 23) {
    image.GreyPalette();
    return;
  }
  TLogPalette palette;
  if (bits == 1) {
    palette.count = 2;
    palette.entries[0] = {0, 0, 0, 0};
    palette.entries[1] = {255, 255, 255, 0};
  } else if (!ReadTrailingPalette(stream, palette)) {
    // Only versions 2 and 5 store a palette in the header; version 3 files
    // carry whatever happened to be there.
    const bool headerPalette =
        (header.version == 2 || header.version > 3) &&
        std::any_of(std::begin(header.palette), std::end(header.palette), [](uint8_t b) { return b != 0; });
    palette.count = 16;
    for (int i = 0; i < 16; ++i) {
      const uint8_t* rgb = headerPalette ? header.palette + 3 * i : kDefaultPalette[i];
      palette.entries[i] = {rgb[0], rgb[1], rgb[2], 0};
    }
  }
  image.SetPalette(palette);
}

constexpr uint8_t kManufacturer = 10;
constexpr uint8_t kVersion = 5;
constexpr uint8_t kEncodingRunLength = 1;

} // namespace

TReadOutcome ReadPcx(TPkgStream* stream, TImage& image, const TProfile& options) {
  TPcxHeader header;
  if (!ReadHeader(stream, header)) return TReadOutcome::Failed;
  if (!StreamCanHold(stream, uint64_t{LineBytes(header)} * header.planes * static_cast<uint32_t>(header.height),
                     kMaxRunExpansion))
    return TReadOutcome::Failed;
  const int32_t bytesPerPixel = header.bitsPerPlane * header.planes > 23 ? 3 : 1;
  image.Create(kFileTypePcx, header.width, header.height, header.xDpi, header.yDpi, bytesPerPixel,
               ReaderReduction(options, header.width, header.height), 0);
  const TReadOutcome outcome = ReadRows(stream, image, header);
  SetPcxPalette(stream, image, header);
  return outcome;
}

int WritePcx(const char* path, TImage& image, const TProfile& options, TDither* ditherer) {
  const TSaveSize area = PrepareSaveOutput(image, options);
  if ((area.width & 0xFFFF) == 0 || (area.height & 0xFFFF) == 0) return 1;
  const int32_t bytesPerPixel = image.BytesPerPixel() == 3 ? 3 : 1;
  TLogPalette palette;
  if (bytesPerPixel == 1) WriterPalette(image, ditherer, palette);

  TCodecOutput out(path);
  if (!out.IsOpen()) return 1;
  uint8_t header[kHeaderSize] = {kManufacturer, kVersion, kEncodingRunLength, 8};
  PutLe16(header + 8, static_cast<uint32_t>(area.width - 1));
  PutLe16(header + 10, static_cast<uint32_t>(area.height - 1));
  PutLe16(header + 12, static_cast<uint32_t>(image.EffectiveXDpi()));
  PutLe16(header + 14, static_cast<uint32_t>(image.EffectiveYDpi()));
  header[65] = static_cast<uint8_t>(bytesPerPixel);
  PutLe16(header + 66, static_cast<uint32_t>(area.width));
  PutLe16(header + 68, 1);
  PutLe16(header + 70, static_cast<uint32_t>(area.width));
  PutLe16(header + 72, static_cast<uint32_t>(area.height));
  out.Write(header, kHeaderSize);

  // Every row is coded plane by plane (red, green, blue for 24-bit pictures),
  // so that no run crosses a plane or a row.
  const size_t width = static_cast<size_t>(area.width);
  std::vector<uint8_t> row(width * bytesPerPixel);
  std::vector<uint8_t> plane(width);
  for (int32_t y = 0; y < area.height; ++y) {
    const uint8_t* pixels = FetchOutputRow(image, area, y, row.data(), ditherer);
    for (int p = 0; p < bytesPerPixel; ++p) {
      const uint8_t* source = pixels;
      if (bytesPerPixel == 3) {
        for (size_t x = 0; x < width; ++x) plane[x] = pixels[3 * x + (2 - p)];
        source = plane.data();
      }
      out.Commit(PcxEncodePlane(source, width, out.Reserve(2 * width)));
    }
    if (ProgressReport(static_cast<int>((y + 1) * int64_t{100} / area.height)) != 0) return out.Finish(true);
  }

  // Indexed pictures end with the 256-entry palette, grey beyond the
  // picture's own entries.
  if (bytesPerPixel == 1) {
    uint8_t trailer[kPaletteTrailerSize] = {kPaletteMarker};
    for (int i = 0; i < 256; ++i) {
      uint8_t* rgb = trailer + 1 + 3 * i;
      if (i < palette.count) {
        rgb[0] = palette.entries[i].red;
        rgb[1] = palette.entries[i].green;
        rgb[2] = palette.entries[i].blue;
      } else {
        rgb[0] = rgb[1] = rgb[2] = static_cast<uint8_t>(i);
      }
    }
    out.Write(trailer, kPaletteTrailerSize);
  }
  return out.Finish(false);
}
