// GIF frames: the input is claimed as a GIF of several frames and listed; the
// first frames listed are opened and read to their end.
#include "filepkg/pkg_gif_frames.h"
#include "support/fuzz_container.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzsupport::ReadContainer(data, size, GifFramesClaim, "x.gif", {""});
}
