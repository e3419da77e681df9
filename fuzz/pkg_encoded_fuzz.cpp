// Encoded-file layer: the input is claimed as text holding uuencoded, base64
// or BinHex files and listed; the first files listed are decoded to their
// end.
#include "filepkg/pkg_encoded.h"
#include "support/fuzz_container.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzsupport::ReadContainer(data, size, EncodedClaim, "x.txt", {""});
}
