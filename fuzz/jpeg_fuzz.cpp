// JPEG reader: the first input byte chooses the reading settings (bit 0
// QuickLook, bit 1 two-pass quantisation, bit 2 one-pass quantisation, bit 3
// grey output, bit 4 accurate DCT with fancy upsampling), the rest is the
// file, read from a scratch stream into a picture. Camera wrappers are
// recognised by the data source from the file's first bytes, so they are
// reached too.
#include <cstdint>
#include <cstdio>

#include "app/profile.h"
#include "core/image.h"
#include "filepkg/filepkg.h"
#include "formats/jpeg.h"

namespace {
constexpr size_t kMaxInput = 1 << 20;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxInput) return 0;
  const uint8_t choice = data[0];
  TPkgStream* stream = PkgTempStream(32768, 2);
  if (!stream) return 0;
  if (PkgWrite(data + 1, 1, size - 1, stream) == size - 1 && PkgSeek(stream, 0, SEEK_SET) == 0) {
    static TProfile options;
    options.Set(IntKey::QuickLook, choice & 1);
    options.Set(IntKey::JPEGTwoPass, (choice >> 1 | choice >> 2) & 1);
    options.Set(IntKey::EnableFastQuantize, (choice >> 2) & 1);
    options.Set(IntKey::JPEGUseMonochrome, (choice >> 3) & 1);
    options.Set(IntKey::EnableFastInputDCT, !((choice >> 4) & 1));
    options.Set(IntKey::EnableFastUpsampling, !((choice >> 4) & 1));
    static TImage image(options.Ref(IntKey::ZoomMul), options.Ref(IntKey::ZoomDiv), options.Ref(IntKey::GIFOver),
                        options.Ref(IntKey::GIFDpi1), options.Ref(IntKey::GIFDpi2), options.Ref(IntKey::GIFDpi3));
    ReadJpeg(stream, "fuzz.jpg", image, options);
  }
  PkgClose(stream, 0);
  return 0;
}
