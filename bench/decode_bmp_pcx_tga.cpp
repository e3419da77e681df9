// Decoding speed of the BMP, PCX and TGA readers beside the fastest peer for
// each format: netpbm's bmptopnm and pcxtoppm, ImageMagick for TGA. Both sides
// decode the same 4000 x 3000 file, 8-bit and 24-bit, and write the picture as
// PPM to /dev/null; the best wall-clock time of three runs is printed with
// the ratio ours / peer (below 1 means we are faster).
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "app/profile.h"
#include "core/image.h"
#include "filepkg/filepkg.h"
#include "formats/bmp.h"
#include "formats/pcx.h"
#include "formats/tga.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kRuns = 3;

using TReader = void (*)(TPkgStream*, TImage&, const TProfile&);

double BestSeconds(const std::function<void()>& work) {
  double best = 1e30;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// A picture with smooth areas, edges and some noise, so that run-length
// coders meet both runs and literal stretches. With indexed set, every pixel
// takes one of 256 colours.
void WriteSource(const std::string& path, bool indexed) {
  std::vector<uint8_t> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
  uint32_t noise = 12345;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      noise = noise * 1103515245u + 12345u;
      uint8_t* p = &rgb[(static_cast<size_t>(y) * kWidth + x) * 3];
      const int band = ((x / 97) ^ (y / 61)) & 3;
      if (indexed) {
        const int index = ((x / 9 + y / 7) & 63) | (band << 6);
        p[0] = static_cast<uint8_t>(index);
        p[1] = static_cast<uint8_t>(index * 37);
        p[2] = static_cast<uint8_t>(255 - index);
      } else {
        const int grain = band == 0 ? static_cast<int>((noise >> 24) & 7) : 0;
        p[0] = static_cast<uint8_t>(x * 255 / kWidth + grain);
        p[1] = static_cast<uint8_t>(y * 255 / kHeight + grain);
        p[2] = static_cast<uint8_t>(band * 60 + grain);
      }
    }
  }
  FILE* out = std::fopen(path.c_str(), "wb");
  std::fprintf(out, "P6\n%d %d\n255\n", kWidth, kHeight);
  std::fwrite(rgb.data(), 1, rgb.size(), out);
  std::fclose(out);
}

// Our side: open through the file package, read, and write the picture as
// PPM, expanding indices through the palette.
void DecodeOurs(const std::string& path, TReader reader, TImage& image, const TProfile& options) {
  TPkgStream* stream = PkgOpen(path.c_str(), "rb");
  if (!stream) return;
  reader(stream, image, options);
  PkgClose(stream, 0);
  FILE* out = std::fopen("/dev/null", "wb");
  std::fprintf(out, "P6\n%d %d\n255\n", image.Width(), image.Height());
  std::vector<uint8_t> line(static_cast<size_t>(image.Width()) * 3);
  const auto& colours = image.Bitmap().colours;
  for (int y = 0; y < image.Height(); ++y) {
    const uint8_t* row = image.Row(y);
    uint8_t* p = line.data();
    if (image.BytesPerPixel() == 1) {
      for (int x = 0; x < image.Width(); ++x, p += 3) {
        const TRgbQuad& c = colours[row[x]];
        p[0] = c.red;
        p[1] = c.green;
        p[2] = c.blue;
      }
    } else {
      for (int x = 0; x < image.Width(); ++x, p += 3, row += 3) {
        p[0] = row[2];
        p[1] = row[1];
        p[2] = row[0];
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

int main() {
  char pattern[] = "/tmp/zer-bench-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (!made) return 1;
  const std::string dir = made;
  WriteSource(dir + "/src8.ppm", true);
  WriteSource(dir + "/src24.ppm", false);

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
  TImage image(options.Ref(IntKey::ZoomMul), options.Ref(IntKey::ZoomDiv), options.Ref(IntKey::GIFOver),
               options.Ref(IntKey::GIFDpi1), options.Ref(IntKey::GIFDpi2), options.Ref(IntKey::GIFDpi3));
  std::printf("%-16s %10s %10s %8s %10s\n", "file", "ours (s)", "peer (s)", "ratio", "ours Mpx/s");
  for (const TCase& c : cases) {
    const std::string file = dir + "/bench.img";
    std::string make = Fill(c.makeFile, "SRC8", dir + "/src8.ppm");
    make = Fill(Fill(make, "SRC24", dir + "/src24.ppm"), "OUT", file);
    if (!Shell(make + " 2>/dev/null")) {
      std::printf("%-16s could not be made\n", c.name);
      continue;
    }
    const double ours = BestSeconds([&] { DecodeOurs(file, c.reader, image, options); });
    const std::string peer = Fill(c.peer, "IN", file) + " >/dev/null 2>&1";
    const double theirs = BestSeconds([&] { Shell(peer); });
    std::printf("%-16s %10.3f %10.3f %8.2f %10.0f\n", c.name, ours, theirs, ours / theirs,
                kWidth * double{kHeight} / ours / 1e6);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
