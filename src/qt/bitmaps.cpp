#include "qt/bitmaps.h"

#include <cstring>

#include "core/image.h"

QImage ImageFromBitmap(const TDib& dib) {
  const bool indexed = dib.bitCount == 8;
  QImage image(dib.width, dib.height, indexed ? QImage::Format_Indexed8 : QImage::Format_BGR888);
  if (indexed) {
    const int count = dib.colourCount > 0 ? dib.colourCount : 256;
    QList<QRgb> colours;
    for (int i = 0; i < count; ++i) colours << qRgb(dib.colours[i].red, dib.colours[i].green, dib.colours[i].blue);
    image.setColorTable(colours);
  }
  const size_t rowBytes = static_cast<size_t>(dib.width) * (indexed ? 1 : 3);
  for (int y = 0; y < dib.height; ++y)
    std::memcpy(image.scanLine(y), dib.bits.data() + static_cast<size_t>(dib.height - 1 - y) * dib.Stride(), rowBytes);
  return image;
}

std::unique_ptr<TDib> BitmapFromImage(const QImage& source) {
  if (source.isNull()) return nullptr;
  const bool indexed = source.format() == QImage::Format_Indexed8 && source.colorCount() <= 256;
  const QImage image = indexed ? source : source.convertToFormat(QImage::Format_BGR888);
  auto dib = std::make_unique<TDib>();
  dib->width = image.width();
  dib->height = image.height();
  dib->bitCount = indexed ? 8 : 24;
  if (indexed) {
    dib->colourCount = image.colorCount();
    for (int i = 0; i < image.colorCount(); ++i) {
      const QRgb colour = image.color(i);
      dib->colours[i] = {static_cast<uint8_t>(qBlue(colour)), static_cast<uint8_t>(qGreen(colour)),
                         static_cast<uint8_t>(qRed(colour)), 0};
    }
  }
  const size_t stride = static_cast<size_t>(dib->Stride());
  dib->bits.assign(stride * dib->height, 0);
  const size_t rowBytes = static_cast<size_t>(dib->width) * (indexed ? 1 : 3);
  for (int y = 0; y < dib->height; ++y)
    std::memcpy(dib->bits.data() + static_cast<size_t>(dib->height - 1 - y) * stride, image.constScanLine(y), rowBytes);
  return dib;
}
