#include "formats/bmp.h"

#include "core/image.h"

void ReadBmp(TPkgStream*, TImage& image, const TProfile&) {
  image.Create(1, 1, 1, 1, 1, 1, 1, 0);
}

int WriteBmp(const char*, TImage&, const TProfile&, TDither*) {
  return 1;
}
