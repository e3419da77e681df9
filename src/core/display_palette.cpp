#include "core/display_palette.h"

#include "core/colour_reduction.h"
#include "core/image.h"

namespace {
constexpr int32_t kSampleArea = 255;
}

void ComputeDisplayPalette(TImage& image) {
  image.m_directPaletteCount = 0;
  image.SetOutputGeometry(kSampleArea, kSampleArea, 1, 1, 0, true, true);
  TReductionWriters writers;
  writers.header = [&image](int32_t, int32_t, int32_t count, const uint8_t* bgr) {
    for (int32_t i = 0; i < count; ++i) {
      image.m_directBlue[i] = bgr[3 * i];
      image.m_directGreen[i] = bgr[3 * i + 1];
      image.m_directRed[i] = bgr[3 * i + 2];
    }
    image.m_directPaletteCount = count;
    return true;
  };
  ReduceColours(image, nullptr, TRowOrder::Sequential, kDisplayPaletteColours, writers);
}

void PrepareLoadedPicture(TImage& image, TPaletteSort sort) {
  if (image.BytesPerPixel() == 1) {
    if (sort == TPaletteSort::Sort) image.SortPalette();
    return;
  }
  ComputeDisplayPalette(image);
}
