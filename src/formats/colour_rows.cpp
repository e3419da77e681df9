#include "formats/colour_rows.h"

#include <algorithm>

#include "settings/profile.h"
#include "core/image.h"
#include "core/progress.h"

TBackground BackgroundOf(const TProfile& options) {
  return {static_cast<uint8_t>(options.Get(IntKey::BackgroundRed)),
          static_cast<uint8_t>(options.Get(IntKey::BackgroundGreen)),
          static_cast<uint8_t>(options.Get(IntKey::BackgroundBlue))};
}

void ToBgrRow(const uint8_t* in, int32_t count, int channels, TSampleOrder order, const TBackground& background,
              uint8_t* out) {
  const int redAt = order == TSampleOrder::Rgb ? 0 : 2;
  const int blueAt = 2 - redAt;
  for (int32_t i = 0; i < count; ++i, in += channels, out += 3) {
    uint8_t red = in[redAt];
    uint8_t green = in[1];
    uint8_t blue = in[blueAt];
    if (channels == 4 && in[3] != 255) {
      red = Compose(red, in[3], background.red);
      green = Compose(green, in[3], background.green);
      blue = Compose(blue, in[3], background.blue);
    }
    out[0] = blue;
    out[1] = green;
    out[2] = red;
  }
}

bool PutConvertedRow(TImage& image, int32_t y, const uint8_t* in, int32_t count, int channels, TSampleOrder order,
                     const TBackground& background) {
  // A reduced picture keeps only every reduction-th row.
  if (y % image.m_reduction != 0) return true;
  uint8_t* buffer = image.RowBuffer(0, y, count);
  if (!buffer) return false;
  ToBgrRow(in, count, channels, order, background, buffer);
  image.PutRow(0, y, buffer, count);
  return true;
}

int ReportRowProgress(int64_t done, int64_t total) {
  return ProgressReport(static_cast<int>(std::clamp<int64_t>(done * 100 / std::max<int64_t>(total, 1), 0, 100)));
}
