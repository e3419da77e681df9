#include "platform/process_start.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace {

constexpr int kStandardDescriptors = 3;

bool g_closedAtStart[kStandardDescriptors] = {};

bool IsOpen(int descriptor) { return fcntl(descriptor, F_GETFD) != -1 || errno != EBADF; }

} // namespace

bool SecureStandardDescriptors() {
  for (int descriptor = 0; descriptor < kStandardDescriptors; ++descriptor) {
    if (IsOpen(descriptor)) continue;
    g_closedAtStart[descriptor] = true;
    // The lowest free number is taken, which is this one because the lower
    // ones are open by now; dup2 makes sure of it all the same.
    const int nullDevice = open("/dev/null", O_RDWR);
    if (nullDevice < 0) return false;
    if (nullDevice != descriptor) {
      const bool moved = dup2(nullDevice, descriptor) == descriptor;
      close(nullDevice);
      if (!moved) return false;
    }
  }
  return true;
}

bool StandardDescriptorWasClosed(int descriptor) {
  return descriptor >= 0 && descriptor < kStandardDescriptors && g_closedAtStart[descriptor];
}

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

void KeepFreedMemoryForReuse() {
  // Blocks below 8 MiB come from the heap and are reused; up to 32 MiB of
  // free heap is kept before any is returned.
  mallopt(M_MMAP_THRESHOLD, 8 << 20);
  mallopt(M_TRIM_THRESHOLD, 32 << 20);
}
