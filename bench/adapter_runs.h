#pragma once
// Pieces shared by the benchmarks of the JPEG and TIFF adapters: the best of
// three timings, and one reading of a file through a package stream and a
// reader entry into a picture.
#include <algorithm>
#include <functional>
#include <string>

#include "app/profile.h"
#include "core/image.h"
#include "filepkg/filepkg.h"

namespace adapterbench {

inline constexpr int kRuns = 3;

// The shortest of kRuns timings; negative when a run failed.
inline double BestOf(const std::function<double()>& run) {
  double best = -1.0;
  for (int i = 0; i < kRuns; ++i) {
    const double seconds = run();
    if (seconds < 0) return -1.0;
    best = best < 0 ? seconds : std::min(best, seconds);
  }
  return best;
}

using TPathReader = void (*)(TPkgStream*, const char*, TImage&, const TProfile&);

// Reads the file at path with reader; false when the file could not be
// opened or no picture was made.
inline bool Decode(TPathReader reader, const std::string& path, TImage& image, const TProfile& options) {
  TPkgStream* stream = PkgOpen(path.c_str(), "rb");
  if (!stream) return false;
  reader(stream, path.c_str(), image, options);
  PkgClose(stream, 0);
  return image.Width() > 1;
}

} // namespace adapterbench
