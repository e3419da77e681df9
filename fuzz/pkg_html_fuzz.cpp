// HTML pages: the input is claimed as a page and its listing of pictures is
// read.
#include "filepkg/pkg_html.h"
#include "support/fuzz_container.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzzsupport::ReadContainer(data, size, HtmlClaim, "x.htm", {""});
}
