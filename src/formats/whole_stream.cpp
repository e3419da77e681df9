#include "formats/whole_stream.h"

#include <algorithm>

#include "filepkg/filepkg.h"

namespace {

constexpr size_t kCopyBlock = 1 << 20;

} // namespace

bool ReadWholeStream(TPkgStream* stream, size_t maxBytes, std::vector<uint8_t>& bytes) {
  if (stream->size > stream->position)
    bytes.reserve(std::min<size_t>(static_cast<size_t>(stream->size - stream->position), maxBytes));
  for (;;) {
    const size_t used = bytes.size();
    if (used >= maxBytes) return PkgGetByte(stream) < 0;
    bytes.resize(used + std::min(kCopyBlock, maxBytes - used));
    const size_t got = PkgRead(bytes.data() + used, 1, bytes.size() - used, stream);
    bytes.resize(used + got);
    if (got == 0) return true;
  }
}
