#include "core/pixel_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/peer.h"

namespace {

using TFiles = std::vector<std::pair<std::string, std::string>>;

const std::pair<std::string, std::string> kMemAvailable{"proc/meminfo",
                                                        "MemTotal: 8000000 kB\nMemAvailable: 4000000 kB\n"};

// The memory left is the least of MemAvailable and what the process's control
// group, and each group above it, leaves below its limit; a group path that
// names a hierarchy not mounted here (a container's view of the host) falls
// back to the mount's own root group.
TEST(PixelMemoryTest, AvailableMemoryHeedsTheControlGroups) {
  const struct {
    const char* name;
    TFiles files;
    int64_t expected;
  } cases[] = {
      {"MemAvailable alone", {kMemAvailable, {"proc/self/cgroup", "0::/\n"}}, 4096000000},
      {"version 2, the parent's limit counts",
       {kMemAvailable,
        {"proc/self/cgroup", "0::/app/job\n"},
        {"sys/fs/cgroup/app/memory.max", "3000000000\n"},
        {"sys/fs/cgroup/app/memory.current", "1000000000\n"},
        {"sys/fs/cgroup/app/job/memory.max", "max\n"},
        {"sys/fs/cgroup/app/job/memory.current", "500000000\n"}},
       2000000000},
      {"version 1, the host's path not mounted",
       {kMemAvailable,
        {"proc/self/cgroup", "5:cpu,cpuacct:/host/id\n4:memory:/host/id\n0::/\n"},
        {"sys/fs/cgroup/memory/memory.limit_in_bytes", "1073741824\n"},
        {"sys/fs/cgroup/memory/memory.usage_in_bytes", "73741824\n"}},
       1000000000},
      {"a group over its limit",
       {kMemAvailable,
        {"proc/self/cgroup", "0::/full\n"},
        {"sys/fs/cgroup/full/memory.max", "100\n"},
        {"sys/fs/cgroup/full/memory.current", "200\n"}},
       0},
      {"nothing to read", {}, -1},
  };
  for (const auto& c : cases) {
    testsupport::TTempDir root;
    for (const auto& [path, text] : c.files) {
      std::filesystem::create_directories(std::filesystem::path(root / path).parent_path());
      testsupport::WriteFileBytes(root / path, text);
    }
    EXPECT_EQ(AvailableMemoryUnder(root.Path().string()), c.expected) << c.name;
  }
}

// Blocks of every size come back writable from end to end; the sanitizer
// build checks the bounds of the small ones.
TEST(PixelMemoryTest, AllocatedBlocksHoldTheirSize) {
  for (const size_t bytes : {size_t{1}, kMappedBlockBytes - 1, kMappedBlockBytes, 3 * kMappedBlockBytes + 5}) {
    auto* block = static_cast<uint8_t*>(AllocatePixels(bytes));
    std::memset(block, 7, bytes);
    EXPECT_EQ(block[bytes - 1], 7) << bytes;
    if (bytes >= kMappedBlockBytes) {
      EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % kMappedBlockBytes, 0u) << bytes;
    }
    FreePixels(block, bytes);
  }
}

} // namespace
