#include "platform/machine.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

uint64_t MachinePhysicalMemory() {
  long pages = sysconf(_SC_PHYS_PAGES);
  long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

int MachineDisplayDepth() {
  static constexpr int kDepths[] = {1, 4, 8, 16, 24};
  const char* text = std::getenv("ZERBALIN_DISPLAY_DEPTH");
  if (text) {
    for (int depth : kDepths)
      if (std::to_string(depth) == text) return depth;
  }
  return 24;
}
