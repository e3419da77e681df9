#pragma once
// Bitmaps between the core's form (bottom-up rows of palette indices or
// blue, green, red) and Qt's images, for the clipboard.
#include <memory>

#include <QImage>

struct TDib;

QImage ImageFromBitmap(const TDib& dib);
// Palette pictures stay 8-bit with their colours; every other image becomes
// 24-bit (transparency dropped). nullptr for a null image.
std::unique_ptr<TDib> BitmapFromImage(const QImage& image);
