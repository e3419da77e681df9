// TIFF reader: the first input byte chooses the reading settings (bit 0
// QuickLook, bit 1 reading the second page through the page suffix), the
// rest is the file, read from a scratch stream into a picture. Files that
// carry a camera identification reach the camera decoders first.
#include <cstdint>
#include <cstdio>

#include "app/profile.h"
#include "core/image.h"
#include "filepkg/filepkg.h"
#include "formats/tiff.h"

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
    static TImage image(options.Ref(IntKey::ZoomMul), options.Ref(IntKey::ZoomDiv), options.Ref(IntKey::GIFOver),
                        options.Ref(IntKey::GIFDpi1), options.Ref(IntKey::GIFDpi2), options.Ref(IntKey::GIFDpi3));
    ReadTiff(stream, (choice & 2) ? "fuzz.tif/page0002.tif" : "fuzz.tif", image, options);
    TiffPageCount(stream);
  }
  PkgClose(stream, 0);
  return 0;
}
