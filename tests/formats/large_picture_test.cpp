// Pictures of the size today's largest cameras take (11648 x 8736, 102
// million pixels) through every writer, read back at full size by a peer
// decoder and by our own reader and compared byte for byte (JPEG, being
// lossy, by its size).
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "core/dither.h"
#include "core/image.h"
#include "formats/codec_results.h"
#include "formats/picture_io.h"
#include "settings/profile.h"
#include "support/image_fixture.h"
#include "support/peer.h"

namespace {

using testsupport::RunOutput;
using testsupport::TTempDir;

constexpr int32_t kWidth = 11648;
constexpr int32_t kHeight = 8736;

// Columns change every 16 pixels, so that the run-length writers find runs
// and the test stays quick, and rows every row; the top bits of both go
// into the third channel, so that no two places far apart look alike.
uint8_t Blue(int32_t x, int32_t) { return static_cast<uint8_t>(x / 16); }
uint8_t Green(int32_t, int32_t y) { return static_cast<uint8_t>(y); }
uint8_t Red(int32_t x, int32_t y) { return static_cast<uint8_t>(x / 4096 * 37 + y / 256 * 5); }

// The picture as a PPM file would hold it, through md5sum.
std::string PpmHash(const TImage& image) {
  TTempDir dir;
  const std::string hashFile = dir / "hash";
  FILE* pipe = popen(("md5sum > '" + hashFile + "'").c_str(), "w");
  if (!pipe) return {};
  std::fprintf(pipe, "P6\n%d %d\n255\n", image.Width(), image.Height());
  TLogPalette palette;
  image.GetPalette(palette);
  std::vector<uint8_t> rgb(static_cast<size_t>(image.Width()) * 3);
  for (int32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* row = image.Row(y);
    for (int32_t x = 0; x < image.Width(); ++x) {
      uint8_t* out = &rgb[static_cast<size_t>(x) * 3];
      if (image.BytesPerPixel() == 3) {
        const uint8_t* pixel = row + static_cast<size_t>(x) * 3;
        out[0] = pixel[2];
        out[1] = pixel[1];
        out[2] = pixel[0];
      } else {
        const TPaletteEntry& entry = palette.entries[row[x]];
        out[0] = entry.red;
        out[1] = entry.green;
        out[2] = entry.blue;
      }
    }
    std::fwrite(rgb.data(), 1, rgb.size(), pipe);
  }
  pclose(pipe);
  return RunOutput("cat '" + hashFile + "'");
}

class LargePicture : public ::testing::Test {
protected:
  // Both pictures are made once: a 24-bit one for every writer, and an
  // 8-bit one for GIF, whose writer would otherwise reduce the colours.
  static void SetUpTestSuite() {
    s_colour = std::make_unique<testsupport::TTestImage>();
    TImage& colour = s_colour->image;
    colour.Create(4, kWidth, kHeight, 300, 300, 3, 1, 0);
    for (int32_t y = 0; y < kHeight; ++y) {
      uint8_t* row = colour.RowBuffer(0, y, kWidth);
      for (int32_t x = 0; x < kWidth; ++x) {
        row[3 * x] = Blue(x, y);
        row[3 * x + 1] = Green(x, y);
        row[3 * x + 2] = Red(x, y);
      }
      colour.PutRow(0, y, row, kWidth);
    }
    s_indexed = std::make_unique<testsupport::TTestImage>();
    TImage& indexed = s_indexed->image;
    indexed.Create(0, kWidth, kHeight, 300, 300, 1, 1, 0);
    TLogPalette palette;
    palette.count = 256;
    for (int i = 0; i < 256; ++i)
      palette.entries[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7), 0};
    indexed.SetPalette(palette);
    for (int32_t y = 0; y < kHeight; ++y) {
      uint8_t* row = indexed.RowBuffer(0, y, kWidth);
      for (int32_t x = 0; x < kWidth; ++x) row[x] = static_cast<uint8_t>(Blue(x, y) + Green(x, y));
      indexed.PutRow(0, y, row, kWidth);
    }
  }
  static void TearDownTestSuite() {
    s_colour.reset();
    s_indexed.reset();
  }

  // Saves through the writer entry with a ditherer prepared as the save
  // command prepares it.
  static int Save(TImage& image, const std::string& path) {
    const TProfile options;
    TDither ditherer;
    TLogPalette palette;
    image.GetPalette(palette);
    ditherer.SetSourcePalette(image.BytesPerPixel() == 1 ? &palette : nullptr, TDitherTarget::Display,
                              TColourMode::Colour, TToneSettings{});
    return SavePicture(path.c_str(), 0, image, options, &ditherer);
  }

  static inline std::unique_ptr<testsupport::TTestImage> s_colour;
  static inline std::unique_ptr<testsupport::TTestImage> s_indexed;
  TTempDir m_dir;
};

TEST_F(LargePicture, EveryLosslessWriterKeepsEveryPixel) {
  const std::string colourHash = PpmHash(s_colour->image);
  const std::string indexedHash = PpmHash(s_indexed->image);
  const struct {
    const char* extension;
    const char* peer; // decodes the file named after it to PNM on standard output
    bool indexed;
  } cases[] = {
      {".bmp", "bmptopnm", false}, {".pcx", "pcxtoppm", false}, {".tga", "tgatoppm", false},
      {".tif", "tifftopnm", false}, {".png", "pngtopnm", false}, {".gif", "giftopnm", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extension);
    const std::string path = m_dir / (std::string("large") + c.extension);
    ASSERT_EQ(Save(c.indexed ? s_indexed->image : s_colour->image, path), kSaveWritten);
    const std::string& hash = c.indexed ? indexedHash : colourHash;
    EXPECT_EQ(RunOutput(std::string(c.peer) + " '" + path + "' 2>/dev/null | ppmtoppm | md5sum"), hash);
    testsupport::TTestImage read;
    TReadOutcome outcome = TReadOutcome::CannotOpen;
    ReadPicture(path.c_str(), read.image, TProfile(), &outcome);
    EXPECT_EQ(outcome, TReadOutcome::Complete);
    EXPECT_EQ(PpmHash(read.image), hash);
    std::remove(path.c_str());
  }
}

TEST_F(LargePicture, JpegWriterKeepsTheSize) {
  const std::string path = m_dir / "large.jpg";
  ASSERT_EQ(Save(s_colour->image, path), kSaveWritten);
  EXPECT_EQ(RunOutput("djpeg '" + path + "' | pamfile"), "stdin:\tPPM raw, 11648 by 8736  maxval 255\n");
}

} // namespace
