// The reader entry over arbitrary bytes: detection and, through it, every
// reader. The input goes through a scratch file because the entry opens
// pictures by name, as the program does.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "settings/profile.h"
#include "core/image.h"
#include "formats/picture_io.h"
#include "support/fuzz_reader.h"

namespace {

// One scratch file per process, rewritten for every input and removed at
// exit. A plain array, so it outlives every static destructor.
char g_scratchPath[4096];

const char* ScratchPath() {
  if (!g_scratchPath[0]) {
    const char* base = std::getenv("TMPDIR");
    std::snprintf(g_scratchPath, sizeof g_scratchPath, "%s/zer-fuzz-XXXXXX", base && *base ? base : "/tmp");
    const int fd = ::mkstemp(g_scratchPath);
    if (fd >= 0) ::close(fd);
    std::atexit([] { std::remove(g_scratchPath); });
  }
  return g_scratchPath;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > fuzzsupport::kMaxInput) return 0;
  FILE* file = std::fopen(ScratchPath(), "wb");
  if (!file) return 0;
  const bool written = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) return 0;
  static const TProfile options;
  static const std::unique_ptr<TImage> image = NewImageFor(options);
  ReadPicture(ScratchPath(), *image, options);
  return 0;
}
