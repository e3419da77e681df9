#include "core/view_geometry.h"

#include <algorithm>
#include <array>
#include <utility>

#include "core/image.h"

namespace {

// Rectangles are (left, width, top, height): axis 0 is x, axis 1 is y.
int32_t& Start(std::array<int32_t, 4>& rect, int axis) { return rect[2 * axis]; }
int32_t& Extent(std::array<int32_t, 4>& rect, int axis) { return rect[2 * axis + 1]; }

int32_t ToInt32(int64_t value) { return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX)); }

bool Transposed(const TImage& image) { return (image.m_orientation & kTranspose) != 0; }

// The zoom and aspect terms as fractions (zN / zD, xN / xD, yN / yD).
struct TTerms {
  TFraction zoom;
  TFraction x;
  TFraction y;
};

TTerms ReadTerms(const TImage& image) {
  const auto& t = image.m_zoomTerms;
  return {NormaliseFraction(t[0], t[1]), NormaliseFraction(t[2], t[3]),
          NormaliseFraction(t[4], t[5])};
}

void WriteTerms(TImage& image, const TTerms& terms) {
  image.m_zoomTerms = {terms.zoom.num, terms.zoom.den, terms.x.num,
                       terms.x.den,    terms.y.num,    terms.y.den};
}

// Keeps fullRect inside the picture and the crop inside fullRect: sizes
// from 1 to fullRect's, a crop reaching past the far edge moved back.
void Clamp(TImage& image) {
  for (int axis = 0; axis < 2; ++axis) {
    const int32_t limit = axis == 0 ? image.m_width : image.m_height;
    int32_t& fullStart = Start(image.m_fullRect, axis);
    int32_t& fullExtent = Extent(image.m_fullRect, axis);
    fullStart = std::clamp(fullStart, 0, limit - 1);
    fullExtent = std::clamp(fullExtent, 1, limit - fullStart);
    int32_t& start = Start(image.m_cropRect, axis);
    int32_t& extent = Extent(image.m_cropRect, axis);
    extent = std::clamp(extent, 1, fullExtent);
    start = std::clamp(start, fullStart, fullStart + fullExtent - extent);
  }
}

void Recentre(TImage& image, int axis) {
  Start(image.m_cropRect, axis) = image.m_centre[axis] - Extent(image.m_cropRect, axis) / 2;
}

void CentreOnCrop(TImage& image) {
  for (int axis = 0; axis < 2; ++axis) {
    image.m_centre[axis] = Start(image.m_cropRect, axis) + Extent(image.m_cropRect, axis) / 2;
  }
}

// Shrinks the aspect terms so that a source of sw x sh fits an area of
// a x ah, when it would not fit at scale 1.
void FoldFitFactor(TTerms& terms, int64_t sw, int64_t sh, int64_t a, int64_t ah) {
  const int64_t nw = sw * terms.x.num / terms.x.den;
  const int64_t nh = sh * terms.y.num / terms.y.den;
  if (nw <= a && nh <= ah) return;
  const TFraction k = nw * ah < a * nh ? NormaliseFraction(ah * terms.y.den, sh * terms.y.num)
                                       : NormaliseFraction(a * terms.x.den, sw * terms.x.num);
  terms.x = NormaliseFraction(int64_t{terms.x.num} * k.num, int64_t{terms.x.den} * k.den);
  terms.y = NormaliseFraction(int64_t{terms.y.num} * k.num, int64_t{terms.y.den} * k.den);
}

// How much of the source an area of a x ah shows at the current terms.
std::pair<int64_t, int64_t> VisibleSource(const TTerms& t, int64_t a, int64_t ah) {
  return {a * t.zoom.den * t.x.den / (int64_t{t.zoom.num} * t.x.num),
          ah * t.zoom.den * t.y.den / (int64_t{t.zoom.num} * t.y.num)};
}

// Output size of a source extent at the current zoom and aspect term.
int64_t Displayed(int64_t extent, const TFraction& zoom, const TFraction& aspect) {
  return extent * zoom.num * aspect.num / (int64_t{zoom.den} * aspect.den);
}

// The picture point shown at (x, y) of the area: the placed output's pixel
// under it (the nearest one when outside), traced back through the
// orientation and the maps.
std::pair<int32_t, int32_t> AreaToPicture(const TImage& image, int32_t x, int32_t y) {
  const int32_t outWidth = std::clamp(image.m_outputPlacement[1], 1, kMaxImageSide);
  const int32_t outHeight = std::clamp(image.m_outputPlacement[3], 1, kMaxImageSide);
  int32_t ox = ToInt32(std::clamp<int64_t>(int64_t{x} - image.m_outputPlacement[0], 0, outWidth - 1));
  int32_t oy = ToInt32(std::clamp<int64_t>(int64_t{y} - image.m_outputPlacement[2], 0, outHeight - 1));
  if (image.m_orientation & kFlip) oy = outHeight - 1 - oy;
  if (image.m_orientation & kMirror) ox = outWidth - 1 - ox;
  if (Transposed(image)) std::swap(ox, oy);
  return {image.m_columnMap[ox], image.m_rowMap[oy]};
}

void ApplyAutoScaleStep(TImage& image, ZoomDirection direction, int64_t a, int64_t ah) {
  auto& crop = image.m_cropRect;
  if (direction == ZoomDirection::Reset) {
    image.m_fullRect = {0, image.m_width, 0, image.m_height};
    crop = image.m_fullRect;
  } else {
    // Extend the crop to the area's aspect, then halve or double it.
    const int64_t cw = crop[1];
    const int64_t ch = crop[3];
    int64_t width = cw;
    int64_t height = ah * cw / a;
    if (ah * cw < a * ch) {
      width = a * ch / ah;
      height = ch;
    }
    const bool in = direction == ZoomDirection::In;
    crop[1] = ToInt32(in ? width / 2 : width * 2);
    crop[3] = ToInt32(in ? height / 2 : height * 2);
  }
  TTerms terms = ReadTerms(image);
  terms.zoom = {1, 1};
  WriteTerms(image, terms);
}

} // namespace

TFraction NormaliseFraction(int64_t num, int64_t den) {
  if (num <= 0) num = 1;
  if (den <= 0) den = 1;
  for (const int64_t prime : {2, 3, 5, 7, 11}) {
    while (num % prime == 0 && den % prime == 0) {
      num /= prime;
      den /= prime;
    }
  }
  while (num > 32767 || den > 32767) {
    num /= 2;
    den /= 2;
  }
  // Halving a term far smaller than the other could leave 0.
  return {static_cast<int32_t>(std::max<int64_t>(num, 1)), static_cast<int32_t>(std::max<int64_t>(den, 1))};
}

void Layout(TImage& image, int32_t areaWidth, int32_t areaHeight, int32_t deviceXDpi,
            int32_t deviceYDpi, int32_t orientation, bool autoScale, bool autoFit) {
  image.m_orientation = orientation & (kTranspose | kMirror | kFlip);
  Clamp(image);
  const bool transposed = Transposed(image);
  const int64_t a = std::max(areaWidth, 1);
  const int64_t ah = std::max(areaHeight, 1);
  // Output axis x shows the picture's axis 1 when transposed.
  const int xAxis = transposed ? 1 : 0;
  const int yAxis = 1 - xAxis;
  int64_t sw = Extent(image.m_cropRect, xAxis);
  int64_t sh = Extent(image.m_cropRect, yAxis);

  // Pixel aspect: the device's dot shape against the picture's.
  const TFraction device = NormaliseFraction(deviceXDpi, deviceYDpi);
  const TFraction pq = NormaliseFraction(int64_t{device.num} * image.EffectiveYDpi(),
                                         int64_t{device.den} * image.EffectiveXDpi());
  const int64_t p = pq.num;
  const int64_t q = pq.den;
  TTerms terms = ReadTerms(image);
  if (p < q) {
    terms.x = {1, 1};
    terms.y = {pq.den, pq.num};
  } else {
    terms.x = pq;
    terms.y = {1, 1};
  }

  int64_t w = 0;
  int64_t h = 0;
  if (autoScale) {
    if (sw * p * ah < q * sh * a) {
      w = sw * p * ah / (q * sh);
      h = ah;
    } else {
      w = a;
      h = q * sh * a / (sw * p);
    }
  } else {
    if (autoFit) FoldFitFactor(terms, sw, sh, a, ah);
    w = Displayed(sw, terms.zoom, terms.x);
    h = Displayed(sh, terms.zoom, terms.y);
    // A crop showing more than the area holds is narrowed around the centre.
    if (w > a) {
      sw = std::max<int64_t>(VisibleSource(terms, a, ah).first, 1);
      Extent(image.m_cropRect, xAxis) = ToInt32(sw);
      w = Displayed(sw, terms.zoom, terms.x);
      Recentre(image, xAxis);
    }
    if (h > ah) {
      sh = std::max<int64_t>(VisibleSource(terms, a, ah).second, 1);
      Extent(image.m_cropRect, yAxis) = ToInt32(sh);
      h = Displayed(sh, terms.zoom, terms.y);
      Recentre(image, yAxis);
    }
    Clamp(image);
  }
  WriteTerms(image, terms);

  const int32_t outWidth = ToInt32(std::clamp<int64_t>(w, 1, kMaxImageSide));
  const int32_t outHeight = ToInt32(std::clamp<int64_t>(h, 1, kMaxImageSide));
  image.m_outputPlacement = {ToInt32((a - outWidth) / 2), outWidth, ToInt32((ah - outHeight) / 2),
                             outHeight};
  image.BuildMaps();
}

void ZoomStep(TImage& image, ZoomDirection direction, int32_t areaWidth, int32_t areaHeight,
              bool autoScale, bool autoFit) {
  int64_t a = std::max(areaWidth, 1);
  int64_t ah = std::max(areaHeight, 1);
  if (Transposed(image)) std::swap(a, ah);
  auto& crop = image.m_cropRect;

  if (autoScale) {
    ApplyAutoScaleStep(image, direction, a, ah);
  } else {
    TTerms terms = ReadTerms(image);
    const TFraction before = terms.zoom;
    const int64_t mul = std::max(*image.m_zoomMul, 1);
    const int64_t div = std::max(*image.m_zoomDiv, 1);
    if (direction == ZoomDirection::In) {
      terms.zoom = NormaliseFraction(terms.zoom.num * mul, terms.zoom.den * div);
      const auto [vw, vh] = VisibleSource(terms, a, ah);
      if (vw == 0 || vh == 0) terms.zoom = before;
    } else if (direction == ZoomDirection::Out) {
      crop[1] = image.m_fullRect[1];
      crop[3] = image.m_fullRect[3];
      terms.zoom = NormaliseFraction(terms.zoom.num * div, terms.zoom.den * mul);
      if (Displayed(crop[1], terms.zoom, terms.x) == 0 ||
          Displayed(crop[3], terms.zoom, terms.y) == 0) {
        terms.zoom = before;
      }
    } else {
      image.m_fullRect = {0, image.m_width, 0, image.m_height};
      crop = image.m_fullRect;
      terms.zoom = {1, 1};
      if (autoFit) FoldFitFactor(terms, image.m_width, image.m_height, a, ah);
    }
    const auto [vw, vh] = VisibleSource(terms, a, ah);
    crop[1] = ToInt32(std::min<int64_t>(crop[1], vw));
    crop[3] = ToInt32(std::min<int64_t>(crop[3], vh));
    WriteTerms(image, terms);
  }

  crop[1] = std::min(crop[1], image.m_width);
  crop[3] = std::min(crop[3], image.m_height);
  Recentre(image, 0);
  Recentre(image, 1);
  Clamp(image);
}

void ZoomToRect(TImage& image, int32_t left, int32_t top, int32_t right, int32_t bottom,
                int32_t areaWidth, int32_t areaHeight, bool autoScale, bool autoFit) {
  const auto [x1, y1] = AreaToPicture(image, left, top);
  const auto [x2, y2] = AreaToPicture(image, right, bottom);
  auto& crop = image.m_cropRect;
  crop = {std::min(x1, x2), std::abs(x2 - x1) + 1, std::min(y1, y2), std::abs(y2 - y1) + 1};
  Clamp(image);

  if (autoFit && !autoScale) {
    // A crop smaller than the area is magnified by the largest whole factor
    // that fits. A larger one is left at scale 1: the layout's fit already
    // shrinks it to the area, and a reduction on top of that would show the
    // selection smaller than it was dragged.
    int32_t a = std::max(areaWidth, 1);
    int32_t ah = std::max(areaHeight, 1);
    if (Transposed(image)) std::swap(a, ah);
    TTerms terms = ReadTerms(image);
    if (crop[1] > a || crop[3] > ah) {
      terms.zoom = {1, 1};
    } else {
      terms.zoom = NormaliseFraction(std::min(a / crop[1], ah / crop[3]), 1);
    }
    WriteTerms(image, terms);
  }
  CentreOnCrop(image);
}

void CentreOn(TImage& image, int32_t x, int32_t y) {
  const auto [px, py] = AreaToPicture(image, x, y);
  image.m_centre = {px, py};
}

void Pan(TImage& image, int32_t dx, int32_t dy) {
  int64_t moveX = dx;
  int64_t moveY = dy;
  if (image.m_orientation & kFlip) moveY = -moveY;
  if (image.m_orientation & kMirror) moveX = -moveX;
  if (Transposed(image)) std::swap(moveX, moveY);
  auto& crop = image.m_cropRect;
  crop[0] = ToInt32(crop[0] + moveX);
  crop[2] = ToInt32(crop[2] + moveY);
  Clamp(image);
  CentreOnCrop(image);
}

void SetVisibleSize(TImage& image, int32_t width, int32_t height) {
  if (Transposed(image)) std::swap(width, height);
  image.m_cropRect[1] = width;
  image.m_cropRect[3] = height;
  Clamp(image);
}

namespace {

// Counts the distinct byte values of the pixels added: a pixel's index, or
// each of its three colour bytes.
class TDistinctBytes {
public:
  void Add(const uint8_t* pixel, int32_t bytesPerPixel) {
    for (int32_t b = 0; b < bytesPerPixel; ++b) {
      if (!m_seen[pixel[b]]) {
        m_seen[pixel[b]] = true;
        ++m_count;
      }
    }
  }
  int32_t Count() const { return m_count; }

private:
  std::array<bool, 256> m_seen{};
  int32_t m_count = 0;
};

int32_t DistinctInRow(const TImage& image, int32_t row) {
  const auto& crop = image.m_cropRect;
  const int32_t bpp = image.m_bytesPerPixel;
  TDistinctBytes distinct;
  const uint8_t* pixel = image.Row(row) + crop[0] * bpp;
  for (int32_t k = 0; k < crop[1]; ++k, pixel += bpp) distinct.Add(pixel, bpp);
  return distinct.Count();
}

int32_t DistinctInColumn(const TImage& image, int32_t column) {
  const auto& crop = image.m_cropRect;
  const int32_t bpp = image.m_bytesPerPixel;
  TDistinctBytes distinct;
  for (int32_t i = crop[2]; i < crop[2] + crop[3]; ++i) {
    distinct.Add(image.Row(i) + column * bpp, bpp);
  }
  return distinct.Count();
}

} // namespace

void CropUniformBorders(TImage& image) {
  Clamp(image);
  auto& crop = image.m_cropRect;
  // The threshold follows the picture's variety: a fraction of its colours,
  // but no more than a quarter of what its middle row and column show.
  int32_t threshold = image.m_colourCount / 16;
  threshold = std::min(threshold, DistinctInRow(image, crop[2] + (crop[3] - 1) / 2) / 4);
  threshold = std::min(threshold, DistinctInColumn(image, crop[0] + (crop[1] - 1) / 2) / 4);
  threshold = std::max(threshold, 1);

  for (bool removed = true; removed;) {
    removed = false;
    while (crop[3] > 1 && DistinctInRow(image, crop[2]) <= threshold) {
      ++crop[2];
      --crop[3];
      removed = true;
    }
    while (crop[3] > 1 && DistinctInRow(image, crop[2] + crop[3] - 1) <= threshold) {
      --crop[3];
      removed = true;
    }
    while (crop[1] > 1 && DistinctInColumn(image, crop[0]) <= threshold) {
      ++crop[0];
      --crop[1];
      removed = true;
    }
    while (crop[1] > 1 && DistinctInColumn(image, crop[0] + crop[1] - 1) <= threshold) {
      --crop[1];
      removed = true;
    }
  }
  image.m_fullRect = crop;
  CentreOnCrop(image);
}
