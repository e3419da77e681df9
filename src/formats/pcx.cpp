#include "formats/pcx.h"

#include "core/image.h"

void ReadPcx(TPkgStream*, TImage& image, const TProfile&) {
  image.Create(2, 1, 1, 1, 1, 1, 1, 0);
}

int WritePcx(const char*, TImage&, const TProfile&, TDither*) {
  return 1;
}
