// Dithers a photo-like 24-bit picture to its 236-colour display palette at
// dither quality 2, reading and writing PPM, beside ImageMagick mapping the
// same picture to the same palette:
//   convert in.ppm -remap palette.ppm ppm:-
// Usage: bench_dither [width height]   (default 4000 x 3000)
#include <cstdio>

#include "bench_support.h"
#include "core/display_palette.h"
#include "core/dither.h"

int main(int argc, char** argv) {
  bench::TScratchDir dir;
  const bench::TPpm picture = bench::PhotoLikeFromArguments(argc, argv, dir);
  if (picture.rgb.empty()) return 1;
  const std::string input = dir / "in.ppm";

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
    std::vector<uint8_t> row(static_cast<size_t>(picture.width) * 3);
    std::vector<uint8_t> rgb;
    rgb.reserve(static_cast<size_t>(picture.width) * picture.height * 3);
    ditherOnly = bench::Seconds([&] {
      dither.SetSourcePalette(nullptr, TDitherTarget::Display, TColourMode::Colour,
                              TToneSettings{});
      dither.StartDithering(target);
      for (int32_t y = 0; y < picture.height; ++y) {
        fixture.image.OutputRow(0, y, row.data(), picture.width);
        dither.DitherRow(row.data(), picture.width, 3);
        bench::AppendIndexedRow(rgb, row.data(), picture.width, paletteRgb.data());
      }
    });
    bench::WritePpm(dir / "ours.ppm", picture.width, picture.height, rgb);
  });

  const double peer =
      bench::CommandSeconds("convert " + input + " -remap " + palettePath + " ppm:- > /dev/null");
  if (peer <= 0) {
    std::fprintf(stderr, "ImageMagick failed\n");
    return 1;
  }
  std::printf("dither %d x %d to its %d-colour display palette at quality 2\n", picture.width,
              picture.height, target.count);
  std::printf("  ours (read, dither, write): %.3f s (dithering alone %.3f s)\n", ours, ditherOnly);
  std::printf("  ImageMagick convert -remap: %.3f s\n", peer);
  std::printf("  ratio ours / ImageMagick:   %.3f (target at most 0.25)\n", ours / peer);
  return 0;
}
