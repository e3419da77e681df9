// Encoded text as whole processes, side by side with the usual tools:
// decoding 30 MB uuencoded (zerbalin-tool cat vs sharutils' uudecode) and
// base64 (zerbalin-tool cat vs base64 -d), and the Decode command writing
// the decoded file (zerbalin-tool decodefiles vs uudecode -o, a new file each
// run). Prints wall-clock and processor times (best of seven each) and their
// ratios; the processor times hold better where other work shares the
// machine.
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

constexpr int kRunsEach = 7;

void Compare(const char* what, const std::vector<std::string>& ours, const std::vector<std::string>& peer,
             const std::vector<std::string>& outputs) {
  const bench::TProcessRun us = bench::BestProcessRun(ours, outputs, "", kRunsEach);
  const bench::TProcessRun them = bench::BestProcessRun(peer, outputs, "", kRunsEach);
  if (!us.Ok() || !them.Ok()) {
    std::printf("%-28s failed to run\n", what);
    return;
  }
  std::printf("%-28s wall %.3f / %.3f s = %.2f | cpu %.3f / %.3f s = %.2f (%s)\n", what, us.wall, them.wall,
              us.wall / them.wall, us.cpu, them.cpu, us.cpu / them.cpu, peer[0].c_str());
}

} // namespace

int main() {
  bench::TScratchDir dir;
  const std::string tool = bench::ToolPath();
  const std::string make = "cd '" + (dir / "") + "' && head -c 30000000 /dev/urandom > data.bin && " +
                           "uuencode data.bin data.bin > data.uue && base64 data.bin > data.b64 && " +
                           "mkdir out && uuencode data.bin out.bin > out/data.uue";
  if (!dir.Valid() || std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "could not make the encoded files\n");
    return 1;
  }
  Compare("uudecode 30 MB", {tool, "cat", dir / "data.uue/data.bin"}, {"uudecode", "-o", "/dev/stdout", dir / "data.uue"},
          {});
  Compare("base64 30 MB", {tool, "cat", dir / "data.b64/file0001.dat"}, {"base64", "-d", dir / "data.b64"}, {});
  Compare("decode to a file 30 MB", {tool, "decodefiles", dir / "out/data.uue"},
          {"uudecode", "-o", dir / "out/out.bin", dir / "out/data.uue"}, {dir / "out/out.bin"});
  return 0;
}
