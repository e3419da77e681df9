// The program as a batch converter, as a whole process with its start-up,
// beside the peers doing the same job in one run: 20 GIF files of 1024 x 768
// converted to JPEG by "zerbalin -ConvertToJPG" against GraphicsMagick's
// "gm mogrify -format jpg -quality 75" and ImageMagick's "mogrify". Prints
// wall-clock and processor times (best of five, new JPEG files each run) and
// the ratios; the target is at most 1.0 x gm mogrify.
//
// Usage: bench_program_convert [files [width height]]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

constexpr int kRunsEach = 5;

void Report(const char* peerName, const bench::TProcessRun& ours, const bench::TProcessRun& peer, double target) {
  if (!ours.Ok() || !peer.Ok()) {
    std::printf("zerbalin vs %-14s failed to run\n", peerName);
    return;
  }
  const double ratio = ours.wall / peer.wall;
  std::printf("zerbalin vs %-14s wall %.3f / %.3f s = %.2f%s | cpu %.3f / %.3f s = %.2f\n", peerName, ours.wall,
              peer.wall, ratio,
              target > 0 ? (ratio <= target ? " (target 1.00 met)" : " (target 1.00 missed)") : "", ours.cpu, peer.cpu,
              ours.cpu / peer.cpu);
}

} // namespace

int main(int argc, char** argv) {
  const int files = argc > 1 ? std::atoi(argv[1]) : 20;
  const std::string width = argc > 3 ? argv[2] : "1024";
  const std::string height = argc > 3 ? argv[3] : "768";
  bench::TScratchDir dir;
  if (!dir.Valid()) return 1;
  // Photo-like content in 256 colours, as GIF files from a camera folder are.
  const std::string first = dir / "pic00.gif";
  if (std::system(("convert -size " + width + "x" + height + " plasma:fractal -seed 11 -colors 256 " + first).c_str()) != 0)
    return 1;
  std::vector<std::string> gifs{first}, jpegs{dir / "pic00.jpg"};
  for (int i = 1; i < files; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "pic%02d", i);
    std::filesystem::copy_file(first, dir / (std::string(name) + ".gif"));
    gifs.push_back(dir / (std::string(name) + ".gif"));
    jpegs.push_back(dir / (std::string(name) + ".jpg"));
  }
  // The program's own settings, apart from the user's; no display.
  setenv("ZERBALIN_HOME", (dir / "home").c_str(), 1);
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  std::vector<std::string> ours{ZER_PROGRAM, "-ConvertToJPG"};
  ours.insert(ours.end(), gifs.begin(), gifs.end());
  std::vector<std::string> gm{"gm", "mogrify", "-format", "jpg", "-quality", "75"};
  gm.insert(gm.end(), gifs.begin(), gifs.end());
  std::vector<std::string> im{"mogrify", "-format", "jpg", "-quality", "75"};
  im.insert(im.end(), gifs.begin(), gifs.end());

  // The program's log lines go to standard error in a batch run; not here.
  const int savedError = dup(STDERR_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  dup2(null, STDERR_FILENO);
  const bench::TProcessRun ourRun = bench::BestProcessRun(ours, jpegs, "", kRunsEach);
  dup2(savedError, STDERR_FILENO);
  std::printf("%d GIF files of %sx%s to JPEG\n", files, width.c_str(), height.c_str());
  Report("gm mogrify", ourRun, bench::BestProcessRun(gm, jpegs, "", kRunsEach), 1.0);
  Report("IM mogrify", ourRun, bench::BestProcessRun(im, jpegs, "", kRunsEach), 0);
  return 0;
}
