#include "formats/gif.h"

#include "core/image.h"
#include "filepkg/filepkg.h"

void ReadGif(TPkgStream* /*stream*/, TImage& /*image*/, const TProfile& /*options*/) {}

int WriteGif(const char* /*path*/, TImage& /*image*/, const TProfile& /*options*/, TDither* /*ditherer*/) {
  return 1;
}
