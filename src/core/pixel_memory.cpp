#include "core/pixel_memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Below this size a picture is not worth a look at the system's figures: the
// smallest machines this program runs on have far more to spare.
constexpr int64_t kUncheckedBytes = int64_t{8} << 20;
// The system's figures are read again only after this long.
constexpr auto kReadingLifetime = std::chrono::seconds(1);

std::atomic<int64_t> g_budget{0};

struct TReading {
  std::mutex lock;
  bool valid = false;
  std::chrono::steady_clock::time_point at;
  int64_t available = -1;
};

TReading& Reading() {
  static TReading reading;
  return reading;
}

// The first word of a one-value file ("max" for no limit); none when the file
// cannot be read or holds no number.
std::optional<int64_t> ReadNumber(const std::string& path) {
  std::ifstream in(path);
  int64_t value = 0;
  if (!(in >> value)) return std::nullopt;
  return value;
}

int64_t MemAvailable(const std::string& root) {
  std::ifstream in(root + "/proc/meminfo");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name;
    int64_t kib = 0;
    if (fields >> name >> kib && name == "MemAvailable:") return kib * 1024;
  }
  return -1;
}

// Where the process's memory control group lives: the version 2 group (line
// "0::/path") and the version 1 memory group (a line whose controllers
// include "memory") of /proc/self/cgroup.
struct TGroupPaths {
  std::optional<std::string> unified;
  std::optional<std::string> memory;
};

TGroupPaths OwnGroups(const std::string& root) {
  TGroupPaths paths;
  std::ifstream in(root + "/proc/self/cgroup");
  std::string line;
  while (std::getline(in, line)) {
    const size_t first = line.find(':');
    const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    if (line.compare(0, first, "0") == 0 && controllers.empty()) paths.unified = path;
    std::istringstream names(controllers);
    for (std::string name; std::getline(names, name, ',');)
      if (name == "memory") paths.memory = path;
  }
  return paths;
}

// The least that the group and each of its ancestors leave below their
// limits. Inside a container the group's path may name the host's hierarchy,
// which is not mounted there; the mount's root, the container's own group,
// is then the one that counts, so it is always looked at too.
int64_t GroupRoom(const std::string& mount, std::string path, const char* limitFile, const char* usageFile) {
  int64_t room = INT64_MAX;
  for (;;) {
    const std::string dir = mount + path;
    const std::optional<int64_t> limit = ReadNumber(dir + "/" + limitFile);
    const std::optional<int64_t> usage = ReadNumber(dir + "/" + usageFile);
    if (limit && usage) room = std::min(room, std::max<int64_t>(*limit - *usage, 0));
    const size_t slash = path.find_last_of('/');
    if (path.empty() || slash == std::string::npos) break;
    path.resize(slash);
  }
  return room;
}

size_t MappedSize(size_t bytes) { return (bytes + kMappedBlockBytes - 1) & ~(kMappedBlockBytes - 1); }

} // namespace

int64_t AvailableMemoryUnder(const std::string& root) {
  int64_t available = MemAvailable(root);
  const TGroupPaths groups = OwnGroups(root);
  const std::string mount = root + "/sys/fs/cgroup";
  int64_t room = INT64_MAX;
  if (groups.unified) room = std::min(room, GroupRoom(mount, *groups.unified, "memory.max", "memory.current"));
  if (groups.memory)
    room = std::min(room, GroupRoom(mount + "/memory", *groups.memory, "memory.limit_in_bytes", "memory.usage_in_bytes"));
  if (room != INT64_MAX) available = available < 0 ? room : std::min(available, room);
  return available;
}

int64_t AvailableSystemMemory() {
  TReading& reading = Reading();
  const std::lock_guard<std::mutex> hold(reading.lock);
  const auto now = std::chrono::steady_clock::now();
  if (!reading.valid || now - reading.at >= kReadingLifetime) {
    reading.available = AvailableMemoryUnder("");
    reading.at = now;
    reading.valid = true;
  }
  return reading.available;
}

bool PixelMemoryFits(int64_t bytes) {
  if (const int64_t budget = g_budget.load(); budget > 0) return bytes <= budget;
  if (bytes < kUncheckedBytes) return true;
  const int64_t available = AvailableSystemMemory();
  return available < 0 || bytes <= available;
}

void SetPixelMemoryBudget(int64_t bytes) { g_budget.store(std::max<int64_t>(bytes, 0)); }

void SetPixelMemoryBudgetFromEnvironment() {
  const char* text = std::getenv("ZERBALIN_PICTURE_MEMORY");
  if (!text) return;
  const long long bytes = std::strtoll(text, nullptr, 10);
  if (bytes > 0) SetPixelMemoryBudget(bytes);
}

// A mapping one huge page longer than needed is trimmed at both ends, so that
// the block starts on a huge-page boundary and the kernel can back it with
// huge pages from its first byte.
void* AllocatePixels(size_t bytes) {
  if (bytes < kMappedBlockBytes) return ::operator new(bytes);
  const size_t size = MappedSize(bytes);
  if (size < bytes || size + kMappedBlockBytes < size) throw std::bad_alloc();
  void* mapping = ::mmap(nullptr, size + kMappedBlockBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) throw std::bad_alloc();
  auto* start = static_cast<uint8_t*>(mapping);
  const size_t lead = (kMappedBlockBytes - reinterpret_cast<uintptr_t>(start) % kMappedBlockBytes) % kMappedBlockBytes;
  if (lead > 0) ::munmap(start, lead);
  ::munmap(start + lead + size, kMappedBlockBytes - lead);
  uint8_t* block = start + lead;
  ::madvise(block, size, MADV_HUGEPAGE);
  return block;
}

void FreePixels(void* block, size_t bytes) noexcept {
  if (!block) return;
  if (bytes < kMappedBlockBytes) {
    ::operator delete(block);
    return;
  }
  ::munmap(block, MappedSize(bytes));
}
