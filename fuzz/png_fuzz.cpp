// PNG reader: the input is a PNG file (or anything else).
#include "formats/png.h"
#include "support/fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzsupport::ReadThroughStream(data, size, ReadPng);
}
