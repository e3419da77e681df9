#pragma once
// The bitmaps the Edit menu exchanges with the clipboard: the current view
// of the picture for Copy image, and the window's pixels for Copy window.
#include <cstdint>
#include <memory>

struct TDib;
class TImage;
class TProfile;

// The current view of the picture at its own size (the crop, turned as the
// window shows it) with the tone settings applied. A 24-bit picture stays
// 24-bit unless the display shows 256 colours or fewer; it is then dithered
// to its display palette. Halves the size while the memory for it cannot be
// had. Lays the view out for the bitmap: the caller lays it out for its
// window again afterwards. nullptr when no memory could be had at all.
std::unique_ptr<TDib> ExportBitmap(TImage& image, const TProfile& settings, int32_t displayDepth);

// Blue, green, red, unused pixels (a window surface) as a 24-bit bitmap.
std::unique_ptr<TDib> BitmapFromPixels(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride);
