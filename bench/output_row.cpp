// Resamples and turns a photo-like 24-bit picture through the image record's
// output rows, reading and writing PPM, beside ImageMagick doing the same by
// nearest neighbour:
//   convert in.ppm -rotate 90 ppm:-          (a quarter turn at full size)
//   convert in.ppm -sample 800x600 ppm:-     (a reduction to 800 x 600)
// Usage: bench_output_row [width height]   (default 4000 x 3000)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

#include "bench_support.h"

namespace {

// Reads the PPM, lays the output out in an area and writes every output row
// as PPM; returns the seconds taken.
double OursSeconds(TImage& image, const std::string& input, const std::string& output,
                   int32_t areaWidth, int32_t areaHeight, int32_t orientation) {
  return bench::Seconds([&] {
    bench::LoadPpm(image, bench::ReadPpm(input));
    image.SetOutputGeometry(areaWidth, areaHeight, 1, 1, orientation, true, true);
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    image.OutputRect(left, top, right, bottom);
    const int32_t width = right - left;
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * (bottom - top) * 3);
    uint8_t* row = rgb.data();
    for (int32_t y = top; y < bottom; ++y, row += width * 3) {
      image.OutputRow(left, y, row, width);
      for (int32_t x = 0; x < width; ++x) std::swap(row[3 * x], row[3 * x + 2]);
    }
    bench::WritePpm(output, width, bottom - top, rgb);
  });
}

} // namespace

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
  bench::TBenchImage fixture;

  struct Job {
    const char* name;
    int32_t areaWidth, areaHeight, orientation;
    std::string peerArguments;
  };
  const Job jobs[] = {
      {"quarter turn at full size", height, width, 3, "-rotate 90"},
      {"reduction to 800 x 600", 800, 600, 0, "-sample 800x600"},
  };
  std::printf("output rows of a %d x %d 24-bit picture\n", width, height);
  for (const Job& job : jobs) {
    const double ours = OursSeconds(fixture.image, input, dir / "ours.ppm", job.areaWidth,
                                    job.areaHeight, job.orientation);
    const double peer =
        bench::CommandSeconds("convert " + input + " " + job.peerArguments + " ppm:- > /dev/null");
    if (peer <= 0) {
      std::fprintf(stderr, "ImageMagick failed\n");
      return 1;
    }
    std::printf("  %s: ours %.3f s, ImageMagick %.3f s, ratio %.3f\n", job.name, ours, peer,
                ours / peer);
  }
  return 0;
}
