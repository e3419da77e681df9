// JPEG decoding and encoding through the adapter beside djpeg and cjpeg, in
// one run, best of three each.
//
// Decoding: a 4000 x 3000 quality-75 JPEG made by cjpeg, read by us (package
// stream, adapter, picture) against "djpeg -dct fast -nosmooth -outfile
// /dev/null", the same library work with the settings we read with.
// Encoding: the decoded picture written by us with the default settings
// (quality 75, optimised tables, fast DCT) against cjpeg doing the same from
// the PPM. Peak memory: a fresh copy of this program that only decodes,
// measured by the kernel's maximum resident set size.
//
// Usage: bench_jpeg_codec [width height]
//        bench_jpeg_codec --decode-only FILE   (the child of the memory test)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "settings/profile.h"
#include "bench_support.h"
#include "core/image.h"
#include "formats/jpeg.h"
#include "formats/picture_io.h"

namespace {

using bench::BestOf;

bool Decode(const std::string& path, TImage& image, const TProfile& options) {
  return bench::DecodeFile(ReadJpeg, path, image, options);
}

// The child of the memory measurement: decodes once and exits.
int DecodeOnly(const char* path) {
  const TProfile options;
  const auto image = NewImageFor(options);
  return Decode(path, *image, options) ? 0 : 1;
}

// Maximum resident set size in MiB of a fresh copy of this program decoding
// path; negative when it failed.
double PeakDecodeMiB(const char* self, const std::string& path) {
  const pid_t child = fork();
  if (child == 0) {
    execl(self, self, "--decode-only", path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return -1.0;
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void Report(const char* what, double ours, const char* peerName, double peer, double target) {
  std::printf("%s\n  ours: %.3f s\n  %s: %.3f s\n  ratio ours / %s: %.3f (target at most %.2f)\n", what, ours,
              peerName, peer, peerName, ours / peer, target);
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--decode-only") == 0) return DecodeOnly(argv[2]);
  bench::TScratchDir dir;
  bench::TPpm picture = bench::PhotoLikeFromArguments(argc, argv, dir);
  if (picture.rgb.empty()) return 1;
  // A forked child starts with this process's resident pages, which would
  // count towards its peak, so the pixels are released first.
  std::vector<uint8_t>().swap(picture.rgb);
  const std::string ppm = dir / "in.ppm";
  const std::string jpeg = dir / "in.jpg";
  if (bench::CommandSeconds("cjpeg -quality 75 -outfile " + jpeg + " " + ppm) < 0) {
    std::fprintf(stderr, "cjpeg failed\n");
    return 1;
  }
  const double peakMiB = PeakDecodeMiB(argv[0], jpeg);

  const TProfile options;
  const auto image = NewImageFor(options);
  // Creating the 24-bit picture is part of our decoding that djpeg, writing
  // to /dev/null, does not do: the system must supply 36 MB of fresh memory.
  // It is timed on its own, in the same state of memory as the decoding.
  double allocation = -1.0;
  const double oursDecode = BestOf([&] {
    const double create = bench::Seconds([&] { image->Create(4, picture.width, picture.height, 1, 1, 3, 1, 0); });
    allocation = allocation < 0 ? create : std::min(allocation, create);
    bool ok = false;
    const double seconds = bench::Seconds([&] { ok = Decode(jpeg, *image, options); });
    return ok ? seconds : -1.0;
  });
  const double peerDecode =
      BestOf([&] { return bench::CommandSeconds("djpeg -dct fast -nosmooth -outfile /dev/null " + jpeg); });

  const std::string oursOut = dir / "ours.jpg";
  const std::string peerOut = dir / "peer.jpg";
  const double oursEncode = BestOf([&] {
    int result = 1;
    const double seconds = bench::Seconds([&] { result = WriteJpeg(oursOut.c_str(), *image, options, nullptr); });
    return result == 0 ? seconds : -1.0;
  });
  const double peerEncode = BestOf([&] {
    return bench::CommandSeconds("cjpeg -quality 75 -optimize -dct fast -outfile " + peerOut + " " + ppm);
  });
  if (oursDecode < 0 || peerDecode < 0 || oursEncode < 0 || peerEncode < 0) {
    std::fprintf(stderr, "a run failed\n");
    return 1;
  }
  std::printf("JPEG %d x %d, quality 75\n", picture.width, picture.height);
  Report("decode (package stream, adapter, picture)", oursDecode, "djpeg", peerDecode, 1.15);
  std::printf("  of which creating the picture: %.3f s; without it the ratio is %.3f\n", allocation,
              (oursDecode - allocation) / peerDecode);
  Report("encode (picture, adapter, file)", oursEncode, "cjpeg", peerEncode, 1.15);
  std::printf("peak memory decoding: %.1f MiB (target at most 60)\n", peakMiB);
  return 0;
}
