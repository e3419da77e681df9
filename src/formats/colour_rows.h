#pragma once
// Pixel conversions shared by the readers of today's formats (PNG, WebP,
// HEIF): their libraries deliver red, green, blue rows, with or without an
// alpha sample, while the picture stores blue, green, red. Pixels that are
// transparent, wholly or in part, are laid over the background colour
// settings, as the GIF reader shows its transparent colour.
#include <cstdint>

class TProfile;
class TImage;

struct TBackground {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
};

// BackgroundRed, BackgroundGreen and BackgroundBlue.
TBackground BackgroundOf(const TProfile& options);

// value over background with the given opacity (255 opaque), rounded.
inline uint8_t Compose(uint8_t value, uint8_t alpha, uint8_t background) {
  return static_cast<uint8_t>((value * alpha + background * (255 - alpha) + 127) / 255);
}

// The order of the colour samples a library delivers.
enum class TSampleOrder { Rgb, Bgr };

// Converts count pixels of channels samples each (3, or 4 with alpha last)
// into blue, green, red pixels at out; in and out may be the same buffer.
void ToBgrRow(const uint8_t* in, int32_t count, int channels, TSampleOrder order, const TBackground& background,
              uint8_t* out);

// Stores count decoded pixels of file row y as the 24-bit picture's row,
// converted as ToBgrRow does, through RowBuffer and PutRow. False when the
// picture has no buffer for the row.
bool PutConvertedRow(TImage& image, int32_t y, const uint8_t* in, int32_t count, int channels, TSampleOrder order,
                     const TBackground& background);

// The progress percentage for done of total steps; non-zero asks to stop.
int ReportRowProgress(int64_t done, int64_t total);
