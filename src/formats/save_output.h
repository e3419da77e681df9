#pragma once
// The output step every writer starts with: the cropped picture, oriented by
// the setting Rotate, scaled by nearest neighbour to fit inside OutputWidth x
// OutputHeight (0 = the crop's own size) with its aspect ratio kept. The
// writer then writes width x height pixels, fetching row r with
// image.OutputRow(left, top + r, buffer, width).
#include <cstdint>

class TImage;
class TProfile;

struct TSaveSize {
  int32_t left;
  int32_t top;
  int32_t width;
  int32_t height;
};

TSaveSize PrepareSaveOutput(TImage& image, const TProfile& options);
