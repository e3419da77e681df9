// TGA reader: the input is a TGA file (or anything else), read from a scratch
// stream into a picture with the viewer's default settings.
#include <cstdint>
#include <cstdio>

#include "app/profile.h"
#include "core/image.h"
#include "filepkg/filepkg.h"
#include "formats/tga.h"

namespace {
constexpr size_t kMaxInput = 1 << 20;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  TPkgStream* stream = PkgTempStream(32768, 2);
  if (!stream) return 0;
  if (PkgWrite(data, 1, size, stream) == size && PkgSeek(stream, 0, SEEK_SET) == 0) {
    static const TProfile options;
    static TImage image(options.Ref(IntKey::ZoomMul), options.Ref(IntKey::ZoomDiv), options.Ref(IntKey::GIFOver),
                        options.Ref(IntKey::GIFDpi1), options.Ref(IntKey::GIFDpi2), options.Ref(IntKey::GIFDpi3));
    ReadTga(stream, image, options);
  }
  PkgClose(stream, 0);
  return 0;
}
