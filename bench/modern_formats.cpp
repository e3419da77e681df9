// Today's formats as whole processes, side by side with the peers, in one
// run: zerbalin-tool decoding a 12 MP PNG, WebP and HEIC picture to PPM
// against vips (which reads them through the same libraries) and the
// libraries' own tools, and encoding a PNG from a BMP against vips at the
// same zlib level. Each comparison prints wall-clock and processor times
// (best of five, a new output file each run), their ratio against the
// target, and our peak memory against the picture's size plus 10 MiB.
//
// The pictures come from ImageMagick's seeded plasma: a 24-bit BMP and PPM,
// a PNG written by vips, a WebP by cwebp (quality 75) and a HEIC by heif-enc
// (quality 50).
//
// Usage: bench_modern_formats [width height]
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"

int main(int argc, char** argv) {
  const bench::TScratchDir dir;
  std::printf("making the pictures with ImageMagick, vips, cwebp and heif-enc...\n");
  const bench::TPpm photo = bench::PhotoLikeFileFromArguments(argc, argv, dir);
  if (photo.width == 0) return 1;
  const size_t pictureBytes = static_cast<size_t>(photo.width) * photo.height * 3;
  const std::string ppm = dir / "in.ppm";
  const std::string bmp = dir / "photo.bmp";
  const std::string png = dir / "photo.png";
  const std::string webp = dir / "photo.webp";
  const std::string heic = dir / "photo.heic";
  if (!bench::Shell("convert '" + ppm + "' -type truecolor BMP3:'" + bmp + "'") ||
      !bench::Shell("vips copy '" + ppm + "' '" + png + "[compression=6]'") ||
      !bench::Shell("cwebp -quiet -q 75 '" + ppm + "' -o '" + webp + "'") ||
      !bench::Shell("convert '" + ppm + "' '" + dir / "photo-in.png" + "' && heif-enc -q 50 '" + dir / "photo-in.png" +
                    "' -o '" + heic + "' >/dev/null")) {
    std::fprintf(stderr, "could not make the pictures\n");
    return 1;
  }
  const std::string tool = ZER_TOOL;
  const std::string newPpm = dir / "new.ppm";
  const std::string newPng = dir / "new.png";
  const long colourKib = static_cast<long>(pictureBytes / 1024);
  std::printf("%d x %d; ratios are ours / peer\n\n", photo.width, photo.height);

  const bench::TComparison comparisons[] = {
      {"decode PNG to PPM vs vips copy", {tool, "decode", png, newPpm}, {"vips", "copy", png, newPpm}, {newPpm}, 1.0,
       colourKib},
      {"decode PNG to PPM vs pngtopnm", {tool, "decode", png, newPpm}, {"pngtopnm", png}, {newPpm}, 1.0, colourKib},
      {"decode WebP to PPM vs dwebp", {tool, "decode", webp, newPpm}, {"dwebp", "-quiet", webp, "-ppm", "-o", newPpm},
       {newPpm}, 1.0, colourKib},
      {"decode WebP to PPM vs vips copy", {tool, "decode", webp, newPpm}, {"vips", "copy", webp, newPpm}, {newPpm},
       1.0, colourKib},
      {"decode HEIC to PPM vs vips copy", {tool, "decode", heic, newPpm}, {"vips", "copy", heic, newPpm}, {newPpm},
       1.0, colourKib},
      {"decode HEIC vs heif-convert to PNG", {tool, "decode", heic, newPpm}, {"heif-convert", heic, newPng},
       {newPpm, newPng}, 1.0, colourKib},
      {"encode BMP to PNG vs vips copy (level 6)", {tool, "convert", bmp, newPng},
       {"vips", "copy", bmp, newPng + "[compression=6]"}, {newPng}, 1.0, colourKib},
      {"  the same, vips filtering adaptively too", {tool, "convert", bmp, newPng},
       {"vips", "copy", bmp, newPng + "[compression=6,filter=all]"}, {newPng}, 1.0, colourKib},
  };
  for (const bench::TComparison& c : comparisons) bench::Compare(c);
  return 0;
}
