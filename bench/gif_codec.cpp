// GIF decoding and encoding beside giflib and ImageMagick, in one run.
//
// Decoding: a 4000 x 3000 256-colour GIF made by ImageMagick, read by us
// (package stream, GIF reader, picture) and written out as a PPM, against
// giflib's gif2rgb writing its RGB file and ImageMagick writing a PPM.
// Encoding: the decoded 256-colour picture written as GIF by us, against
// ImageMagick re-encoding the file. Peak memory: a fresh copy of this program
// that only decodes, measured by the kernel's maximum resident set size.
//
// Usage: bench_gif_codec [width height]
//        bench_gif_codec --decode-only FILE   (the child of the memory test)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "settings/profile.h"
#include "bench_support.h"
#include "core/image.h"
#include "filepkg/filepkg.h"
#include "formats/gif.h"

namespace {

constexpr int kRuns = 3;

// Wall-clock seconds and the processor seconds spent by this process and its
// children. Other work on the machine stretches the first, not the second.
struct TTimes {
  double wall = -1.0;
  double cpu = -1.0;
};

double CpuSeconds() {
  double total = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    getrusage(who, &usage);
    total += usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }
  return total;
}

TTimes BestOf(const std::function<bool()>& work) {
  TTimes best;
  for (int i = 0; i < kRuns; ++i) {
    const double cpuStart = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    if (!work()) return {};
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;
    best.wall = best.wall < 0 ? wall : std::min(best.wall, wall);
    best.cpu = best.cpu < 0 ? cpu : std::min(best.cpu, cpu);
  }
  return best;
}

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

struct TPicture {
  TProfile options;
  TImage image{options.Ref(IntKey::ZoomMul), options.Ref(IntKey::ZoomDiv), options.Ref(IntKey::GIFOver),
               options.Ref(IntKey::GIFDpi1), options.Ref(IntKey::GIFDpi2), options.Ref(IntKey::GIFDpi3)};
};

bool Decode(const std::string& path, TPicture& picture) {
  TPkgStream* stream = PkgOpen(path.c_str(), "rb");
  if (!stream) return false;
  ReadGif(stream, picture.image, picture.options);
  PkgClose(stream, 0);
  return picture.image.Width() > 1;
}

// The picture expanded through its palette into a binary PPM.
bool WritePpm(const TImage& image, const std::string& path) {
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  std::fprintf(out, "P6\n%d %d\n255\n", image.Width(), image.Height());
  const auto& colours = image.Bitmap().colours;
  std::vector<uint8_t> rgb(static_cast<size_t>(image.Width()) * 3);
  for (int32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* row = image.Row(y);
    for (int32_t x = 0; x < image.Width(); ++x) {
      rgb[x * 3] = colours[row[x]].red;
      rgb[x * 3 + 1] = colours[row[x]].green;
      rgb[x * 3 + 2] = colours[row[x]].blue;
    }
    std::fwrite(rgb.data(), 1, rgb.size(), out);
  }
  return std::fclose(out) == 0;
}

// Maximum resident set of a fresh process that only decodes path, in KiB.
long PeakDecodeKib(const char* self, const std::string& path) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    execl(self, self, "--decode-only", path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_maxrss;
}

void PrintRatio(const char* what, TTimes ours, TTimes peer) {
  if (ours.wall < 0 || peer.wall < 0) {
    std::printf("%-42s failed\n", what);
    return;
  }
  std::printf("%-42s wall: ours %6.3f s peer %6.3f s ratio %.2f | cpu: ours %6.3f s peer %6.3f s ratio %.2f\n", what,
              ours.wall, peer.wall, ours.wall / peer.wall, ours.cpu, peer.cpu, ours.cpu / peer.cpu);
}

} // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--decode-only") {
    TPicture picture;
    return Decode(argv[2], picture) ? 0 : 1;
  }
  const int width = argc >= 3 ? std::atoi(argv[1]) : 4000;
  const int height = argc >= 3 ? std::atoi(argv[2]) : 3000;

  const bench::TScratchDir dir;
  if (!dir.Valid()) return 1;
  const std::string input = dir / "in.gif";
  std::printf("making a %d x %d 256-colour GIF with ImageMagick...\n", width, height);
  if (!Shell("convert -seed 1 -size " + std::to_string(width) + "x" + std::to_string(height) +
             " plasma:fractal -colors 256 '" + input + "'")) {
    std::fprintf(stderr, "ImageMagick could not make the input\n");
    return 1;
  }
  std::printf("input: %jd bytes\n\n", static_cast<intmax_t>(std::filesystem::file_size(input)));

  auto picture = std::make_unique<TPicture>();
  const std::string ourPpm = dir / "ours.ppm";
  const TTimes decodeOnly = BestOf([&] { return Decode(input, *picture); });
  const TTimes decodeToPpm = BestOf([&] { return Decode(input, *picture) && WritePpm(picture->image, ourPpm); });
  const TTimes giflib = BestOf([&] { return Shell("gif2rgb -1 -o '" + dir / "giflib.rgb" + "' '" + input + "'"); });
  const TTimes magickDecode =
      BestOf([&] { return Shell("convert '" + input + "' -depth 8 '" + dir / "magick.ppm" + "'"); });
  std::printf("decode only (ours): wall %.3f s, cpu %.3f s\n", decodeOnly.wall, decodeOnly.cpu);
  PrintRatio("decode to PPM vs gif2rgb to RGB", decodeToPpm, giflib);
  PrintRatio("decode to PPM vs ImageMagick to PPM", decodeToPpm, magickDecode);

  const std::string ourGif = dir / "ours.gif";
  const TTimes encode = BestOf([&] { return WriteGif(ourGif.c_str(), picture->image, picture->options, nullptr) == 0; });
  const TTimes readAndEncode = BestOf([&] {
    return Decode(input, *picture) && WriteGif(ourGif.c_str(), picture->image, picture->options, nullptr) == 0;
  });
  const TTimes magickEncode =
      BestOf([&] { return Shell("convert '" + input + "' '" + dir / "magick.gif" + "'"); });
  std::printf("\nencode only (ours): wall %.3f s, cpu %.3f s, %jd bytes (ImageMagick's file %jd bytes)\n", encode.wall,
              encode.cpu,
              static_cast<intmax_t>(std::filesystem::file_size(ourGif)),
              static_cast<intmax_t>(std::filesystem::file_size(dir / "magick.gif")));
  PrintRatio("encode only vs ImageMagick re-encoding", encode, magickEncode);
  PrintRatio("decode + encode vs ImageMagick re-encoding", readAndEncode, magickEncode);

  const long peak = PeakDecodeKib(argv[0], input);
  std::printf("\npeak memory decoding: %.1f MiB\n", peak / 1024.0);
  return 0;
}
