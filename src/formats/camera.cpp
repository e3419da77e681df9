// Camera files that begin like TIFF files. Every kind is recognised by a
// text at a fixed offset of the first 15680 bytes (CRW files by "HEAPCCDR"
// at offset 6):
//
// - Kodak DC120 (text at 470): an 80 x 60 thumbnail at 1280 (red, green,
//   blue bytes, top row first), then from 15680 either raw sensor rows of
//   848 bytes, each rotated by its own offset, or (byte 707 not 1) JPEG data
//   of every other row with the bytes of each 16-bit word exchanged, which
//   the JPEG adapter's data source straightens out.
// - Kodak DC50 (text at 458): a 96 x 64 thumbnail at 1280.
// - Kodak DC40 (text at 330): a 96 x 64 thumbnail 18432 bytes before the end
//   of the file, bottom row first.
// - Kodak DC25 (text at 386): an 80 x 60 thumbnail at 1024, then 242 sensor
//   rows: 256 bytes of every other column from 15680 when byte 551 is 40 hex
//   (high resolution), else 512 bytes from 15936.
// - Canon CRW of the first kind: from offset 26, 613 rows of 896 samples of
//   10 bits, packed 8 samples to 10 bytes; even picture rows come first.
//
// Sensor pictures are 24-bit pictures with each sensor value in all three
// channels; settings per camera family then choose a reconstruction of the
// colours from the sensor's filter pattern, a histogram stretch and a gamma
// curve. Data missing at the end of a short file reads as FF hex bytes.
#include "formats/camera.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "settings/profile.h"
#include "core/image.h"
#include "core/progress.h"
#include "core/tone.h"
#include "filepkg/filepkg.h"
#include "formats/comment_sink.h"
#include "formats/jpeg.h"

namespace {

constexpr int32_t kFileTypeTiff = 5;
constexpr uint8_t kEndByte = 0xFF;

struct TIdentification {
  size_t offset;
  const char* text;
  TCameraKind kind;
};

constexpr TIdentification kTexts[] = {
    {470, "Kodak DC120 ZOOM Digital Camera", TCameraKind::Dc120},
    {458, "Kodak Digital Science DC50 Zoom Camera", TCameraKind::Dc50},
    {330, "Digital Camera 40", TCameraKind::Dc40},
    {386, "KODAK DC25 DIGITAL CAMERA", TCameraKind::Dc25},
};
constexpr size_t kCrwMarkOffset = 6;
constexpr char kCrwMark[] = "HEAPCCDR";

// The settings of a camera family.
struct TFamilyKeys {
  IntKey colour;
  IntKey histogram;
  IntKey gamma;
};
constexpr TFamilyKeys kKdcKeys = {IntKey::EnableKDCColor, IntKey::EnableKDCHisto, IntKey::EnableKDCGamma};
constexpr TFamilyKeys kK25Keys = {IntKey::EnableK25Color, IntKey::EnableK25Histo, IntKey::EnableK25Gamma};
constexpr TFamilyKeys kCrwKeys = {IntKey::EnableCRWColor, IntKey::EnableCRWHisto, IntKey::EnableCRWGamma};

// ------------------------------------------------------------ common steps

// Reads count bytes; those past the end of the data read as the end value.
// False when bytes were missing.
bool ReadOrEnd(TPkgStream* stream, uint8_t* buffer, size_t count) {
  const size_t got = PkgRead(buffer, 1, count, stream);
  std::fill(buffer + got, buffer + count, kEndByte);
  return got == count;
}

// A picture whose data ran short was read in part.
TReadOutcome RowsOutcome(bool whole) { return whole ? TReadOutcome::Complete : TReadOutcome::Partial; }

void StartPicture(TImage& image, int32_t width, int32_t height, int32_t xDpi, int32_t yDpi) {
  CommentChar(0);
  image.Create(kFileTypeTiff, width, height, xDpi, yDpi, 3, 1, 0);
  image.GreyPalette();
}

// Progress after row of height rows, mapped into first..first + span
// percent; false when the user asks to stop.
bool RowDone(int32_t row, int32_t height, int32_t first = 0, int32_t span = 100) {
  return ProgressReport(first + row * span / height) == 0;
}

// Stores one value per pixel in all three channels of picture row y.
void PutGreyRow(TImage& image, int32_t y, const uint8_t* values, int32_t width) {
  uint8_t* row = image.RowBuffer(0, y, width);
  if (!row) return;
  for (int32_t x = 0; x < width; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = values[x];
  image.PutRow(0, y, row, width);
}

// The picture's own rows (3 bytes a pixel) for the steps that rework it.
struct TPictureArea {
  int32_t width;
  int32_t height;
};

TPictureArea AreaOf(const TImage& image) {
  if (image.BytesPerPixel() != 3 || image.m_reduction != 1) return {0, 0};
  return {image.Width(), image.Height()};
}

void MapBytes(TImage& image, const TByteTable& table) {
  const TPictureArea area = AreaOf(image);
  for (int32_t y = 0; y < area.height; ++y) {
    uint8_t* row = image.Row(y);
    for (int32_t i = 0; i < 3 * area.width; ++i) row[i] = table[row[i]];
  }
}

using THistogram = std::array<int64_t, 256>;

// The value below which 3 percent of the values other than 0 lie.
int32_t DarkPoint(const THistogram& count, int64_t total) {
  const int64_t threshold = (total - count[0]) * 3 / 100;
  int64_t sum = 0;
  for (int32_t j = 1; j <= 191; ++j) {
    sum += count[j];
    if (sum >= threshold) return j - 1;
  }
  return 191;
}

// The value above which 3 percent of the values other than 255 lie. When
// value 254 alone holds them, that is 255, never less than the values
// counted.
int32_t BrightPoint(const THistogram& count, int64_t total) {
  const int64_t threshold = (total - count[255]) * 3 / 100;
  int64_t sum = 0;
  for (int32_t k = 254; k > 32; --k) {
    sum += count[k];
    if (sum >= threshold) return k + 1;
  }
  return 33;
}

// Spreads the values between the dark and the bright point over 0..255. A
// picture whose bright point does not lie above its dark point is left as
// it is.
void StretchHistogram(TImage& image) {
  const TPictureArea area = AreaOf(image);
  THistogram count{};
  for (int32_t y = 0; y < area.height; ++y) {
    const uint8_t* row = image.Row(y);
    for (int32_t i = 0; i < 3 * area.width; ++i) ++count[row[i]];
  }
  const int64_t total = int64_t{3} * area.width * area.height;
  const int32_t dark = DarkPoint(count, total);
  const int32_t bright = BrightPoint(count, total);
  if (bright <= dark) return;
  TByteTable table;
  for (int32_t v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(std::clamp((v - dark) * 255 / (bright - dark), 0, 255));
  MapBytes(image, table);
}

void ApplyGamma(TImage& image, int32_t level) {
  if (level != kGammaIdentity) MapBytes(image, GammaTable(level));
}

// The sensor values of a sensor picture: the first channel of every pixel.
std::vector<uint8_t> SensorPlane(const TImage& image, const TPictureArea& area) {
  std::vector<uint8_t> plane(static_cast<size_t>(area.width) * area.height);
  for (int32_t y = 0; y < area.height; ++y) {
    const uint8_t* row = image.Row(y);
    uint8_t* out = plane.data() + static_cast<size_t>(y) * area.width;
    for (int32_t x = 0; x < area.width; ++x) out[x] = row[3 * x];
  }
  return plane;
}

// --------------------------------------------- sensor pattern reconstruction

// The filter colours of a sensor, repeating every 4 rows and 2 columns.
// Every 2 x 2 block of such a sensor holds each colour of its kind:
// red, green, green and blue, or green, magenta, cyan and yellow.
enum TFilter : uint8_t { kRed, kGreen, kBlue, kMagenta, kCyan, kYellow };
using TFilterPattern = std::array<std::array<TFilter, 2>, 4>;

enum class TReconstruction { Grey = 0, Colour = 1 };

// The sums of the filter colours in a 2 x 2 block.
struct TBlock {
  std::array<int32_t, 6> sum{};
  int32_t total = 0;
};

// Red, green and blue from a block of a primary-colour sensor.
void PrimaryColour(const TBlock& b, uint8_t* pixel) {
  pixel[0] = static_cast<uint8_t>(b.sum[kBlue]);
  pixel[1] = static_cast<uint8_t>(b.sum[kGreen] / 2);
  pixel[2] = static_cast<uint8_t>(b.sum[kRed]);
}

// Red, green and blue from a block of a complementary-colour sensor, in two
// steps. First the luminance (the mean of the four values) and two colour
// differences, red-like (magenta + yellow - green - cyan) and blue-like
// (magenta + cyan - green - yellow). With cyan = green + blue, magenta =
// red + blue and yellow = red + green, the differences are 2 red - green
// and 2 blue - green; solving for the primaries and balancing them so that
// a uniform sensor gives grey leads to the conversion below.
void ComplementaryColour(const TBlock& b, uint8_t* pixel) {
  const int32_t luminance = b.total / 4;
  const int32_t redDifference = b.sum[kMagenta] + b.sum[kYellow] - b.sum[kGreen] - b.sum[kCyan];
  const int32_t blueDifference = b.sum[kMagenta] + b.sum[kCyan] - b.sum[kGreen] - b.sum[kYellow];
  const int32_t red = luminance + redDifference - blueDifference / 4;
  const int32_t green = luminance - (redDifference + blueDifference) / 4;
  const int32_t blue = luminance + blueDifference - redDifference / 4;
  pixel[0] = static_cast<uint8_t>(std::clamp(blue, 0, 255));
  pixel[1] = static_cast<uint8_t>(std::clamp(green, 0, 255));
  pixel[2] = static_cast<uint8_t>(std::clamp(red, 0, 255));
}

// A sensor: its filter pattern and how a block of it becomes a colour.
struct TSensor {
  TFilterPattern pattern;
  void (*colour)(const TBlock& block, uint8_t* pixel);
};

constexpr TSensor kDc120Sensor = {{{{kGreen, kRed}, {kBlue, kGreen}, {kGreen, kRed}, {kBlue, kGreen}}}, PrimaryColour};
constexpr TSensor kCrwSensor = {{{{kGreen, kMagenta}, {kCyan, kYellow}, {kMagenta, kGreen}, {kCyan, kYellow}}},
                                ComplementaryColour};

// Every pixel is made from the 2 x 2 block of sensor values it starts (the
// block turns back at the right and bottom edges): the colours of the
// block's filters, or in grey the mean of the block.
void ReconstructSensor(TImage& image, const TSensor& sensor, TReconstruction variant) {
  const TPictureArea area = AreaOf(image);
  if (area.width < 2 || area.height < 2) return;
  const std::vector<uint8_t> plane = SensorPlane(image, area);
  for (int32_t y = 0; y < area.height; ++y) {
    const int32_t y1 = y + 1 < area.height ? y + 1 : y - 1;
    const uint8_t* top = plane.data() + static_cast<size_t>(y) * area.width;
    const uint8_t* bottom = plane.data() + static_cast<size_t>(y1) * area.width;
    const std::array<TFilter, 2>& topFilters = sensor.pattern[y & 3];
    const std::array<TFilter, 2>& bottomFilters = sensor.pattern[y1 & 3];
    uint8_t* pixel = image.Row(y);
    for (int32_t x = 0; x < area.width; ++x, pixel += 3) {
      const int32_t x1 = x + 1 < area.width ? x + 1 : x - 1;
      TBlock block;
      block.sum[topFilters[x & 1]] += top[x];
      block.sum[topFilters[x1 & 1]] += top[x1];
      block.sum[bottomFilters[x & 1]] += bottom[x];
      block.sum[bottomFilters[x1 & 1]] += bottom[x1];
      block.total = top[x] + top[x1] + bottom[x] + bottom[x1];
      if (variant == TReconstruction::Grey)
        pixel[0] = pixel[1] = pixel[2] = static_cast<uint8_t>(block.total / 4);
      else
        sensor.colour(block, pixel);
    }
  }
}

// Colour reconstruction (when the colour key is not 0), histogram stretch
// and gamma curve of a DC120 or CRW picture.
void FinishSensorPicture(TImage& image, const TProfile& options, const TFamilyKeys& keys, const TSensor& sensor) {
  const int32_t colour = options.Get(keys.colour);
  if (colour != 0) ReconstructSensor(image, sensor, colour == 1 ? TReconstruction::Grey : TReconstruction::Colour);
  if (options.Get(keys.histogram)) StretchHistogram(image);
  ApplyGamma(image, options.Get(keys.gamma));
}

// ---------------------------------------------------------------- decoders

// A thumbnail of red, green, blue pixels at offset, or counted back from the
// end of the file, where its rows go bottom to top.
TReadOutcome ReadThumbnail(TPkgStream* stream, TImage& image, int32_t width, int32_t height, int32_t offset,
                           bool fromEnd) {
  StartPicture(image, width, height, 1, 1);
  const bool found = PkgSeek(stream, fromEnd ? -offset : offset, fromEnd ? SEEK_END : SEEK_SET) == 0;
  bool whole = found;
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * 3, kEndByte);
  for (int32_t r = 0; r < height; ++r) {
    if (found) whole = ReadOrEnd(stream, pixels.data(), pixels.size()) && whole;
    const int32_t y = fromEnd ? height - 1 - r : r;
    uint8_t* row = image.RowBuffer(0, y, width);
    if (!row) return TReadOutcome::Partial;
    for (int32_t x = 0; x < width; ++x) {
      row[3 * x] = pixels[3 * x + 2];
      row[3 * x + 1] = pixels[3 * x + 1];
      row[3 * x + 2] = pixels[3 * x];
    }
    image.PutRow(0, y, row, width);
    if (!RowDone(r, height)) return TReadOutcome::Stopped;
  }
  return RowsOutcome(whole);
}

constexpr int32_t kSensorDataOffset = 15680;
constexpr int32_t kThumbnailWidth = 80;
constexpr int32_t kThumbnailHeight = 60;

constexpr int32_t kDc120Width = 848;
constexpr int32_t kDc120Height = 976;
constexpr size_t kDc120RawFlagOffset = 707;

// The DC120 stores every sensor row rotated: row i begins at column
// (i x m + a) mod 848, with m and a taken by the row number modulo 4.
int32_t Dc120RowOffset(int32_t row) {
  static constexpr int32_t kMultiplier[4] = {162, 192, 187, 92};
  static constexpr int32_t kAddend[4] = {0, 636, 424, 212};
  return (row * kMultiplier[row & 3] + kAddend[row & 3]) % kDc120Width;
}

TReadOutcome ReadDc120Raw(TPkgStream* stream, TImage& image) {
  StartPicture(image, kDc120Width, kDc120Height, 100, 150);
  std::vector<uint8_t> samples(kDc120Width);
  std::vector<uint8_t> values(kDc120Width);
  bool whole = true;
  for (int32_t i = 0; i < kDc120Height; ++i) {
    whole = ReadOrEnd(stream, samples.data(), samples.size()) && whole;
    const int32_t offset = Dc120RowOffset(i);
    for (int32_t j = 0; j < kDc120Width; ++j) values[(j + kDc120Width - offset) % kDc120Width] = samples[j];
    PutGreyRow(image, i, values.data(), kDc120Width);
    if (!RowDone(i, kDc120Height)) return TReadOutcome::Stopped;
  }
  return RowsOutcome(whole);
}

// The compressed data decodes to a colour picture of every other sensor
// row; each pixel keeps the colour its filter lets through.
void Dc120Mosaic(TImage& image) {
  const TPictureArea area = AreaOf(image);
  for (int32_t y = 0; y < area.height; ++y) {
    uint8_t* row = image.Row(y);
    for (int32_t x = 0; x < area.width; ++x) {
      uint8_t* pixel = row + 3 * x;
      const TFilter filter = kDc120Sensor.pattern[y & 3][x & 1];
      const uint8_t value = pixel[filter == kBlue ? 0 : filter == kGreen ? 1 : 2];
      pixel[0] = pixel[1] = pixel[2] = value;
    }
  }
  image.m_fileType = kFileTypeTiff;
}

TReadOutcome ReadDc120(TPkgStream* stream, const uint8_t* head, const char* path, TImage& image,
                       const TProfile& options) {
  if (options.Get(IntKey::QuickLook)) return ReadThumbnail(stream, image, kThumbnailWidth, kThumbnailHeight, 1280, false);
  // The identification lies in the first kSensorDataOffset bytes, so the
  // seek fails only when the package cannot go on (a stop or a read error).
  if (PkgSeek(stream, kSensorDataOffset, SEEK_SET) != 0) {
    StartPicture(image, kDc120Width, kDc120Height, 100, 150);
    return TReadOutcome::Failed;
  }
  TReadOutcome outcome = TReadOutcome::Complete;
  if (head[kDc120RawFlagOffset] == 1) {
    outcome = ReadDc120Raw(stream, image);
    if (outcome == TReadOutcome::Stopped) return outcome;
  } else {
    // Should the JPEG data not even start, the blank camera picture stays.
    StartPicture(image, kDc120Width, kDc120Height, 100, 150);
    outcome = ReadJpeg(stream, path, image, options);
    Dc120Mosaic(image);
  }
  FinishSensorPicture(image, options, kKdcKeys, kDc120Sensor);
  return outcome;
}

constexpr int32_t kDc25Width = 500;
constexpr int32_t kDc25Height = 242;
constexpr size_t kDc25LayoutOffset = 551;
constexpr int32_t kDc25FirstPixel = 2;

// One row of the high-resolution layout: 256 values of every other column
// pair; the columns between are the means of their neighbours.
void ExpandDc25Row(uint8_t* v, uint8_t* produced) {
  v[0] = v[2];
  v[250] = v[248];
  v[251] = v[249];
  int32_t n = 0;
  for (int32_t j = 0; j <= 248; j += 2) {
    produced[n++] = v[j];
    produced[n++] = v[j + 1];
    produced[n++] = static_cast<uint8_t>((v[j] + v[j + 2]) / 2);
    produced[n++] = static_cast<uint8_t>((v[j + 1] + v[j + 3]) / 2);
  }
  // The last two pixels of the row continue the pattern with the copied pair.
  produced[n++] = v[250];
  produced[n] = v[251];
}

// The DC25's own reconstruction over its sensor plane: each pixel from its
// value S and the integer means of its horizontal (H), vertical (V) and
// diagonal (D) neighbours, arranged by the pixel's place in the filter
// pattern. Beyond the edges, rows and columns are mirrored two away so the
// pattern continues.
void ReconstructDc25(TImage& image, bool colour) {
  const TPictureArea area = AreaOf(image);
  const int32_t w = area.width;
  const int32_t h = area.height;
  if (w < 2 || h < 2) return;
  const std::vector<uint8_t> plane = SensorPlane(image, area);
  auto at = [&](int32_t x, int32_t y) -> int32_t {
    x = x < 0 ? x + 2 : x >= w ? x - 2 : x;
    y = y < 0 ? y + 2 : y >= h ? y - 2 : y;
    return plane[static_cast<size_t>(y) * w + x];
  };
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = image.Row(y);
    for (int32_t x = 0; x < w; ++x) {
      uint8_t* pixel = row + 3 * x;
      if (!colour) {
        pixel[0] = pixel[1] = pixel[2] = static_cast<uint8_t>((at(x, y) + at(x + 1, y) + at(x, y + 1) + at(x + 1, y + 1)) / 4);
        continue;
      }
      const int32_t s = at(x, y);
      const int32_t hMean = (at(x - 1, y) + at(x + 1, y)) / 2;
      const int32_t vMean = (at(x, y - 1) + at(x, y + 1)) / 2;
      const int32_t dMean = (at(x - 1, y - 1) + at(x + 1, y - 1) + at(x - 1, y + 1) + at(x + 1, y + 1)) / 4;
      std::array<int32_t, 4> cdef;
      switch ((y & 1) * 2 + (x & 1)) {
      case 0: cdef = {s, dMean, vMean, hMean}; break;
      case 1: cdef = {hMean, vMean, dMean, s}; break;
      case 2: cdef = {vMean, hMean, s, dMean}; break;
      default: cdef = {dMean, s, hMean, vMean}; break;
      }
      const auto [c, d, e, f] = cdef;
      const int32_t blue = (7 * c - 5 * f) / 2;
      const int32_t red = (7 * d - 5 * e) / 6;
      const int32_t green = (c + d + e + f) / 4 - (38 * red + 15 * blue) / 128;
      pixel[0] = static_cast<uint8_t>(std::clamp(blue, 0, 255));
      pixel[1] = static_cast<uint8_t>(std::clamp(green, 0, 255));
      pixel[2] = static_cast<uint8_t>(std::clamp(red, 0, 255));
    }
  }
}

TReadOutcome ReadDc25(TPkgStream* stream, const uint8_t* head, TImage& image, const TProfile& options) {
  if (options.Get(IntKey::QuickLook)) return ReadThumbnail(stream, image, kThumbnailWidth, kThumbnailHeight, 1024, false);
  const bool highResolution = head[kDc25LayoutOffset] == 0x40;
  StartPicture(image, kDc25Width, kDc25Height, 75, 48);
  const bool found = PkgSeek(stream, highResolution ? kSensorDataOffset : 15936, SEEK_SET) == 0;
  bool whole = found;
  const size_t rowBytes = highResolution ? 256 : 512;
  std::vector<uint8_t> values(rowBytes, kEndByte);
  std::vector<uint8_t> produced(kDc25FirstPixel + kDc25Width);
  for (int32_t y = 0; y < kDc25Height; ++y) {
    if (found) whole = ReadOrEnd(stream, values.data(), rowBytes) && whole;
    if (highResolution)
      ExpandDc25Row(values.data(), produced.data());
    else
      std::copy_n(values.begin(), produced.size(), produced.begin());
    PutGreyRow(image, y, produced.data() + kDc25FirstPixel, kDc25Width);
    if (!RowDone(y, kDc25Height)) return TReadOutcome::Stopped;
  }
  if (options.Get(kK25Keys.histogram)) StretchHistogram(image);
  ReconstructDc25(image, options.Get(kK25Keys.colour) != 0);
  ApplyGamma(image, options.Get(kK25Keys.gamma));
  return RowsOutcome(whole);
}

constexpr int32_t kCrwDataOffset = 26;
constexpr int32_t kCrwWidth = 854;
constexpr int32_t kCrwHeight = 613;
constexpr int32_t kCrwRowSamples = 896;
constexpr size_t kCrwRowBytes = kCrwRowSamples / 8 * 10;

// Eight 10-bit samples from 10 bytes: the high 8 bits of samples 0 to 3 in
// bytes 0, 2, 3 and 4 with their low bits in byte 1 (from the top), of
// samples 4 to 7 in bytes 5 to 8 with their low bits in byte 9 (from the
// bottom).
void UnpackCrwRow(const uint8_t* in, uint16_t* out) {
  for (int32_t group = 0; group < kCrwRowSamples / 8; ++group, in += 10, out += 8) {
    out[0] = static_cast<uint16_t>(in[0] << 2 | in[1] >> 6);
    out[1] = static_cast<uint16_t>(in[2] << 2 | (in[1] >> 4 & 3));
    out[2] = static_cast<uint16_t>(in[3] << 2 | (in[1] >> 2 & 3));
    out[3] = static_cast<uint16_t>(in[4] << 2 | (in[1] & 3));
    out[4] = static_cast<uint16_t>(in[5] << 2 | (in[9] & 3));
    out[5] = static_cast<uint16_t>(in[6] << 2 | (in[9] >> 2 & 3));
    out[6] = static_cast<uint16_t>(in[7] << 2 | (in[9] >> 4 & 3));
    out[7] = static_cast<uint16_t>(in[8] << 2 | in[9] >> 6);
  }
}

// Two passes over the sensor data: the first finds the white point in a
// histogram of the 8-bit values, the second scales the samples to it.
TReadOutcome ReadCrwRows(TPkgStream* stream, TImage& image) {
  std::vector<uint8_t> bytes(kCrwRowBytes);
  std::vector<uint16_t> samples(kCrwRowSamples);
  std::vector<uint8_t> values(kCrwWidth);
  int32_t white = 0;
  bool whole = true;
  for (int32_t pass = 0; pass < 2; ++pass) {
    const bool found = PkgSeek(stream, kCrwDataOffset, SEEK_SET) == 0;
    whole = whole && found;
    THistogram count{};
    for (int32_t r = 0; r < kCrwHeight; ++r) {
      if (found)
        whole = ReadOrEnd(stream, bytes.data(), bytes.size()) && whole;
      else
        std::fill(bytes.begin(), bytes.end(), kEndByte);
      UnpackCrwRow(bytes.data(), samples.data());
      if (pass == 0) {
        for (int32_t x = 0; x < kCrwWidth; ++x) ++count[samples[x] / 4];
      } else {
        for (int32_t x = 0; x < kCrwWidth; ++x) values[x] = static_cast<uint8_t>(std::min(255, samples[x] * 255 / (4 * white)));
        const int32_t y = r <= (kCrwHeight - 1) / 2 ? 2 * r : 2 * (r - (kCrwHeight + 1) / 2) + 1;
        PutGreyRow(image, y, values.data(), kCrwWidth);
      }
      if (!RowDone(r, kCrwHeight, 50 * pass, 50)) return TReadOutcome::Stopped;
    }
    if (pass == 0) white = BrightPoint(count, int64_t{kCrwWidth} * kCrwHeight);
  }
  return RowsOutcome(whole);
}

TReadOutcome ReadCrw(TPkgStream* stream, TImage& image, const TProfile& options) {
  StartPicture(image, kCrwWidth, kCrwHeight, 1, 1);
  const TReadOutcome outcome = ReadCrwRows(stream, image);
  if (outcome != TReadOutcome::Stopped) FinishSensorPicture(image, options, kCrwKeys, kCrwSensor);
  return outcome;
}

} // namespace

TCameraKind IdentifyCamera(const uint8_t* head, size_t count) {
  if (count < kCameraHeaderSize) return TCameraKind::None;
  for (const TIdentification& id : kTexts)
    if (std::memcmp(head + id.offset, id.text, std::strlen(id.text) + 1) == 0) return id.kind;
  if (std::memcmp(head + kCrwMarkOffset, kCrwMark, sizeof kCrwMark - 1) == 0) return TCameraKind::Crw;
  return TCameraKind::None;
}

std::optional<TReadOutcome> ReadCamera(TPkgStream* stream, const char* path, TImage& image, const TProfile& options) {
  std::vector<uint8_t> head(kCameraHeaderSize);
  if (PkgSeek(stream, 0, SEEK_SET) != 0 || PkgRead(head.data(), 1, head.size(), stream) != head.size())
    return std::nullopt;
  switch (IdentifyCamera(head.data(), head.size())) {
  case TCameraKind::None: return std::nullopt;
  case TCameraKind::Dc120: return ReadDc120(stream, head.data(), path, image, options);
  case TCameraKind::Dc50: return ReadThumbnail(stream, image, 96, 64, 1280, false);
  case TCameraKind::Dc40: return ReadThumbnail(stream, image, 96, 64, 18432, true);
  case TCameraKind::Dc25: return ReadDc25(stream, head.data(), image, options);
  case TCameraKind::Crw: return ReadCrw(stream, image, options);
  }
  return std::nullopt;
}
