// Encoded text as whole processes, side by side with the usual tools:
// decoding 30 MB uuencoded (zerbalin-tool cat vs sharutils' uudecode) and
// base64 (zerbalin-tool cat vs base64 -d). Prints each pair of times and
// their ratio.
#include <cstdio>
#include <string>

#include "bench_support.h"

int main() {
  bench::TScratchDir dir;
  const std::string tool = "'" + bench::ToolPath() + "'";
  const std::string folder = dir / "";
  const std::string make = "cd '" + folder + "' && head -c 30000000 /dev/urandom > data.bin && " +
                           "uuencode data.bin data.bin > data.uue && base64 data.bin > data.b64";
  if (!dir.Valid() || std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "could not make the encoded files\n");
    return 1;
  }
  bench::CompareCommands("uudecode 30 MB", tool + " cat '" + folder + "data.uue/data.bin' > /dev/null",
                         "uudecode -o /dev/stdout '" + folder + "data.uue' > /dev/null", "uudecode");
  bench::CompareCommands("base64 30 MB", tool + " cat '" + folder + "data.b64/file0001.dat' > /dev/null",
                         "base64 -d '" + folder + "data.b64' > /dev/null", "base64 -d");
  return 0;
}
