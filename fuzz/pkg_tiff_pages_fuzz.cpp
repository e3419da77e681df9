// TIFF pages: the input is claimed as a TIFF of several pages by walking its
// chain of directories; the pages listed are opened and read.
#include "filepkg/pkg_tiff_pages.h"
#include "support/fuzz_container.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzsupport::ReadContainer(data, size, TiffPagesClaim, "x.tif", {""});
}
