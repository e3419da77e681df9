// TIFF files through libtiff. libtiff reads and writes the file through
// client procedures over a package stream, so TIFF files inside archives,
// downloads and page containers are read like disk files. Its warnings and
// errors go to the log.
//
// Reading converts the sample layouts libtiff delivers row by row (1 to 16
// bits or 32- and 64-bit floating point, one to four samples, interleaved or
// in separate planes) into the picture's 8-bit indexed or 24-bit rows:
// palette and grey pictures keep their values as indices into a palette
// built from the colour map or a grey ramp (a second sample, alpha, is left
// out), RGB becomes blue, green, red, and CMYK is turned into RGB. Writing
// chooses a bilevel, palette or RGB layout from the picture and the
// compression from the TIFFCompression setting.
#include "formats/tiff.h"

#include <strings.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "settings/profile.h"
#include "core/image.h"
#include "core/log_sink.h"
#include "core/progress.h"
#include "filepkg/filepkg.h"
#include "formats/camera.h"
#include "formats/comment_sink.h"
#include "formats/orientation.h"
#include "formats/run_length.h"
#include "formats/save_output.h"

namespace {

constexpr int32_t kFileTypeTiff = 5;
constexpr uint16_t kMaxBitsPerSample = 16;
// Compressed data never expands more than this many times: an all-white
// CCITT Group 4 row of 8192 pixels (1024 bytes) takes one bit. A file that
// declares more picture than its data could hold is refused before anything
// is allocated for it.
constexpr uint64_t kMaxExpansion = 8192;
// The largest block libtiff may allocate at once for a file (strip buffers,
// tag arrays); damaged files that ask for more are refused by libtiff.
constexpr tmsize_t kMaxLibraryAllocation = tmsize_t{256} << 20;
// The largest set of strips, one of every plane, that the reader holds at
// once for a picture stored in separate planes.
constexpr tmsize_t kMaxStripBand = tmsize_t{64} << 20;
constexpr int32_t kMaxResolution = 1 << 20;
// Rows per strip are chosen so that a strip stays below this many bytes.
constexpr tmsize_t kStripBytes = 32767;
constexpr uint16_t kCompressionDeflate = 32946;

// ------------------------------------------------------------ client I/O

// The stream libtiff works on, and whether a write was ever cut short.
struct TTiffClient {
  TPkgStream* stream;
  bool writeFailed = false;
};

TPkgStream* StreamOf(thandle_t handle) { return static_cast<TTiffClient*>(handle)->stream; }

tmsize_t ClientRead(thandle_t handle, void* buffer, tmsize_t size) {
  if (size <= 0) return 0;
  return static_cast<tmsize_t>(PkgRead(buffer, 1, static_cast<size_t>(size), StreamOf(handle)));
}

tmsize_t ClientWrite(thandle_t handle, void* buffer, tmsize_t size) {
  auto* client = static_cast<TTiffClient*>(handle);
  if (size <= 0) return 0;
  const size_t written = PkgWrite(buffer, 1, static_cast<size_t>(size), client->stream);
  if (written != static_cast<size_t>(size)) client->writeFailed = true;
  return static_cast<tmsize_t>(written);
}

// libtiff passes offsets unsigned; a relative seek backwards arrives as a
// huge value that is negative when read as signed, as the package wants it.
toff_t ClientSeek(thandle_t handle, toff_t offset, int whence) {
  TPkgStream* stream = StreamOf(handle);
  if (PkgSeek(stream, static_cast<int64_t>(offset), whence) != 0) return static_cast<toff_t>(-1);
  return static_cast<toff_t>(PkgTell(stream));
}

// The stream belongs to whoever opened it; closing libtiff leaves it open.
int ClientClose(thandle_t) { return 0; }

// A stream still being produced (a download, an archive member being
// inflated) is completed first: a TIFF file may keep its data anywhere.
toff_t ClientSize(thandle_t handle) {
  TPkgStream* stream = StreamOf(handle);
  PkgFill(stream, INT64_MAX);
  return static_cast<toff_t>(std::max<int64_t>(stream->size, 0));
}

// libtiff then reads every strip through ClientRead.
int ClientMap(thandle_t, void**, toff_t*) { return 0; }
void ClientUnmap(thandle_t, void*, toff_t) {}

// libtiff's complaints, as one log line each: module, ':', the message, '.'.
void LogComplaint(const char* kind, const char* module, const char* format, va_list args) {
  char text[512];
  int used = std::snprintf(text, sizeof text, "%s:", module ? module : "");
  used = std::clamp(used, 0, static_cast<int>(sizeof text) - 1);
  std::vsnprintf(text + used, sizeof text - static_cast<size_t>(used), format, args);
  const size_t length = std::strlen(text);
  if (length + 1 < sizeof text) std::strcpy(text + length, ".");
  LogMessage("TIFF %s: %s", kind, text);
}

void WarningHandler(const char* module, const char* format, va_list args) {
  LogComplaint("Warning", module, format, args);
}

void ErrorHandler(const char* module, const char* format, va_list args) {
  LogComplaint("Error", module, format, args);
}

// Installed for the whole program the first time the adapter is used.
void InstallHandlers() {
  static const bool installed = [] {
    TIFFSetWarningHandler(WarningHandler);
    TIFFSetErrorHandler(ErrorHandler);
    return true;
  }();
  (void)installed;
}

struct TTiffCloser {
  void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TTiffHandle = std::unique_ptr<TIFF, TTiffCloser>;

TTiffHandle OpenClient(const char* name, const char* mode, TTiffClient& client) {
  InstallHandlers();
  TIFFOpenOptions* openOptions = TIFFOpenOptionsAlloc();
  if (!openOptions) return nullptr;
  TIFFOpenOptionsSetMaxSingleMemAlloc(openOptions, kMaxLibraryAllocation);
  TIFF* tif = TIFFClientOpenExt(name, mode, &client, ClientRead, ClientWrite, ClientSeek, ClientClose,
                                ClientSize, ClientMap, ClientUnmap, openOptions);
  TIFFOpenOptionsFree(openOptions);
  return TTiffHandle(tif);
}

// ---------------------------------------------------------------- reading

// How the samples of a pixel become picture bytes.
enum class TConversion { Rgb, Cmyk, Copy };

struct TLayout {
  uint32_t width = 0;
  uint32_t height = 0;
  uint16_t bits = 1;
  uint16_t samples = 1;
  uint16_t photometric = 0;
  uint16_t planar = PLANARCONFIG_CONTIG;
  uint16_t minValue = 0;
  uint16_t maxValue = 1;
  int32_t highestIndex = 1;
  int32_t xDpi = 1;
  int32_t yDpi = 1;
  int32_t bytesPerPixel = 1;
  // Floating-point samples, scaled into 0..255 from the range the file
  // declares or, without one, from the lowest and highest value found.
  bool floating = false;
  TConversion conversion = TConversion::Copy;
  // Tiled files and colour spaces other than grey, palette, RGB and CMYK
  // are turned into RGB by libtiff itself.
  bool libraryRgb = false;
};

int32_t RoundResolution(double value) {
  if (!(value > 0)) return 0; // also NaN
  return static_cast<int32_t>(std::min(value, static_cast<double>(kMaxResolution)) + 0.5);
}

void ReadResolution(TIFF* tif, TLayout& layout) {
  float x = 1;
  float y = 0;
  uint16_t unit = RESUNIT_INCH;
  if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x)) x = 1;
  // libtiff writes the two resolutions together, a missing one as 0.
  if (!TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y) || !(y > 0)) y = x;
  TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  double xDpi = x;
  double yDpi = y;
  if (unit == RESUNIT_CENTIMETER) {
    xDpi *= 2.54;
    yDpi *= 2.54;
  } else if (unit != RESUNIT_INCH) {
    xDpi = yDpi = 1;
  }
  layout.xDpi = RoundResolution(xDpi);
  layout.yDpi = RoundResolution(yDpi);
}

// JPEG-compressed YCbCr data is converted to RGB by libtiff's JPEG codec;
// taken as it is, its luminance and colour differences would be shown as
// blue, green and red.
bool AskForRgb(TIFF* tif, uint16_t photometric, uint16_t samples) {
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
  if (photometric != PHOTOMETRIC_YCBCR || samples != 3 || compression != COMPRESSION_JPEG) return false;
  return TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB) == 1;
}

// Scanlines cannot be read from tiles, and the colour spaces below carry
// no values that could be shown as they are.
bool NeedsLibraryRgb(TIFF* tif, uint16_t photometric) {
  return TIFFIsTiled(tif) || photometric == PHOTOMETRIC_YCBCR || photometric == PHOTOMETRIC_CIELAB ||
         photometric == PHOTOMETRIC_LOGL || photometric == PHOTOMETRIC_LOGLUV;
}

bool IsGreyPhotometric(uint16_t photometric) {
  return photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
}

// Samples of 32 or 64 bits are read when they are floating-point values of
// grey or RGB pictures; integers are read up to 16 bits.
bool KnownSampleSize(TIFF* tif, TLayout& layout) {
  uint16_t format = SAMPLEFORMAT_UINT;
  TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &format);
  uint16_t photometric = 0;
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
  layout.floating = format == SAMPLEFORMAT_IEEEFP && (layout.bits == 32 || layout.bits == 64) &&
                    (IsGreyPhotometric(photometric) || photometric == PHOTOMETRIC_RGB);
  return layout.floating || (layout.bits != 0 && layout.bits <= kMaxBitsPerSample);
}

// A grey or palette picture may carry a second sample, its alpha, which is
// left out: the picture shows the first sample as it is stored (for
// associated alpha, the picture over black); colour pictures need three or
// four samples.
bool KnownSampleCount(const TLayout& layout) {
  if (layout.samples == 2)
    return IsGreyPhotometric(layout.photometric) || layout.photometric == PHOTOMETRIC_PALETTE;
  return layout.samples == 1 || layout.samples == 3 || layout.samples == 4;
}

// The tags of the current directory; false when they describe no picture
// this reader can make.
bool ReadLayout(TIFF* tif, TLayout& layout) {
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &layout.bits);
  TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &layout.samples);
  TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &layout.planar);
  if (!KnownSampleSize(tif, layout)) return false;
  const uint32_t fullRange = layout.floating ? 255u : (1u << layout.bits) - 1;
  layout.maxValue = static_cast<uint16_t>(fullRange);
  TIFFGetField(tif, TIFFTAG_MINSAMPLEVALUE, &layout.minValue);
  TIFFGetField(tif, TIFFTAG_MAXSAMPLEVALUE, &layout.maxValue);
  // A range that is empty or reversed would divide by zero when values are
  // scaled; the whole range of the bits stands in for it.
  if (layout.maxValue <= layout.minValue) {
    layout.minValue = 0;
    layout.maxValue = static_cast<uint16_t>(fullRange);
  }
  layout.highestIndex = layout.maxValue > 255 || layout.bits > 8 ? 255 : static_cast<int32_t>(fullRange);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &layout.photometric)) return false;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &layout.width) || layout.width == 0 ||
      layout.width > static_cast<uint32_t>(kMaxImageSide))
    return false;
  if (!TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &layout.height) || layout.height == 0) return false;
  ReadResolution(tif, layout);
  if (!KnownSampleCount(layout)) return false;
  layout.bytesPerPixel = layout.samples > 2 ? 3 : 1;
  if (AskForRgb(tif, layout.photometric, layout.samples)) layout.photometric = PHOTOMETRIC_RGB;
  if (NeedsLibraryRgb(tif, layout.photometric)) {
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif, message)) {
      TIFFErrorExt(TIFFClientdata(tif), TIFFFileName(tif), "%s", message);
      return false;
    }
    layout.libraryRgb = true;
    layout.bytesPerPixel = 3;
    return true;
  }
  // The colour conversions need the samples they combine; with fewer the
  // values are taken as they are.
  if (layout.photometric == PHOTOMETRIC_RGB && layout.samples >= 3)
    layout.conversion = TConversion::Rgb;
  else if (layout.photometric == PHOTOMETRIC_SEPARATED && layout.samples == 4)
    layout.conversion = TConversion::Cmyk;
  return true;
}

// A forged header can declare billions of rows in a few bytes.
bool DataCanHold(TIFF* tif, const TLayout& layout) {
  const uint64_t rowBytes = (uint64_t{layout.bits} * layout.width * layout.samples + 7) / 8;
  const uint64_t fileBytes = ClientSize(TIFFClientdata(tif));
  if (rowBytes * layout.height <= fileBytes * kMaxExpansion) return true;
  TIFFErrorExt(TIFFClientdata(tif), TIFFFileName(tif), "Image of %u x %u is larger than the file can hold",
               layout.width, layout.height);
  return false;
}

void SendDescription(TIFF* tif) {
  CommentChar(0);
  const char* description = nullptr;
  if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &description) && description) CommentText(description);
}

void SetReaderPalette(TIFF* tif, const TLayout& layout, TImage& image) {
  const int32_t highest = layout.highestIndex;
  TLogPalette palette;
  palette.count = static_cast<uint16_t>(highest + 1);
  uint16_t* red = nullptr;
  uint16_t* green = nullptr;
  uint16_t* blue = nullptr;
  const bool hasMap = layout.photometric == PHOTOMETRIC_PALETTE && TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue);
  const int32_t lastMapEntry = hasMap ? static_cast<int32_t>((1u << layout.bits) - 1) : 0;
  for (int32_t e = 0; e <= highest; ++e) {
    TPaletteEntry& entry = palette.entries[e];
    if (hasMap) {
      const int32_t at = std::min(static_cast<int32_t>(int64_t{layout.maxValue} * e / highest), lastMapEntry);
      entry = {static_cast<uint8_t>(red[at] >> 8), static_cast<uint8_t>(green[at] >> 8),
               static_cast<uint8_t>(blue[at] >> 8), 0};
    } else {
      uint8_t grey = static_cast<uint8_t>(e * 255 / highest);
      if (layout.photometric == PHOTOMETRIC_MINISWHITE) grey = static_cast<uint8_t>(255 - grey);
      entry = {grey, grey, grey, 0};
    }
  }
  const bool ramp = layout.photometric == PHOTOMETRIC_PALETTE || layout.photometric == PHOTOMETRIC_MINISBLACK ||
                    layout.photometric == PHOTOMETRIC_MINISWHITE;
  if (ramp)
    image.SetPalette(palette);
  else
    image.GreyPalette();
}

// Turns the scanlines libtiff delivers into picture rows.
class TRowConverter {
public:
  TRowConverter(TIFF* tif, const TLayout& layout);
  bool Ready() const { return !m_line.empty(); }
  // For floating-point samples: takes the range the file declares, or reads
  // every row once to find the lowest and highest value. False when libtiff
  // fails on a row.
  bool FindFloatRange();
  // Reads file row y; false when libtiff fails.
  bool Read(uint32_t y);
  // Converts the row just read into the picture row out.
  void Convert(uint8_t* out);
  // The row can be read straight into the picture row when its bytes are
  // the picture's bytes.
  bool Direct() const { return m_direct; }
  bool ReadInto(uint8_t* out, uint32_t y) { return TIFFReadScanline(m_tif, out, y, 0) == 1; }

private:
  void BuildValueTable();
  void ToBytes(const uint8_t* in, uint8_t* out, size_t count) const;
  void Interleave(const uint8_t* plane, uint16_t sample, uint8_t* out) const;
  bool LoadStrips(uint32_t first);
  double FloatSample(const uint8_t* in, size_t i) const;
  void WidenFloatRange(const uint8_t* in, size_t count);

  TIFF* m_tif;
  const TLayout& m_layout;
  bool m_direct = false;
  size_t m_planeBytes = 0;
  std::vector<uint8_t> m_line;  // one scanline, or one per plane
  std::vector<uint8_t> m_bytes; // the row's samples as bytes
  std::vector<uint8_t> m_plane; // one plane's samples as bytes
  std::vector<uint8_t> m_toByte; // raw sample value -> byte
  double m_floatLow = 0;          // floating-point value shown as 0
  double m_floatHigh = 0;         // floating-point value shown as 255
  // Separate planes: the strips of every plane that hold the current row.
  std::vector<std::vector<uint8_t>> m_strips;
  uint32_t m_stripRows = 1;
  uint32_t m_stripFirst = UINT32_MAX; // first row of the loaded strips
  size_t m_scanlineBytes = 0;
};

TRowConverter::TRowConverter(TIFF* tif, const TLayout& layout) : m_tif(tif), m_layout(layout) {
  const size_t values = size_t{layout.width} * layout.samples;
  const bool separate = layout.planar == PLANARCONFIG_SEPARATE && layout.samples > 1;
  const size_t ourBytes = ((separate ? layout.width : values) * layout.bits + 7) / 8;
  const tmsize_t libraryBytes = TIFFScanlineSize(tif);
  if (libraryBytes <= 0) return;
  // Room for what libtiff writes, whatever the tags make it think a row is.
  m_planeBytes = std::max(ourBytes, static_cast<size_t>(libraryBytes));
  m_line.resize(m_planeBytes * (separate ? layout.samples : 1));
  m_scanlineBytes = static_cast<size_t>(libraryBytes);
  const tmsize_t stripBytes = TIFFStripSize(tif);
  if (separate && stripBytes > 0 && stripBytes <= kMaxStripBand / layout.samples) {
    m_strips.resize(layout.samples);
    if (!TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &m_stripRows)) m_stripRows = layout.height;
    m_stripRows = std::clamp<uint32_t>(m_stripRows, 1, layout.height);
  }
  m_direct = layout.bits == 8 && !separate && layout.conversion == TConversion::Copy &&
             layout.samples == layout.bytesPerPixel && static_cast<size_t>(libraryBytes) == values;
  if (layout.bits != 8 || separate) m_bytes.resize(values);
  if (separate && layout.bits != 8) m_plane.resize(layout.width);
  BuildValueTable();
}

// Values of more than 8 bits are scaled into 0..255 from the sample range.
// Values of fewer bits index the palette in palette and grey pictures; as
// colour samples they are scaled up to 0..255, as other readers show them.
void TRowConverter::BuildValueTable() {
  const TLayout& layout = m_layout;
  if (layout.bits == 8 || layout.floating) return;
  const uint32_t count = 1u << layout.bits;
  m_toByte.resize(count);
  const bool colour = layout.conversion != TConversion::Copy;
  for (uint32_t v = 0; v < count; ++v) {
    uint32_t byte = v;
    if (layout.bits > 8) {
      const uint32_t clamped = std::clamp<uint32_t>(v, layout.minValue, layout.maxValue);
      byte = (clamped - layout.minValue) * 255 / (layout.maxValue - layout.minValue);
    } else if (colour) {
      byte = v * 255 / (count - 1);
    }
    m_toByte[v] = static_cast<uint8_t>(byte);
  }
}

// count samples of the row's bits each into bytes. libtiff has put 16-bit
// samples into the machine's byte order; other sizes are a bit stream, most
// significant bit first.
void TRowConverter::ToBytes(const uint8_t* in, uint8_t* out, size_t count) const {
  const int bits = m_layout.bits;
  if (m_layout.floating) {
    const double span = m_floatHigh - m_floatLow;
    for (size_t i = 0; i < count; ++i) {
      const double scaled = span > 0 ? (FloatSample(in, i) - m_floatLow) * 255 / span : 0;
      // The comparison also sends NaN to 0.
      out[i] = static_cast<uint8_t>(scaled > 0 ? std::min(scaled, 255.0) : 0);
    }
    return;
  }
  const uint8_t* table = m_toByte.data();
  if (bits == 16) {
    for (size_t i = 0; i < count; ++i) {
      uint16_t value;
      std::memcpy(&value, in + 2 * i, 2);
      out[i] = table[value];
    }
    return;
  }
  if (bits == 1 || bits == 2 || bits == 4) {
    UnpackBits(in, out, static_cast<int32_t>(count), bits);
    for (size_t i = 0; i < count; ++i) out[i] = table[out[i]];
    return;
  }
  uint32_t buffer = 0;
  int held = 0;
  const uint32_t mask = (1u << bits) - 1;
  for (size_t i = 0; i < count; ++i) {
    while (held < bits) {
      buffer = (buffer << 8) | *in++;
      held += 8;
    }
    held -= bits;
    out[i] = table[(buffer >> held) & mask];
  }
}

bool TRowConverter::Read(uint32_t y) {
  const TLayout& layout = m_layout;
  if (layout.planar != PLANARCONFIG_SEPARATE || layout.samples == 1)
    return TIFFReadScanline(m_tif, m_line.data(), y, 0) == 1;
  if (m_strips.empty()) {
    for (uint16_t s = 0; s < layout.samples; ++s)
      if (TIFFReadScanline(m_tif, m_line.data() + s * m_planeBytes, y, s) != 1) return false;
    return true;
  }
  const uint32_t first = y - y % m_stripRows;
  if (first != m_stripFirst && !LoadStrips(first)) return false;
  const size_t offset = size_t{y - first} * m_scanlineBytes;
  for (uint16_t s = 0; s < layout.samples; ++s) {
    const std::vector<uint8_t>& strip = m_strips[s];
    if (strip.size() < offset + m_scanlineBytes) return false;
    std::memcpy(m_line.data() + s * m_planeBytes, strip.data() + offset, m_scanlineBytes);
  }
  return true;
}

// Separate planes are decoded a strip of every plane at a time: reading
// their scanlines row by row would go back and forth between the planes'
// strips, which libtiff refuses for compressions that cannot restart inside
// a strip (PackBits among them). A strip that ends early is kept as far as
// it goes. Strips too large to hold are read by scanlines after all.
bool TRowConverter::LoadStrips(uint32_t first) {
  m_stripFirst = first;
  const tmsize_t stripBytes = TIFFStripSize(m_tif);
  if (stripBytes <= 0) return false;
  for (uint16_t s = 0; s < m_layout.samples; ++s) {
    std::vector<uint8_t>& strip = m_strips[s];
    strip.resize(static_cast<size_t>(stripBytes));
    const tmsize_t got = TIFFReadEncodedStrip(m_tif, TIFFComputeStrip(m_tif, first, s), strip.data(), stripBytes);
    strip.resize(static_cast<size_t>(std::max<tmsize_t>(got, 0)));
  }
  return true;
}

// libtiff has put floating-point samples into the machine's byte order.
double TRowConverter::FloatSample(const uint8_t* in, size_t i) const {
  if (m_layout.bits == 64) {
    double value;
    std::memcpy(&value, in + 8 * i, 8);
    return value;
  }
  float value;
  std::memcpy(&value, in + 4 * i, 4);
  return value;
}

void TRowConverter::WidenFloatRange(const uint8_t* in, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const double value = FloatSample(in, i);
    if (!std::isfinite(value)) continue;
    m_floatLow = std::min(m_floatLow, value);
    m_floatHigh = std::max(m_floatHigh, value);
  }
}

bool TRowConverter::FindFloatRange() {
  double low = 0;
  double high = 0;
  if (TIFFGetField(m_tif, TIFFTAG_SMINSAMPLEVALUE, &low) && TIFFGetField(m_tif, TIFFTAG_SMAXSAMPLEVALUE, &high) &&
      high > low) {
    m_floatLow = low;
    m_floatHigh = high;
    return true;
  }
  m_floatLow = HUGE_VAL;
  m_floatHigh = -HUGE_VAL;
  // Separate planes each hold one sample of every pixel.
  const bool separate = m_layout.planar == PLANARCONFIG_SEPARATE && m_layout.samples > 1;
  const size_t planes = separate ? m_layout.samples : 1;
  const size_t values = size_t{m_layout.width} * (separate ? 1 : m_layout.samples);
  for (uint32_t y = 0; y < m_layout.height; ++y) {
    if (!Read(y)) return false;
    for (size_t p = 0; p < planes; ++p) WidenFloatRange(m_line.data() + p * m_planeBytes, values);
  }
  return true;
}

void TRowConverter::Interleave(const uint8_t* plane, uint16_t sample, uint8_t* out) const {
  const uint32_t width = m_layout.width;
  const uint16_t samples = m_layout.samples;
  for (uint32_t x = 0; x < width; ++x) out[x * samples + sample] = plane[x];
}

void TRowConverter::Convert(uint8_t* out) {
  const TLayout& layout = m_layout;
  const uint32_t width = layout.width;
  const uint16_t samples = layout.samples;
  const uint8_t* s = m_line.data();
  uint8_t* bytes = m_bytes.data();
  if (layout.planar == PLANARCONFIG_SEPARATE && samples > 1) {
    uint8_t* plane = m_plane.data();
    for (uint16_t k = 0; k < samples; ++k) {
      const uint8_t* raw = m_line.data() + k * m_planeBytes;
      if (layout.bits != 8) ToBytes(raw, plane, width);
      Interleave(layout.bits == 8 ? raw : plane, k, bytes);
    }
    s = bytes;
  } else if (layout.bits != 8) {
    ToBytes(m_line.data(), bytes, size_t{width} * samples);
    s = bytes;
  }
  switch (layout.conversion) {
  case TConversion::Rgb:
    for (uint32_t x = 0; x < width; ++x, s += samples, out += 3) {
      out[0] = s[2];
      out[1] = s[1];
      out[2] = s[0];
    }
    break;
  case TConversion::Cmyk:
    for (uint32_t x = 0; x < width; ++x, s += 4, out += 3) {
      const uint32_t white = 255u - s[3];
      out[0] = static_cast<uint8_t>(((255u - s[2]) * white) >> 8);
      out[1] = static_cast<uint8_t>(((255u - s[1]) * white) >> 8);
      out[2] = static_cast<uint8_t>(((255u - s[0]) * white) >> 8);
    }
    break;
  case TConversion::Copy: {
    // Samples beyond the picture's bytes (alpha, or a fourth colour sample)
    // are left out.
    const auto pixelBytes = static_cast<size_t>(layout.bytesPerPixel);
    if (samples == pixelBytes) {
      std::memcpy(out, s, size_t{width} * samples);
    } else {
      for (uint32_t x = 0; x < width; ++x, s += samples, out += pixelBytes) std::memcpy(out, s, pixelBytes);
    }
    break;
  }
  }
}

TReadOutcome ReadRows(TIFF* tif, const TLayout& layout, int32_t reduction, TImage& image) {
  TRowConverter converter(tif, layout);
  if (!converter.Ready() || (layout.floating && !converter.FindFloatRange())) return TReadOutcome::Failed;
  const auto width = static_cast<int32_t>(layout.width);
  for (uint32_t y = 0; y < layout.height; ++y) {
    const auto row = static_cast<int32_t>(std::min<uint32_t>(y, INT32_MAX));
    const bool kept = y % static_cast<uint32_t>(reduction) == 0;
    uint8_t* buffer = kept ? image.RowBuffer(0, row, width) : nullptr;
    if (buffer && converter.Direct()) {
      if (!converter.ReadInto(buffer, y)) return TReadOutcome::Partial;
    } else {
      if (!converter.Read(y)) return TReadOutcome::Partial;
      if (buffer) converter.Convert(buffer);
    }
    if (buffer) image.PutRow(0, row, buffer, width);
    if (ProgressReport(static_cast<int>(uint64_t{y} * 100 / layout.height)) != 0) return TReadOutcome::Stopped;
  }
  return TReadOutcome::Complete;
}

// Rows through libtiff's RGBA interface, in bands of whole strips or tiles
// so that none is decoded twice, as far as a band stays of sensible size.
TReadOutcome ReadLibraryRgbRows(TIFF* tif, const TLayout& layout, int32_t reduction, TImage& image) {
  constexpr uint64_t kMaxBandPixels = uint64_t{16} << 20;
  char message[1024] = {};
  TIFFRGBAImage rgba;
  if (!TIFFRGBAImageBegin(&rgba, tif, 0, message)) {
    TIFFErrorExt(TIFFClientdata(tif), TIFFFileName(tif), "%s", message);
    return TReadOutcome::Failed;
  }
  // Rows in the file's order, as the scanline reader delivers them.
  rgba.req_orientation = rgba.orientation;
  uint32_t unitRows = 0;
  if (!TIFFGetField(tif, TIFFIsTiled(tif) ? TIFFTAG_TILELENGTH : TIFFTAG_ROWSPERSTRIP, &unitRows)) unitRows = 1;
  const uint32_t bandRows = static_cast<uint32_t>(std::clamp<uint64_t>(
      std::min<uint64_t>(unitRows, layout.height), 1, std::max<uint64_t>(kMaxBandPixels / layout.width, 1)));
  std::vector<uint32_t> band(size_t{bandRows} * layout.width);
  const auto width = static_cast<int32_t>(layout.width);
  TReadOutcome outcome = TReadOutcome::Complete;
  for (uint32_t top = 0; top < layout.height && outcome == TReadOutcome::Complete; top += bandRows) {
    const uint32_t rows = std::min(bandRows, layout.height - top);
    rgba.row_offset = static_cast<int>(top);
    rgba.col_offset = 0;
    const bool complete = TIFFRGBAImageGet(&rgba, band.data(), layout.width, rows) == 1;
    for (uint32_t r = 0; r < rows; ++r) {
      const uint32_t y = top + r;
      if (y % static_cast<uint32_t>(reduction) != 0) continue;
      const auto row = static_cast<int32_t>(std::min<uint32_t>(y, INT32_MAX));
      uint8_t* buffer = image.RowBuffer(0, row, width);
      if (!buffer) {
        outcome = TReadOutcome::Partial;
        break;
      }
      const uint32_t* pixel = band.data() + size_t{r} * layout.width;
      for (uint32_t x = 0; x < layout.width; ++x) {
        buffer[3 * x] = static_cast<uint8_t>(TIFFGetB(pixel[x]));
        buffer[3 * x + 1] = static_cast<uint8_t>(TIFFGetG(pixel[x]));
        buffer[3 * x + 2] = static_cast<uint8_t>(TIFFGetR(pixel[x]));
      }
      image.PutRow(0, row, buffer, width);
    }
    const uint32_t done = top + rows;
    if (!complete)
      outcome = TReadOutcome::Partial;
    else if (ProgressReport(static_cast<int>(uint64_t{done} * 100 / layout.height)) != 0)
      outcome = TReadOutcome::Stopped;
  }
  TIFFRGBAImageEnd(&rgba);
  return outcome;
}

TReadOutcome ReadPage(TIFF* tif, const char* path, TImage& image, const TProfile& options) {
  const int32_t page = TiffPageOfName(path);
  if (page > 0) {
    const auto directory = static_cast<tdir_t>(page - 1);
    if (!TIFFSetDirectory(tif, directory) || TIFFCurrentDirectory(tif) != directory) return TReadOutcome::Failed;
  }
  TLayout layout;
  if (!ReadLayout(tif, layout)) {
    TIFFErrorExt(TIFFClientdata(tif), TIFFFileName(tif),
                 "Picture of %u x %u pixels, %u samples of %u bits, photometric %u is not read", layout.width,
                 layout.height, layout.samples, layout.bits, layout.photometric);
    return TReadOutcome::Failed;
  }
  if (!DataCanHold(tif, layout)) return TReadOutcome::Failed;
  const auto width = static_cast<int32_t>(layout.width);
  const auto height = static_cast<int32_t>(std::min<uint32_t>(layout.height, INT32_MAX));
  const int32_t reduction = ReaderReduction(options, width, height);
  image.Create(kFileTypeTiff, width, height, layout.xDpi, layout.yDpi, layout.bytesPerPixel, reduction, 0);
  SendDescription(tif);
  SetReaderPalette(tif, layout, image);
  const TReadOutcome outcome = layout.libraryRgb ? ReadLibraryRgbRows(tif, layout, reduction, image)
                                                 : ReadRows(tif, layout, reduction, image);
  // The picture is turned as the camera was held, also when only part of it
  // could be read.
  uint16_t orientation = 0;
  if (PictureWasRead(outcome) && TIFFGetField(tif, TIFFTAG_ORIENTATION, &orientation) == 1)
    ApplyOrientation(image, orientation);
  return outcome;
}

// ---------------------------------------------------------------- writing

struct TWriteLayout {
  uint16_t bits = 8;
  uint16_t samples = 1;
  uint16_t photometric = PHOTOMETRIC_PALETTE;
  uint16_t compression = COMPRESSION_NONE;
  bool predictor = false;
  bool bilevel = false;
};

bool IsGrey(const TPaletteEntry& e) { return e.red == e.green && e.green == e.blue; }

// A palette of two different greys is written as a bilevel picture, black
// where the darker entry is.
TWriteLayout ChooseLayout(const TImage& image, const TLogPalette& palette, const TProfile& options) {
  static constexpr uint16_t kBilevelCompression[] = {COMPRESSION_NONE, COMPRESSION_CCITTRLE, COMPRESSION_CCITTFAX3,
                                                     COMPRESSION_CCITTFAX4, COMPRESSION_CCITTFAX4,
                                                     COMPRESSION_CCITTFAX4};
  static constexpr uint16_t kOtherCompression[] = {COMPRESSION_NONE, COMPRESSION_NONE, COMPRESSION_NONE,
                                                   COMPRESSION_NONE, COMPRESSION_LZW,  kCompressionDeflate};
  const int32_t choice = std::clamp(options.Get(IntKey::TIFFCompression), 1, 6);
  TWriteLayout layout;
  if (image.BytesPerPixel() == 3) {
    layout.samples = 3;
    layout.photometric = PHOTOMETRIC_RGB;
  } else if (palette.count == 2 && IsGrey(palette.entries[0]) && IsGrey(palette.entries[1]) &&
             palette.entries[0].red != palette.entries[1].red) {
    layout.bilevel = true;
    layout.bits = 1;
    layout.photometric = palette.entries[0].red < palette.entries[1].red ? PHOTOMETRIC_MINISBLACK
                                                                         : PHOTOMETRIC_MINISWHITE;
  }
  layout.compression = (layout.bilevel ? kBilevelCompression : kOtherCompression)[choice - 1];
  layout.predictor = (choice == 5 || choice == 6) && layout.samples == 3;
  return layout;
}

bool SetWriterTags(TIFF* tif, const TWriteLayout& layout, const TSaveSize& area, const TImage& image,
                   const TLogPalette& palette) {
  bool ok = TIFFSetField(tif, TIFFTAG_SOFTWARE, "Zerbalin") == 1;
  const std::string comment = CommentGetText();
  if (!comment.empty()) ok = ok && TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, comment.c_str()) == 1;
  ok = ok && TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits) == 1 &&
       TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samples) == 1 &&
       TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric) == 1 &&
       TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(area.height)) == 1 &&
       TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(area.width)) == 1 &&
       TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB) == 1 &&
       TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) == 1 &&
       TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) == 1 &&
       TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression) == 1 &&
       TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(image.EffectiveXDpi())) == 1 &&
       TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(image.EffectiveYDpi())) == 1 &&
       TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH) == 1;
  if (ok && layout.predictor) ok = TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL) == 1;
  if (!ok) return false;
  const tmsize_t lineBytes = TIFFScanlineSize(tif);
  if (lineBytes <= 0) return false;
  const auto rowsPerStrip = static_cast<uint32_t>(std::max<tmsize_t>(kStripBytes / lineBytes, 1));
  if (TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip) != 1) return false;
  if (layout.photometric != PHOTOMETRIC_PALETTE) return true;
  // Components are widened by repeating their byte, so that 255 becomes
  // 65535 and every reader, whether it shifts or scales, gets them back.
  std::vector<uint16_t> map(3 * 256, 0);
  for (int i = 0; i < palette.count; ++i) {
    map[i] = static_cast<uint16_t>(palette.entries[i].red * 257);
    map[256 + i] = static_cast<uint16_t>(palette.entries[i].green * 257);
    map[512 + i] = static_cast<uint16_t>(palette.entries[i].blue * 257);
  }
  return TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + 256, map.data() + 512) == 1;
}

// Packs width output pixels into a file row (which may be the same memory).
// Bilevel rows: 8 pixels a byte, most significant bit first, 1 where the
// index is not 0. 24-bit rows: blue, green, red become red, green, blue.
// Indices are copied as they are.
void PackRow(const TWriteLayout& layout, const uint8_t* pixels, uint8_t* row, int32_t width) {
  if (layout.bilevel) {
    for (int32_t x = 0; x < width; x += 8) {
      uint8_t byte = 0;
      for (int32_t bit = 0; bit < 8; ++bit)
        if (x + bit < width && pixels[x + bit] != 0) byte |= static_cast<uint8_t>(0x80 >> bit);
      row[x / 8] = byte;
    }
  } else if (layout.samples == 3) {
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t blue = pixels[3 * x];
      row[3 * x] = pixels[3 * x + 2];
      row[3 * x + 1] = pixels[3 * x + 1];
      row[3 * x + 2] = blue;
    }
  } else if (pixels != row) {
    std::memcpy(row, pixels, static_cast<size_t>(width));
  }
}

// kSaveWritten, kSaveFailed when libtiff fails, kSaveStopped when the user
// stops.
int WriteRows(TIFF* tif, const TWriteLayout& layout, const TSaveSize& area, const TImage& image,
              const TDither* ditherer) {
  std::vector<uint8_t> row(static_cast<size_t>(area.width) * static_cast<size_t>(image.BytesPerPixel()));
  for (int32_t r = 0; r < area.height; ++r) {
    // The library may change the row it is given (predictor), so the pixels
    // always reach it through the row buffer.
    const uint8_t* pixels = FetchOutputRow(image, area, r, row.data(), ditherer);
    PackRow(layout, pixels, row.data(), area.width);
    if (TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(r), 0) != 1) return kSaveFailed;
    if (ProgressReport(static_cast<int>((r + 1) * int64_t{100} / area.height)) != 0) return kSaveStopped;
  }
  return kSaveWritten;
}

} // namespace

int32_t TiffPageOfName(const char* name) {
  // ".tif" + separator + "page" + four digits + ".tif"
  constexpr size_t kSuffixLength = 17;
  const size_t length = std::strlen(name);
  if (length < kSuffixLength) return 0;
  const char* tail = name + length - kSuffixLength;
  if (strncasecmp(tail, ".tif", 4) != 0 || (tail[4] != '/' && tail[4] != '\\') ||
      strncasecmp(tail + 5, "page", 4) != 0 || strcasecmp(tail + 13, ".tif") != 0)
    return 0;
  int32_t page = 0;
  for (const char* digit = tail + 9; digit < tail + 13; ++digit) {
    if (*digit < '0' || *digit > '9') return 0;
    page = page * 10 + (*digit - '0');
  }
  return page;
}

int32_t TiffPageCount(TPkgStream* stream) {
  if (!stream || PkgSeek(stream, 0, SEEK_SET) != 0) return 0;
  TTiffClient client{stream};
  TTiffHandle tif = OpenClient("", "r", client);
  return tif ? static_cast<int32_t>(TIFFNumberOfDirectories(tif.get())) : 0;
}

TReadOutcome ReadTiff(TPkgStream* stream, const char* path, TImage& image, const TProfile& options) {
  if (!stream) return TReadOutcome::Failed;
  if (const std::optional<TReadOutcome> camera = ReadCamera(stream, path, image, options)) return *camera;
  if (PkgSeek(stream, 0, SEEK_SET) != 0) return TReadOutcome::Failed;
  TTiffClient client{stream};
  TTiffHandle tif = OpenClient(path, "r", client);
  return tif ? ReadPage(tif.get(), path, image, options) : TReadOutcome::Failed;
}

int WriteTiff(const char* path, TImage& image, const TProfile& options, TDither* ditherer) {
  const TSaveSize area = PrepareSaveOutput(image, options);
  if (area.width <= 0 || area.height <= 0) return kSaveFailed;
  TLogPalette palette;
  if (image.BytesPerPixel() == 1) WriterPalette(image, ditherer, palette);
  const TWriteLayout layout = ChooseLayout(image, palette, options);
  TPkgStream* stream = PkgOpen(path, "wb+");
  if (!stream) return kSaveFailed;
  TTiffClient client{stream};
  int result = kSaveFailed;
  // The writer always writes a file of one page; a page of a multi-page file
  // (doc.tif/page0003.tif) is put in its place by the package's page layer.
  if (TTiffHandle tif = OpenClient(path, "w", client)) {
    if (SetWriterTags(tif.get(), layout, area, image, palette)) result = WriteRows(tif.get(), layout, area, image, ditherer);
    if (result == kSaveWritten && TIFFWriteDirectory(tif.get()) != 1) result = kSaveFailed;
  }
  if (result == kSaveWritten && client.writeFailed) result = kSaveFailed;
  // A file that was not written completely is abandoned, so that no short
  // file is ever taken for a saved picture.
  const int closed = PkgClose(stream, result == kSaveWritten ? kPkgKeep : kPkgAbandon);
  return result == kSaveWritten && closed != 0 ? kSaveFailed : result;
}
