// ZIP archives as whole processes, side by side with Info-ZIP: listing an
// archive of 100,000 small members (zerbalin-tool ls vs zipinfo -1), and
// reading one deflated member of 100 MB (zerbalin-tool cat vs unzip -p).
// Prints each pair of times and their ratio.
#include <cstdio>
#include <string>

#include "bench_support.h"


int main() {
  bench::TScratchDir dir;
  const std::string tool = "'" + bench::ToolPath() + "'";
  const std::string make =
      "cd '" + dir / "" + "' && python3 -c \"\n"
      "import random, zipfile\n"
      "random.seed(1)\n"
      "words = [''.join(random.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(random.randint(2, 9))) for _ in range(5000)]\n"
      "with open('words.txt', 'w') as f:\n"
      "    while f.tell() < 100 << 20: f.write(' '.join(random.choices(words, k=1000)) + '\\n')\n"
      "with zipfile.ZipFile('many.zip', 'w') as z:\n"
      "    for i in range(100000): z.writestr('dir%03d/member%06d.txt' % (i % 100, i), str(i))\n"
      "\" && zip -q big.zip words.txt";
  if (!dir.Valid() || std::system(make.c_str()) != 0) {
    std::fprintf(stderr, "could not make the test archives\n");
    return 1;
  }
  bench::CompareCommands("list 100,000 members", tool + " ls '" + dir / "many.zip" + "' > /dev/null",
          "zipinfo -1 '" + dir / "many.zip" + "' > /dev/null", "zipinfo -1");
  bench::CompareCommands("read a 100 MB deflated member", tool + " cat '" + dir / "big.zip/words.txt" + "' > /dev/null",
          "unzip -p '" + dir / "big.zip" + "' words.txt > /dev/null", "unzip -p");
  return 0;
}
