// WebP reader: the input is a WebP file (or anything else).
#include "formats/webp.h"
#include "support/fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzsupport::ReadThroughStream(data, size, ReadWebp);
}
