// Reduces a photo-like 24-bit picture to 256 colours with Floyd-Steinberg
// diffusion, reading and writing PPM, beside ImageMagick doing the same job:
//   convert in.ppm -dither FloydSteinberg -colors 256 ppm:-
// Usage: bench_colour_reduce [width height]   (default 4000 x 3000)
#include <cstdio>

#include "bench_support.h"
#include "core/colour_reduction.h"

int main(int argc, char** argv) {
  bench::TScratchDir dir;
  const bench::TPpm picture = bench::PhotoLikeFromArguments(argc, argv, dir);
  if (picture.rgb.empty()) return 1;
  const std::string input = dir / "in.ppm";

  bench::TBenchImage fixture;
  double reduceOnly = 0;
  int32_t colours = 0;
  const double ours = bench::Seconds([&] {
    bench::LoadPpm(fixture.image, bench::ReadPpm(input));
    std::vector<uint8_t> palette; // red, green, blue
    std::vector<uint8_t> rgb;
    rgb.reserve(static_cast<size_t>(picture.width) * picture.height * 3);
    TReductionWriters writers;
    writers.header = [&](int32_t, int32_t, int32_t count, const uint8_t* bgr) {
      for (int32_t i = 0; i < count; ++i)
        palette.insert(palette.end(), {bgr[3 * i + 2], bgr[3 * i + 1], bgr[3 * i]});
      colours = count;
      return true;
    };
    writers.row = [&](const uint8_t* indices, int32_t count) {
      bench::AppendIndexedRow(rgb, indices, count, palette.data());
      return true;
    };
    reduceOnly = bench::Seconds(
        [&] { ReduceColours(fixture.image, nullptr, TRowOrder::Sequential, 256, writers); });
    bench::WritePpm(dir / "ours.ppm", picture.width, picture.height, rgb);
  });

  const double peer = bench::CommandSeconds(
      "convert " + input + " -dither FloydSteinberg -colors 256 ppm:- > /dev/null");
  if (peer <= 0) {
    std::fprintf(stderr, "ImageMagick failed\n");
    return 1;
  }
  std::printf("reduce %d x %d to 256 colours with Floyd-Steinberg (%d chosen)\n", picture.width,
              picture.height, colours);
  std::printf("  ours (read, reduce, write): %.3f s (reduction alone %.3f s)\n", ours, reduceOnly);
  std::printf("  ImageMagick convert:        %.3f s\n", peer);
  std::printf("  ratio ours / ImageMagick:   %.3f (target at most 0.25)\n", ours / peer);
  return 0;
}
