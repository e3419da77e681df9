#include "app/view_commands.h"

#include <algorithm>

#include "app/busy.h"
#include "app/command_ids.h"
#include "core/image.h"
#include "core/tone.h"
#include "core/view_geometry.h"
#include "settings/profile.h"

namespace {

// The four directions of the scroll keys in their order: left, up, right,
// down, as steps along x and y.
constexpr int32_t kStepX[4] = {-1, 0, 1, 0};
constexpr int32_t kStepY[4] = {0, -1, 0, 1};

void Scroll(int id, TImage& image) {
  const int group = (id - kCmPanLeft) / 4;
  const int direction = (id - kCmPanLeft) % 4;
  int32_t width = 0, height = 0;
  image.CropSize(width, height);
  if (id >= kCmNarrower) {
    SetVisibleSize(image, width + kStepX[direction], height + kStepY[direction]);
    return;
  }
  // An eighth, all, or one pixel of the visible part; at least one pixel.
  const int32_t stepX = group == 0 ? std::max(width / 8, 1) : group == 1 ? width : 1;
  const int32_t stepY = group == 0 ? std::max(height / 8, 1) : group == 1 ? height : 1;
  Pan(image, kStepX[direction] * stepX, kStepY[direction] * stepY);
}

uint32_t ToneCommand(int id, TImage& image, TProfile& settings, int32_t areaWidth, int32_t areaHeight) {
  TViewTone tone{settings.Get(IntKey::Rotate), settings.Get(IntKey::Brightness), settings.Get(IntKey::Contrast),
                 settings.Get(IntKey::Invert)};
  const uint32_t effect = ApplyViewToneCommand(id, tone);
  settings.Set(IntKey::Rotate, tone.rotate);
  settings.Set(IntKey::Brightness, tone.brightness);
  settings.Set(IntKey::Contrast, tone.contrast);
  settings.Set(IntKey::Invert, tone.invert);
  if (effect & kEffectResetView) {
    // The reset view is laid out in the orientation just restored.
    image.m_orientation = tone.rotate;
    ZoomStep(image, ZoomDirection::Reset, areaWidth, areaHeight, settings.Get(IntKey::AutoScale),
             settings.Get(IntKey::AutoFit));
  }
  return effect;
}

} // namespace

bool IsViewCommand(int id) {
  return (id >= kCmZoomIn && id <= kCmResetView) || (id >= kCmPanLeft && id <= kCmLastScroll);
}

uint32_t ApplyViewCommand(int id, TImage& image, TProfile& settings, int32_t areaWidth, int32_t areaHeight) {
  const bool autoScale = settings.Get(IntKey::AutoScale);
  const bool autoFit = settings.Get(IntKey::AutoFit);
  switch (id) {
  case kCmZoomIn:
  case kCmZoomOut:
    ZoomStep(image, id == kCmZoomIn ? ZoomDirection::In : ZoomDirection::Out, areaWidth, areaHeight, autoScale,
             autoFit);
    return kEffectShowAgain;
  case kCmCrop: {
    TBusyScope busy;
    BusyProgress(50);
    CropUniformBorders(image);
    return kEffectShowAgain;
  }
  default:
    if (id >= kCmRotate && id <= kCmResetView) return ToneCommand(id, image, settings, areaWidth, areaHeight);
    if (id < kCmPanLeft || id > kCmLastScroll) return kEffectNone;
    Scroll(id, image);
    return kEffectShowAgain;
  }
}
