// Reading a large disk file through the package, side by side with cat.
//
//   bench_pkg_read [FILE]
//
// Without FILE a 200 MB file is made in $TMPDIR (else /tmp) and removed
// afterwards. The file is read once to bring it into the page cache, then
// the readers take turns for several rounds and each one's best time counts:
// `cat FILE > /dev/null`, PkgMapRead in blocks of 32768 bytes (or whatever
// Map gives) touching every byte, and the byte reader PkgGetByte summing
// every byte. Taking turns lets a burst of other work on a busy machine hit
// every reader alike. Times are processor time (user and system) of the
// reading process, so that other work does not skew the ratios; wall time is
// shown beside it. Prints MB/s for each and its time as a multiple of cat's.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "filepkg/filepkg.h"

namespace {

constexpr size_t kFileSize = 200u << 20;
constexpr int kRounds = 7;

std::string MakeFile() {
  const char* directory = std::getenv("TMPDIR");
  std::string path = std::string(directory && *directory ? directory : "/tmp") + "/zerbenchXXXXXX";
  int fd = mkstemp(path.data());
  if (fd < 0) return {};
  std::vector<uint8_t> block(1 << 20);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + (i >> 9));
  bool ok = true;
  for (size_t done = 0; ok && done < kFileSize; done += block.size())
    ok = write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size());
  close(fd);
  if (!ok) {
    unlink(path.c_str());
    return {};
  }
  return path;
}

struct TTimes {
  double cpu = 1e30;  // seconds of processor time, user and system
  double wall = 1e30; // seconds
};

double Seconds(const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; }

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// One run of a reader in this process (who = RUSAGE_SELF) or in child
// processes (RUSAGE_CHILDREN), kept in best when it was faster.
void TimeRun(int who, const std::function<void()>& run, TTimes* best) {
  double cpuStart = CpuSeconds(who);
  auto wallStart = std::chrono::steady_clock::now();
  run();
  std::chrono::duration<double> wall = std::chrono::steady_clock::now() - wallStart;
  best->cpu = std::min(best->cpu, CpuSeconds(who) - cpuStart);
  best->wall = std::min(best->wall, wall.count());
}

// Runs cat on the file with its output going to /dev/null; false on failure.
bool RunCat(const std::string& path) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  char* argv[] = {const_cast<char*>("cat"), const_cast<char*>(path.c_str()), nullptr};
  pid_t child = 0;
  int status = -1;
  bool ok = posix_spawnp(&child, "cat", &actions, nullptr, argv, environ) == 0 &&
            waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  posix_spawn_file_actions_destroy(&actions);
  return ok;
}

// Sums a mapped block eight bytes at a time: every byte is touched, as cat
// touches every byte it copies, without the sum costing more than the copy.
uint64_t SumBlock(const uint8_t* data, int32_t count) {
  uint64_t sum = 0;
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t word;
    std::memcpy(&word, data + i, 8);
    sum += word;
  }
  for (; i < count; ++i) sum += data[i];
  return sum;
}

void Report(const char* label, double megabytes, const TTimes& times, const TTimes& cat) {
  std::printf("%-12s %8.1f MB/s  %5.2fx cat   (wall %8.1f MB/s  %5.2fx cat)\n", label, megabytes / times.cpu,
              times.cpu / cat.cpu, megabytes / times.wall, times.wall / cat.wall);
}

uint64_t ReadByMap(const std::string& path) {
  TPkgStream* stream = PkgOpen(path.c_str(), "rb");
  if (!stream) return 0;
  uint64_t sum = 0;
  uint8_t* data = nullptr;
  while (int32_t count = PkgMapRead(&data, 32768, stream)) sum += SumBlock(data, count);
  PkgClose(stream, 0);
  return sum;
}

uint64_t ReadByByte(const std::string& path) {
  TPkgStream* stream = PkgOpen(path.c_str(), "rb");
  if (!stream) return 0;
  uint64_t sum = 0;
  for (int c; (c = PkgGetByte(stream)) >= 0;) sum += static_cast<unsigned>(c);
  PkgClose(stream, 0);
  return sum;
}

} // namespace

int main(int argc, char** argv) {
  std::string path = argc > 1 ? argv[1] : MakeFile();
  if (path.empty()) {
    std::fprintf(stderr, "bench_pkg_read: cannot make a test file\n");
    return 1;
  }
  TPkgStream* probe = PkgOpen(path.c_str(), "rb");
  if (!probe) {
    std::fprintf(stderr, "bench_pkg_read: cannot open %s\n", path.c_str());
    return 1;
  }
  PkgSeek(probe, 0, 2);
  double megabytes = PkgTell(probe) / 1e6;
  PkgClose(probe, 0);

  bool catOk = RunCat(path);
  volatile uint64_t sink = 0;
  TTimes cat, map, byte;
  for (int round = 0; round < kRounds; ++round) {
    TimeRun(RUSAGE_CHILDREN, [&] { catOk = RunCat(path) && catOk; }, &cat);
    TimeRun(RUSAGE_SELF, [&] { sink = sink + ReadByMap(path); }, &map);
    TimeRun(RUSAGE_SELF, [&] { sink = sink + ReadByByte(path); }, &byte);
  }

  std::printf("file %s, %.1f MB%s\n", path.c_str(), megabytes, catOk ? "" : " (cat failed)");
  Report("cat", megabytes, cat, cat);
  Report("PkgMapRead", megabytes, map, cat);
  Report("PkgGetByte", megabytes, byte, cat);
  if (argc <= 1) unlink(path.c_str());
  return 0;
}
