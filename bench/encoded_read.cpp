// Encoded text as whole processes, side by side with the usual tools:
// decoding 30 MB uuencoded (zerbalin-tool cat vs sharutils' uudecode) and
// base64 (zerbalin-tool cat vs base64 -d), and the Decode command writing
// the decoded file (zerbalin-tool decodefiles vs uudecode -o). Prints each
// pair of times and their ratio.
#include <cstdio>
#include <string>

#include "bench_support.h"

int main() {
  bench::TScratchDir dir;
  const std::string tool = "'" + bench::ToolPath() + "'";
  const std::string folder = dir / "";
  const std::string make = "cd '" + folder + "' && head -c 30000000 /dev/urandom > data.bin && " +
                           "uuencode data.bin data.bin > data.uue && base64 data.bin > data.b64 && " +
                           "mkdir out && uuencode data.bin out.bin > out/data.uue";
  if (!dir.Valid() || std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "could not make the encoded files\n");
    return 1;
  }
  bench::CompareCommands("uudecode 30 MB", tool + " cat '" + folder + "data.uue/data.bin' > /dev/null",
                         "uudecode -o /dev/stdout '" + folder + "data.uue' > /dev/null", "uudecode");
  bench::CompareCommands("base64 30 MB", tool + " cat '" + folder + "data.b64/file0001.dat' > /dev/null",
                         "base64 -d '" + folder + "data.b64' > /dev/null", "base64 -d");
  // Each run writes a new file, as the first decoding of a mail does.
  const std::string out = folder + "out/";
  bench::CompareCommands("decode to a file 30 MB",
                         "rm -f '" + out + "out.bin' && " + tool + " decodefiles '" + out + "data.uue' > /dev/null",
                         "rm -f '" + out + "peer.bin' && uudecode -o '" + out + "peer.bin' '" + out + "data.uue'",
                         "uudecode -o");
  return 0;
}
