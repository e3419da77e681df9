#pragma once
// The body shared by the fuzz targets of the stream readers: the input is
// written into a scratch stream, rewound and read, with the viewer's default
// settings, into one picture kept for the whole run (as the program keeps
// its one picture from file to file).
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "settings/profile.h"
#include "core/image.h"
#include "core/pixel_memory.h"
#include "filepkg/filepkg.h"

namespace fuzzsupport {

// The most memory one picture may claim while fuzzing. A tiny header that
// declares a huge picture then gets a reduced one, as it would on a machine
// short of memory, and costs little; every target that reads pictures
// includes this header, so the cap is in place before the first input.
inline constexpr int64_t kPictureBudget = int64_t{16} << 20;
inline const bool kPictureBudgetSet = (SetPixelMemoryBudget(kPictureBudget), true);

// Larger inputs add nothing the readers have not seen in smaller ones.
inline constexpr size_t kMaxInput = 1 << 20;

// reader is called as reader(stream, image, options); what it answers is
// left aside.
template <class TStreamReader>
int ReadThroughStream(const uint8_t* data, size_t size, TStreamReader reader) {
  if (size > kMaxInput) return 0;
  TPkgStream* stream = PkgTempStream(32768, 2);
  if (!stream) return 0;
  if (PkgWrite(data, 1, size, stream) == size && PkgSeek(stream, 0, SEEK_SET) == 0) {
    static const TProfile options;
    static TImage image(options.Ref(IntKey::ZoomMul), options.Ref(IntKey::ZoomDiv), options.Ref(IntKey::GIFOver),
                        options.Ref(IntKey::GIFDpi1), options.Ref(IntKey::GIFDpi2), options.Ref(IntKey::GIFDpi3));
    reader(stream, image, options);
  }
  PkgClose(stream, 0);
  return 0;
}

} // namespace fuzzsupport
