// Decoding speed of the BMP, PCX and TGA readers beside the fastest peer for
// each format: netpbm's bmptopnm and pcxtoppm, ImageMagick for TGA. Both sides
// decode the same 4000 x 3000 file, 8-bit and 24-bit, and write the picture as
// PPM to /dev/null; the best wall-clock time of three runs is printed with
// the ratio ours / peer (below 1 means we are faster).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "settings/profile.h"
#include "bench_support.h"
#include "core/image.h"
#include "filepkg/filepkg.h"
#include "formats/bmp.h"
#include "formats/pcx.h"
#include "formats/tga.h"

namespace {

using TReader = TReadOutcome (*)(TPkgStream*, TImage&, const TProfile&);

// Our side: open through the file package, read, and write the picture as
// PPM, expanding indices through the palette.
void DecodeOurs(const std::string& path, TReader reader, TImage& image, const TProfile& options) {
  TPkgStream* stream = PkgOpen(path.c_str(), "rb");
  if (!stream) return;
  reader(stream, image, options);
  PkgClose(stream, 0);
  FILE* out = std::fopen("/dev/null", "wb");
  std::fprintf(out, "P6\n%d %d\n255\n", image.Width(), image.Height());
  std::vector<uint8_t> palette(256 * 3);
  const auto& colours = image.Bitmap().colours;
  for (size_t i = 0; i < 256; ++i) {
    palette[3 * i] = colours[i].red;
    palette[3 * i + 1] = colours[i].green;
    palette[3 * i + 2] = colours[i].blue;
  }
  std::vector<uint8_t> line;
  for (int y = 0; y < image.Height(); ++y) {
    const uint8_t* row = image.Row(y);
    line.clear();
    if (image.BytesPerPixel() == 1) {
      bench::AppendIndexedRow(line, row, image.Width(), palette.data());
    } else {
      line.resize(static_cast<size_t>(image.Width()) * 3);
      for (size_t x = 0; x < line.size(); x += 3) {
        line[x] = row[x + 2];
        line[x + 1] = row[x + 1];
        line[x + 2] = row[x];
      }
    }
    std::fwrite(line.data(), 1, line.size(), out);
  }
  std::fclose(out);
}

struct TCase {
  const char* name;
  const char* makeFile; // from SRC (the PPM) to OUT
  TReader reader;
  const char* peer;     // decodes IN to PPM on standard output
};

std::string Fill(std::string text, const std::string& key, const std::string& value) {
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + value.size()))
    text.replace(at, key.size(), value);
  return text;
}

} // namespace

int main(int argc, char** argv) {
  bench::TScratchDir dir;
  const bench::TPpm source = bench::PhotoLikeFromArguments(argc, argv, dir);
  if (source.width == 0) return 1;
  const std::string src24 = dir / "in.ppm";
  const std::string src8 = dir / "in8.ppm";
  if (std::system(("convert '" + src24 + "' -colors 256 '" + src8 + "'").c_str()) != 0) return 1;

  const TCase cases[] = {
      {"BMP 8-bit", "ppmtobmp -bpp=8 SRC8 >OUT", ReadBmp, "bmptopnm IN"},
      {"BMP 24-bit", "ppmtobmp -bpp=24 SRC24 >OUT", ReadBmp, "bmptopnm IN"},
      {"PCX 8-bit", "ppmtopcx -8bit SRC8 >OUT", ReadPcx, "pcxtoppm IN"},
      {"PCX 24-bit", "ppmtopcx -24bit SRC24 >OUT", ReadPcx, "pcxtoppm IN"},
      {"TGA 8-bit", "convert SRC8 -type palette tga:OUT", ReadTga, "convert tga:IN ppm:-"},
      {"TGA 24-bit RLE", "convert SRC24 -compress rle tga:OUT", ReadTga, "convert tga:IN ppm:-"},
  };
  TProfile options;
  options.Set(IntKey::QuickLook, 0);
  bench::TBenchImage holder;
  std::printf("%d x %d pixels, best of %d\n", source.width, source.height, bench::kRuns);
  std::printf("%-16s %10s %10s %8s %10s\n", "file", "ours (s)", "peer (s)", "ratio", "ours Mpx/s");
  for (const TCase& c : cases) {
    const std::string file = dir / "bench.img";
    const std::string make = Fill(Fill(Fill(c.makeFile, "SRC8", src8), "SRC24", src24), "OUT", file);
    if (std::system((make + " 2>/dev/null").c_str()) != 0) {
      std::printf("%-16s could not be made\n", c.name);
      continue;
    }
    const double ours = bench::BestOf([&] { return bench::Seconds([&] { DecodeOurs(file, c.reader, holder.image, options); }); });
    const double theirs = bench::BestOf([&] { return bench::CommandSeconds(Fill(c.peer, "IN", file) + " >/dev/null 2>&1"); });
    std::printf("%-16s %10.3f %10.3f %8.2f %10.0f\n", c.name, ours, theirs, ours / theirs,
                static_cast<double>(source.width) * source.height / ours / 1e6);
  }
  return 0;
}
