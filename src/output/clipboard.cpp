#include "output/clipboard.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/dither.h"
#include "core/image.h"
#include "core/pixel_memory.h"
#include "core/tone.h"
#include "core/view_geometry.h"
#include "settings/profile.h"

namespace {

// An empty bitmap of the size, its rows allocated but not cleared: every
// row is written next. nullptr when the memory cannot be had.
std::unique_ptr<TDib> NewBitmap(int32_t width, int32_t height, int32_t bitCount) {
  auto dib = std::make_unique<TDib>();
  dib->width = width;
  dib->height = height;
  dib->bitCount = bitCount;
  const int64_t bytes = int64_t{dib->Stride()} * height;
  if (!PixelMemoryFits(bytes)) return nullptr;
  dib->bits.resize(static_cast<size_t>(bytes));
  return dib;
}

// The tone settings of the window; the clipboard always gets colour.
TToneSettings ToneOf(const TProfile& settings) {
  return {settings.Get(IntKey::Brightness), settings.Get(IntKey::Contrast), settings.Get(IntKey::Invert),
          settings.Get(IntKey::EnableColorInvert)};
}

} // namespace

std::unique_ptr<TDib> ExportBitmap(TImage& image, const TProfile& settings, int32_t displayDepth) {
  const bool trueColour = image.BytesPerPixel() == 3;
  const int32_t bytes = trueColour && displayDepth <= 8 ? 1 : image.BytesPerPixel();
  int32_t width = 0, height = 0;
  image.CropSize(width, height);
  // Room for the bitmap and a quarter more for the work around it.
  while ((width > 1 || height > 1) && !PixelMemoryFits(int64_t{width} * height * bytes * 10 / 8)) {
    width = std::max(width / 2, 1);
    height = std::max(height / 2, 1);
  }
  Layout(image, width, height, 1, 1, settings.Get(IntKey::Rotate), true, true);
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  image.OutputRect(left, top, right, bottom);
  const int32_t outWidth = std::max(right - left, 1);
  const int32_t outHeight = std::max(bottom - top, 1);
  std::unique_ptr<TDib> dib = NewBitmap(outWidth, outHeight, bytes * 8);
  if (!dib) return nullptr;

  TLogPalette palette;
  image.GetPalette(palette);
  TDither ditherer(settings.Get(IntKey::DitherQuality));
  ditherer.SetSourcePalette(trueColour ? nullptr : &palette, TDitherTarget::Display, TColourMode::Colour,
                            ToneOf(settings));
  if (bytes == 1) {
    if (trueColour) {
      ditherer.StartDithering(palette);
    } else {
      ditherer.GetSourcePalette(palette);
    }
    dib->colourCount = palette.count;
    for (int i = 0; i < palette.count; ++i)
      dib->colours[i] = {palette.entries[i].blue, palette.entries[i].green, palette.entries[i].red, 0};
  }
  std::vector<uint8_t> row(static_cast<size_t>(outWidth) * 3);
  for (int32_t i = 0; i < outHeight; ++i) {
    const uint8_t* pixels = image.OutputRowView(left, top + i, row.data(), outWidth);
    if (pixels != row.data()) std::memcpy(row.data(), pixels, static_cast<size_t>(outWidth) * image.BytesPerPixel());
    if (trueColour && bytes == 1)
      ditherer.DitherRow(row.data(), outWidth, 3);
    else
      ditherer.ConvertRow(row.data(), outWidth, bytes, bytes);
    // Bitmap rows run from the bottom up.
    uint8_t* out = dib->bits.data() + static_cast<size_t>(outHeight - 1 - i) * dib->Stride();
    std::memcpy(out, row.data(), static_cast<size_t>(outWidth) * bytes);
    std::fill(out + static_cast<size_t>(outWidth) * bytes, out + dib->Stride(), 0);
  }
  return dib;
}

std::unique_ptr<TDib> BitmapFromPixels(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride) {
  std::unique_ptr<TDib> dib = NewBitmap(std::max(width, 1), std::max(height, 1), 24);
  if (!dib) return nullptr;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in = pixels + static_cast<ptrdiff_t>(y) * stride;
    uint8_t* out = dib->bits.data() + static_cast<size_t>(height - 1 - y) * dib->Stride();
    for (int32_t x = 0; x < width; ++x) std::memcpy(out + x * 3, in + x * 4, 3);
    std::fill(out + static_cast<size_t>(width) * 3, out + dib->Stride(), 0);
  }
  return dib;
}
