// TIFF reader: the first input byte chooses the reading settings (bit 0
// QuickLook, bit 1 reading the second page through the page suffix), the
// rest is the file, read from a scratch stream into a picture; the page
// count is taken from the same stream. Files that carry a camera
// identification reach the camera decoders first.
#include "formats/tiff.h"
#include "support/fuzz_reader.h"

namespace {

// The settings and name of the current input; the shared body's own
// settings are the defaults, which this target varies.
TProfile g_options;
const char* g_name = "fuzz.tif";

void ReadAndCount(TPkgStream* stream, TImage& image, const TProfile&) {
  ReadTiff(stream, g_name, image, g_options);
  TiffPageCount(stream);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  g_options.Set(IntKey::QuickLook, data[0] & 1);
  g_name = (data[0] & 2) ? "fuzz.tif/page0002.tif" : "fuzz.tif";
  return fuzzsupport::ReadThroughStream(data + 1, size - 1, ReadAndCount);
}
