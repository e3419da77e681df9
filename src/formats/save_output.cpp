#include "formats/save_output.h"

#include <utility>

#include "settings/profile.h"
#include "core/image.h"

TSaveSize PrepareSaveOutput(TImage& image, const TProfile& options) {
  const int32_t orientation = options.Get(IntKey::Rotate);
  int32_t cropWidth = 0;
  int32_t cropHeight = 0;
  image.CropSize(cropWidth, cropHeight); // already exchanged when transposing
  // CropSize follows the orientation stored in the image; the one that counts
  // here is the orientation about to be set.
  if (((image.m_orientation ^ orientation) & 1) != 0) std::swap(cropWidth, cropHeight);
  const int32_t areaWidth = options.Get(IntKey::OutputWidth) > 0 ? options.Get(IntKey::OutputWidth) : cropWidth;
  const int32_t areaHeight = options.Get(IntKey::OutputHeight) > 0 ? options.Get(IntKey::OutputHeight) : cropHeight;
  image.SetOutputGeometry(areaWidth, areaHeight, 1, 1, orientation, true, true);
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  image.OutputRect(left, top, right, bottom);
  return {left, top, right - left, bottom - top};
}
