// JPEG reader: the first input byte chooses the reading settings (bit 0
// QuickLook, bit 1 two-pass quantisation, bit 2 one-pass quantisation, bit 3
// grey output, bit 4 accurate DCT with fancy upsampling), the rest is the
// file, read from a scratch stream into a picture. Camera wrappers are
// recognised by the data source from the file's first bytes, so they are
// reached too.
#include "formats/jpeg.h"
#include "support/fuzz_reader.h"

namespace {

// The settings of the current input; the shared body's own settings are the
// defaults, which this target varies.
TProfile g_options;

void ChooseSettings(uint8_t choice) {
  g_options.Set(IntKey::QuickLook, choice & 1);
  g_options.Set(IntKey::JPEGTwoPass, (choice >> 1 | choice >> 2) & 1);
  g_options.Set(IntKey::EnableFastQuantize, (choice >> 2) & 1);
  g_options.Set(IntKey::JPEGUseMonochrome, (choice >> 3) & 1);
  g_options.Set(IntKey::EnableFastInputDCT, !((choice >> 4) & 1));
  g_options.Set(IntKey::EnableFastUpsampling, !((choice >> 4) & 1));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  ChooseSettings(data[0]);
  return fuzzsupport::ReadThroughStream(data + 1, size - 1, [](TPkgStream* stream, TImage& image, const TProfile&) {
    ReadJpeg(stream, "fuzz.jpg", image, g_options);
  });
}
