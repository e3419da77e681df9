// HEIF reader: the input is a HEIC or AVIF file (or anything else).
#include "formats/heif.h"
#include "support/fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzsupport::ReadThroughStream(data, size, ReadHeif);
}
