#include "platform/process_start.h"

#include <fcntl.h>
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
