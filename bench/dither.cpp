// Dithers a photo-like 24-bit picture to its 236-colour display palette at
// dither quality 2, reading and writing PPM, beside ImageMagick mapping the
// same picture to the same palette:
//   convert in.ppm -remap palette.ppm ppm:-
// Usage: bench_dither [width height]   (default 4000 x 3000)
#include <cstdio>
#include <cstdlib>

#include "bench_support.h"
#include "core/dither.h"
#include "core/display_palette.h"

int main(int argc, char** argv) {
  const int32_t width = argc > 2 ? std::atoi(argv[1]) : 4000;
  const int32_t height = argc > 2 ? std::atoi(argv[2]) : 3000;
  bench::TScratchDir dir;
  const std::string input = dir / "in.ppm";
  const bench::TPpm picture = bench::MakePhotoLike(input, width, height);
  if (!dir.Valid() || picture.width != width) {
    std::fprintf(stderr, "could not make the test picture with ImageMagick\n");
    return 1;
  }

  // The palette both sides map to: the picture's own display palette.
  bench::TBenchImage fixture;
  bench::LoadPpm(fixture.image, picture);
  ComputeDisplayPalette(fixture.image);
  const TImage& image = fixture.image;
  TLogPalette target;
  target.count = static_cast<uint16_t>(image.m_directPaletteCount);
  std::vector<uint8_t> paletteRgb;
  for (int i = 0; i < target.count; ++i) {
    target.entries[i] = {image.m_directRed[i], image.m_directGreen[i], image.m_directBlue[i], 0};
    paletteRgb.insert(paletteRgb.end(),
                      {image.m_directRed[i], image.m_directGreen[i], image.m_directBlue[i]});
  }
  const std::string palettePath = dir / "palette.ppm";
  bench::WritePpm(palettePath, target.count, 1, paletteRgb);

  TDither dither(2);
  double ditherOnly = 0;
  const double ours = bench::Seconds([&] {
    bench::LoadPpm(fixture.image, bench::ReadPpm(input));
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    std::vector<uint8_t> rgb;
    rgb.reserve(static_cast<size_t>(width) * height * 3);
    ditherOnly = bench::Seconds([&] {
      dither.SetSourcePalette(nullptr, TDitherTarget::Display, TColourMode::Colour,
                              TToneSettings{});
      dither.StartDithering(target);
      for (int32_t y = 0; y < height; ++y) {
        fixture.image.OutputRow(0, y, row.data(), width);
        dither.DitherRow(row.data(), width, 3);
        for (int32_t x = 0; x < width; ++x) {
          const TPaletteEntry& entry = target.entries[row[x]];
          rgb.insert(rgb.end(), {entry.red, entry.green, entry.blue});
        }
      }
    });
    bench::WritePpm(dir / "ours.ppm", width, height, rgb);
  });

  const double peer =
      bench::CommandSeconds("convert " + input + " -remap " + palettePath + " ppm:- > /dev/null");
  if (peer <= 0) {
    std::fprintf(stderr, "ImageMagick failed\n");
    return 1;
  }
  std::printf("dither %d x %d to its %d-colour display palette at quality 2\n", width, height,
              target.count);
  std::printf("  ours (read, dither, write): %.3f s (dithering alone %.3f s)\n", ours, ditherOnly);
  std::printf("  ImageMagick convert -remap: %.3f s\n", peer);
  std::printf("  ratio ours / ImageMagick:   %.3f (target at most 0.25)\n", ours / peer);
  return 0;
}
