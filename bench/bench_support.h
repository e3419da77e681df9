#pragma once
// Shared pieces of the benchmarks: a scratch directory, timing our code and a
// peer tool's command, whole processes run side by side, and a 24-bit picture
// made by ImageMagick loaded into an image record.
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "settings/profile.h"
#include "core/image.h"
#include "filepkg/filepkg.h"
#include "formats/codec_results.h"

namespace bench {

class TScratchDir {
public:
  TScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zerbench-XXXXXX").string();
    if (mkdtemp(pattern.data())) m_path = pattern;
  }
  ~TScratchDir() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  std::string operator/(const std::string& name) const { return (m_path / name).string(); }
  bool Valid() const { return !m_path.empty(); }

private:
  std::filesystem::path m_path;
};

// Wall-clock seconds of one call.
inline double Seconds(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Wall-clock seconds of a shell command, or a negative value when it failed.
inline double CommandSeconds(const std::string& command) {
  int status = 0;
  const double seconds = Seconds([&] { status = std::system(command.c_str()); });
  return status == 0 ? seconds : -1.0;
}

inline constexpr int kRuns = 3;

// The shortest of kRuns timings of run; negative when a run failed
// (returned a negative time).
inline double BestOf(const std::function<double()>& run) {
  double best = -1.0;
  for (int i = 0; i < kRuns; ++i) {
    const double seconds = run();
    if (seconds < 0) return -1.0;
    best = best < 0 ? seconds : std::min(best, seconds);
  }
  return best;
}

// One run of a whole process: wall-clock seconds, the processor seconds the
// kernel charged to it (user and system; other work on the machine stretches
// the wall clock, not these) and its peak resident memory.
struct TProcessRun {
  double wall = -1.0;
  double cpu = -1.0;
  long peakKib = 0;
  bool Ok() const { return wall >= 0; }
};

// Runs argv[0] (looked up in PATH) with its arguments and waits for it,
// standard output going to stdoutPath when one is given and to /dev/null
// otherwise. wall is negative when the process could not run or failed.
inline TProcessRun RunProcess(const std::vector<std::string>& argv, const std::string& stdoutPath = "") {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) return {};
  if (child == 0) {
    const int out = open(stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || dup2(out, STDOUT_FILENO) < 0) _exit(127);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  TProcessRun run;
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run.peakKib = usage.ru_maxrss;
  return run;
}

// The best of runs runs of a process: the shortest wall and processor times
// and the smallest peak. Every file in fresh is removed before each run, so
// that each run writes new files as a user's first save does.
inline TProcessRun BestProcessRun(const std::vector<std::string>& argv, const std::vector<std::string>& fresh,
                                  const std::string& stdoutPath = "", int runs = kRuns) {
  TProcessRun best;
  for (int i = 0; i < runs; ++i) {
    for (const std::string& path : fresh) std::remove(path.c_str());
    const TProcessRun run = RunProcess(argv, stdoutPath);
    if (!run.Ok()) return {};
    best.wall = best.Ok() ? std::min(best.wall, run.wall) : run.wall;
    best.cpu = best.cpu < 0 ? run.cpu : std::min(best.cpu, run.cpu);
    best.peakKib = best.peakKib == 0 ? run.peakKib : std::min(best.peakKib, run.peakKib);
  }
  return best;
}

// Side-by-side comparisons of whole processes run this many times each.
inline constexpr int kRunsEach = 5;
// What a process may hold beyond the picture itself.
inline constexpr long kMemorySpareKib = 10 * 1024;

inline bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// One job done by our tool and by a peer as whole processes.
struct TComparison {
  const char* what;
  std::vector<std::string> ours;
  std::vector<std::string> peer;
  std::vector<std::string> outputs; // removed before every run
  double target;                    // the ratio ours / peer to stay within
  long pictureKib;                  // the picture held in memory
};

// Runs both sides (best of kRunsEach, new output files each run) and prints
// wall-clock and processor times, their ratios against the target, and our
// peak memory beside the peer's and against the picture's size plus
// kMemorySpareKib.
inline void Compare(const TComparison& c) {
  const TProcessRun ours = BestProcessRun(c.ours, c.outputs, "", kRunsEach);
  const TProcessRun peer = BestProcessRun(c.peer, c.outputs, "", kRunsEach);
  if (!ours.Ok() || !peer.Ok()) {
    std::printf("%-44s failed to run\n", c.what);
    return;
  }
  const long memoryLimit = c.pictureKib + kMemorySpareKib;
  std::printf("%-44s wall %.3f / %.3f s = %.2f (target %.2f %s) | cpu %.3f / %.3f s = %.2f | peak %.1f / %.1f MiB "
              "(limit %.1f %s)\n",
              c.what, ours.wall, peer.wall, ours.wall / peer.wall, c.target,
              ours.wall / peer.wall <= c.target ? "met" : "missed", ours.cpu, peer.cpu, ours.cpu / peer.cpu,
              ours.peakKib / 1024.0, peer.peakKib / 1024.0, memoryLimit / 1024.0,
              ours.peakKib <= memoryLimit ? "met" : "missed");
}

// A binary PPM with maxval 255: width, height and red, green, blue pixels.
struct TPpm {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;
};

inline TPpm ReadPpm(const std::string& path) {
  TPpm ppm;
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  in >> magic >> ppm.width >> ppm.height >> maxval;
  in.get();
  if (!in || magic != "P6" || maxval != 255 || ppm.width <= 0 || ppm.height <= 0) return {};
  ppm.rgb.resize(static_cast<size_t>(ppm.width) * ppm.height * 3);
  in.read(reinterpret_cast<char*>(ppm.rgb.data()), static_cast<std::streamsize>(ppm.rgb.size()));
  return in ? ppm : TPpm{};
}

inline bool WritePpm(const std::string& path, int32_t width, int32_t height,
                     const std::vector<uint8_t>& rgb) {
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << width << " " << height << "\n255\n";
  out.write(reinterpret_cast<const char*>(rgb.data()), static_cast<std::streamsize>(rgb.size()));
  return static_cast<bool>(out);
}

// Appends a row of palette indices as red, green, blue pixels; rgbPalette
// holds three bytes per entry.
inline void AppendIndexedRow(std::vector<uint8_t>& rgb, const uint8_t* indices, int32_t count,
                             const uint8_t* rgbPalette) {
  const size_t start = rgb.size();
  rgb.resize(start + static_cast<size_t>(count) * 3);
  uint8_t* out = rgb.data() + start;
  for (int32_t x = 0; x < count; ++x, out += 3) {
    const uint8_t* entry = rgbPalette + 3 * indices[x];
    out[0] = entry[0];
    out[1] = entry[1];
    out[2] = entry[2];
  }
}

// An image record with its own settings values (the default zoom, no resolution
// overrides), declared before the image that refers to them.
struct TBenchImageSettings {
  int32_t zoomMul = 2;
  int32_t zoomDiv = 1;
  std::array<int32_t, 7> dpiOverride{};
  std::array<int32_t, 7> dpi{96, 96, 96, 96, 96, 96, 96};
};
struct TBenchImage : TBenchImageSettings {
  TImage image{&zoomMul, &zoomDiv, dpiOverride.data(), dpi.data(), dpi.data(), dpi.data()};
};

// Stores a PPM as a 24-bit picture and lays its output out at full size.
inline void LoadPpm(TImage& image, const TPpm& ppm) {
  image.Create(0, ppm.width, ppm.height, 1, 1, 3, 1, 0);
  std::vector<uint8_t> bgr(static_cast<size_t>(ppm.width) * 3);
  for (int32_t y = 0; y < ppm.height; ++y) {
    const uint8_t* rgb = &ppm.rgb[static_cast<size_t>(y) * ppm.width * 3];
    for (int32_t x = 0; x < ppm.width; ++x) {
      bgr[3 * x] = rgb[3 * x + 2];
      bgr[3 * x + 1] = rgb[3 * x + 1];
      bgr[3 * x + 2] = rgb[3 * x];
    }
    image.PutRow(0, y, bgr.data(), ppm.width);
  }
  image.SetOutputGeometry(ppm.width, ppm.height, 1, 1, 0, true, true);
}

// A photo-like picture of the given size (ImageMagick's seeded plasma).
inline TPpm MakePhotoLike(const std::string& path, int32_t width, int32_t height) {
  const std::string command = "convert -seed 1 -size " + std::to_string(width) + "x" +
                              std::to_string(height) + " plasma:fractal -depth 8 " + path;
  if (std::system(command.c_str()) != 0) return {};
  return ReadPpm(path);
}

// The picture every benchmark starts from: "in.ppm" in the scratch directory,
// of the size given as the two arguments (4000 x 3000 without them). Empty,
// with a message, when ImageMagick could not make it.
inline TPpm PhotoLikeFromArguments(int argc, char** argv, const TScratchDir& dir) {
  const int32_t width = argc > 2 ? std::atoi(argv[1]) : 4000;
  const int32_t height = argc > 2 ? std::atoi(argv[2]) : 3000;
  TPpm picture;
  if (dir.Valid() && width > 0 && height > 0) picture = MakePhotoLike(dir / "in.ppm", width, height);
  if (picture.width != width) {
    std::fprintf(stderr, "could not make the test picture with ImageMagick\n");
    return {};
  }
  return picture;
}

// For benchmarks of whole processes: the picture of PhotoLikeFromArguments
// left only as the file "in.ppm"; the result keeps its size, not its pixels
// (width 0 when it could not be made). A child starts as a copy of this
// process and the kernel counts what it held before exec in its peak memory,
// so the pixels are not kept here: the peaks measured are the tools' own.
inline TPpm PhotoLikeFileFromArguments(int argc, char** argv, const TScratchDir& dir) {
  TPpm picture = PhotoLikeFromArguments(argc, argv, dir);
  std::vector<uint8_t>().swap(picture.rgb);
  return picture;
}

using TPathReader = TReadOutcome (*)(TPkgStream*, const char*, TImage&, const TProfile&);

// Reads the file at path with a reader that takes the path too; false when
// the file could not be opened or the picture was not read completely.
inline bool DecodeFile(TPathReader reader, const std::string& path, TImage& image, const TProfile& options) {
  TPkgStream* stream = PkgOpen(path.c_str(), "rb");
  if (!stream) return false;
  const TReadOutcome outcome = reader(stream, path.c_str(), image, options);
  PkgClose(stream, 0);
  return outcome == TReadOutcome::Complete;
}

// zerbalin-tool, built one folder above the benchmarks.
inline std::string ToolPath() {
  char self[4096] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return "zerbalin-tool";
  std::string path = self;
  path = path.substr(0, path.rfind('/'));
  return path.substr(0, path.rfind('/')) + "/zerbalin-tool";
}

// Times two shell commands doing the same work as whole processes, best of
// kRuns each, and prints both times and their ratio.
inline void CompareCommands(const char* what, const std::string& ours, const std::string& peer, const char* peerName) {
  const double ourSeconds = BestOf([&] { return CommandSeconds(ours); });
  const double peerSeconds = BestOf([&] { return CommandSeconds(peer); });
  if (ourSeconds < 0 || peerSeconds < 0) {
    std::printf("%-40s failed\n", what);
    return;
  }
  std::printf("%-40s zerbalin %.3f s  %s %.3f s  ratio %.2f\n", what, ourSeconds, peerName, peerSeconds,
              ourSeconds / peerSeconds);
}

} // namespace bench
