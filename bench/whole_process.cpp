// The whole pipeline as whole processes, side by side with the streaming
// tools, in one run: zerbalin-tool reading a 12 MP photo-like picture and
// writing a new file, against the peer doing the same job. Each comparison
// prints wall-clock and processor times (best of five, a new output file each
// run), their ratio, the target ratio, and the peak resident memory of our
// process against the picture's own size plus 10 MiB.
//
// The pictures come from ImageMagick's seeded plasma: a 24-bit BMP and PPM, a
// JPEG made by cjpeg, an LZW TIFF and a 256-colour GIF made by ImageMagick.
//
// Usage: bench_whole_process [width height]
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

using bench::Compare;
using bench::Shell;
using bench::TComparison;
constexpr int kRunsEach = bench::kRunsEach;

// Seconds that fsync and rename add to writing a new file of the given size
// in dir: the price every save paid before new files were written in place.
double SyncedWriteCost(const bench::TScratchDir& dir, size_t bytes) {
  const std::vector<uint8_t> data(bytes, 0x5A);
  const auto write = [&](bool synced) {
    const std::string temporary = dir / ".synced.tmp";
    const std::string target = dir / "synced.out";
    std::remove(target.c_str());
    return bench::Seconds([&] {
      const int fd = open(synced ? temporary.c_str() : target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0) return;
      const bool ok = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size());
      if (ok && synced) fsync(fd);
      close(fd);
      if (synced) std::rename(temporary.c_str(), target.c_str());
    });
  };
  double plain = 1e9;
  double synced = 1e9;
  for (int i = 0; i < kRunsEach; ++i) {
    plain = std::min(plain, write(false));
    synced = std::min(synced, write(true));
  }
  return synced - plain;
}

} // namespace

int main(int argc, char** argv) {
  const bench::TScratchDir dir;
  std::printf("making the pictures with ImageMagick and cjpeg...\n");
  const bench::TPpm photo = bench::PhotoLikeFileFromArguments(argc, argv, dir);
  if (photo.width == 0) return 1;
  const size_t pictureBytes = static_cast<size_t>(photo.width) * photo.height * 3;
  const std::string ppm = dir / "in.ppm";
  const std::string bmp = dir / "photo.bmp";
  const std::string jpg = dir / "photo.jpg";
  const std::string tif = dir / "photo.tif";
  const std::string gif = dir / "photo.gif";
  if (!Shell("convert '" + ppm + "' -type truecolor BMP3:'" + bmp + "'") ||
      !Shell("cjpeg -quality 90 -outfile '" + jpg + "' '" + ppm + "'") ||
      !Shell("convert '" + ppm + "' -compress lzw '" + tif + "'") ||
      !Shell("convert '" + ppm + "' -colors 256 '" + gif + "'")) {
    std::fprintf(stderr, "could not make the pictures\n");
    return 1;
  }
  const std::string tool = ZER_TOOL;
  const std::string newPpm = dir / "new.ppm";
  const std::string newJpg = dir / "new.jpg";
  const std::string newTif = dir / "new.tif";
  const std::string newRgb = dir / "new.rgb";
  const long colourKib = static_cast<long>(pictureBytes / 1024);
  const long indexKib = colourKib / 3;
  std::printf("%d x %d; ratios are ours / peer\n\n", photo.width, photo.height);

  const TComparison comparisons[] = {
      {"decode JPEG to PPM vs djpeg", {tool, "decode", jpg, newPpm}, {"djpeg", "-ppm", "-outfile", newPpm, jpg},
       {newPpm}, 1.15, colourKib},
      {"decode LZW TIFF to PPM vs tiffcp -c none", {tool, "decode", tif, newPpm}, {"tiffcp", "-c", "none", tif, newTif},
       {newPpm, newTif}, 1.1, colourKib},
      {"decode GIF to PPM vs gif2rgb", {tool, "decode", gif, newPpm}, {"gif2rgb", "-1", "-o", newRgb, gif},
       {newPpm, newRgb}, 1.0, indexKib},
      {"decode GIF to PPM vs ImageMagick", {tool, "decode", gif, newPpm}, {"convert", gif, newPpm}, {newPpm}, 0.5,
       indexKib},
      {"convert BMP to JPEG vs cjpeg from PPM", {tool, "convert", bmp, newJpg}, {"cjpeg", "-outfile", newJpg, ppm},
       {newJpg}, 1.6, colourKib},
      {"  the same, both optimising Huffman tables", {tool, "convert", bmp, newJpg},
       {"cjpeg", "-optimize", "-outfile", newJpg, ppm}, {newJpg}, 1.6, colourKib},
      {"  the same, neither optimising", {tool, "convert", bmp, newJpg, "-JPEGOutputOptimize=0"},
       {"cjpeg", "-outfile", newJpg, ppm}, {newJpg}, 1.6, colourKib},
      {"convert BMP to JPEG vs vips copy", {tool, "convert", bmp, newJpg}, {"vips", "copy", bmp, newJpg}, {newJpg},
       1.0, colourKib},
  };
  for (const TComparison& c : comparisons) Compare(c);

  std::printf("\nfsync + rename of a new %.1f MiB file cost %.3f s here (saves of new files before they were written "
              "in place paid it)\n",
              pictureBytes / 1048576.0, SyncedWriteCost(dir, pictureBytes));
  return 0;
}
