// ZIP layer: the input is claimed as an archive and listed; the first
// members listed are opened and read to their end, without a password and
// with one.
#include "filepkg/pkg_zip.h"
#include "support/fuzz_container.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzsupport::ReadContainer(data, size, ZipClaim, "x.zip", {"", "12345678"});
}
