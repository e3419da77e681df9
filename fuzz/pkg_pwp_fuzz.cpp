// Seattle Filmworks archives: the input is claimed as an archive and listed;
// its first pictures are copied out.
#include "filepkg/pkg_pwp.h"
#include "support/fuzz_container.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzsupport::ReadContainer(data, size, PwpClaim, "x.pwp", {""});
}
