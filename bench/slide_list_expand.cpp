// The active file list reaching a big folder and a big archive: the time to
// expand a folder of 5,000, 10,000 and 20,000 pictures and to step through
// every entry (showing whether the cost grows linearly), beside
// `find | sort -V` listing the same folder in the same order; then a ZIP of
// 5,000 members beside `zipinfo -1 | sort -V`.
#include <cstdio>
#include <string>

#include "bench_support.h"
#include "settings/profile.h"
#include "view/slide_list.h"

namespace {

// Seconds to expand the file spec when the list reaches it, and to walk the
// whole sorted ring once asking each entry's name as the show does.
struct TWalkTimes {
  double expand = 0;
  double walk = 0;
  int32_t count = 0;
};

TWalkTimes ExpandAndWalk(const std::string& fileSpec) {
  TProfile settings;
  TSlideList list(settings);
  TWalkTimes times;
  list.Add(fileSpec, 15, false, false, false);
  times.expand = bench::Seconds([&] { list.CurrentName(true); });
  times.count = list.Count();
  times.walk = bench::Seconds([&] {
    for (int32_t i = 0; i < times.count; ++i) {
      list.Step(kSortedNext, 1);
      list.CurrentName(true);
    }
  });
  return times;
}

void Report(const char* what, const TWalkTimes& ours, double peer, const char* peerName) {
  std::printf("%-34s %6d entries: expand %.3f s, step through %.3f s; %s %.3f s; ratio %.2f\n", what,
              ours.count, ours.expand, ours.walk, peerName, peer, (ours.expand + ours.walk) / peer);
}

}  // namespace

int main() {
  bench::TScratchDir dir;
  if (!dir.Valid()) return 1;
  for (int files : {5000, 10000, 20000}) {
    const std::string folder = dir / ("f" + std::to_string(files));
    const std::string make = "mkdir -p '" + folder + "' && cd '" + folder + "' && python3 -c \"\n"
                             "for i in range(" + std::to_string(files) + "): open('img%d.gif' % i, 'w').close()\n\"";
    if (std::system(make.c_str()) != 0) return 1;
    ExpandAndWalk(folder + "/");  // warms the directory cache
    const TWalkTimes ours = ExpandAndWalk(folder + "/");
    const double peer = bench::CommandSeconds("find '" + folder + "' -type f | sort -V > /dev/null");
    Report(("folder of " + std::to_string(files)).c_str(), ours, peer, "find | sort -V");
  }
  const std::string zip = dir / "many.zip";
  const std::string make = "python3 -c \"\n"
                           "import zipfile\n"
                           "with zipfile.ZipFile('" + zip + "', 'w') as z:\n"
                           "    for i in range(5000): z.writestr('d%d/img%d.gif' % (i % 20, i), 'x')\n\"";
  if (std::system(make.c_str()) != 0) return 1;
  const TWalkTimes ours = ExpandAndWalk(zip);
  const double peer = bench::CommandSeconds("zipinfo -1 '" + zip + "' | sort -V > /dev/null");
  Report("ZIP of 5,000 members", ours, peer, "zipinfo -1 | sort -V");
  return 0;
}
