// BMP reader: the input is a BMP file, or a packed bitmap (information header,
// colour table, pixels) when it does not start with "BM".
#include "formats/bmp.h"
#include "support/fuzz_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const bool file = size >= 2 && data[0] == 'B' && data[1] == 'M';
  return fuzzsupport::ReadThroughStream(data, size, file ? ReadBmp : ReadPackedBmp);
}
