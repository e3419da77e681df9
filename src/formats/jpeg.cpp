#include "formats/jpeg.h"

#include "filepkg/filepkg.h"

void ReadJpeg(TPkgStream* stream, const char* path, TImage& image, const TProfile& options) {
  (void)stream;
  (void)path;
  (void)image;
  (void)options;
}

int WriteJpeg(const char* path, TImage& image, const TProfile& options, TDither* ditherer) {
  (void)path;
  (void)image;
  (void)options;
  (void)ditherer;
  return 1;
}
