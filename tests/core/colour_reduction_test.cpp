#include "core/colour_reduction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "core/display_palette.h"
#include "core/dither.h"
#include "core/progress.h"
#include "support/image_fixture.h"
#include "support/peer.h"

namespace {

using testsupport::TRgbPicture;

// What the writers received.
struct TCapture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> bgrPalette;
  std::vector<int32_t> rowOrder;
  std::vector<std::vector<uint8_t>> rows;
  int trailers = 0;

  TReductionWriters Writers(bool withRows = true) {
    TReductionWriters writers;
    writers.header = [this](int32_t w, int32_t h, int32_t count, const uint8_t* bgr) {
      width = w;
      height = h;
      bgrPalette.assign(bgr, bgr + 3 * count);
      return true;
    };
    if (withRows) {
      writers.row = [this](const uint8_t* indices, int32_t count) {
        rows.emplace_back(indices, indices + count);
        return true;
      };
    }
    writers.trailer = [this] {
      ++trailers;
      return true;
    };
    return writers;
  }
  int32_t ColourCount() const { return static_cast<int32_t>(bgrPalette.size() / 3); }

  // The written rows put back in picture order and through the palette.
  TRgbPicture Picture(TRowOrder order) const {
    TRgbPicture picture{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
    size_t next = 0;
    ForEachRowInPassOrder(height, order, [&](int32_t row) {
      const auto& indices = rows.at(next++);
      for (int32_t x = 0; x < width; ++x) {
        uint8_t* rgb = &picture.rgb[(size_t(row) * width + x) * 3];
        rgb[0] = bgrPalette.at(3 * indices[x] + 2);
        rgb[1] = bgrPalette.at(3 * indices[x] + 1);
        rgb[2] = bgrPalette.at(3 * indices[x]);
      }
      return true;
    });
    return picture;
  }
};

void LoadRgb(TImage& image, const TRgbPicture& picture) {
  image.Create(0, picture.width, picture.height, 1, 1, 3, 1, 0);
  std::vector<uint8_t> bgr(size_t(picture.width) * 3);
  for (int y = 0; y < picture.height; ++y) {
    const uint8_t* rgb = &picture.rgb[size_t(y) * picture.width * 3];
    for (int x = 0; x < picture.width; ++x) {
      bgr[3 * x] = rgb[3 * x + 2];
      bgr[3 * x + 1] = rgb[3 * x + 1];
      bgr[3 * x + 2] = rgb[3 * x];
    }
    image.PutRow(0, y, bgr.data(), picture.width);
  }
  image.SetOutputGeometry(picture.width, picture.height, 1, 1, 0, true, true);
}

// Eight-bit picture of width x height whose pixel (x, y) is (x + y) % colours,
// with a palette of colours distinct entries.
void LoadIndexed(TImage& image, int width, int height, int colours) {
  image.Create(0, width, height, 1, 1, 1, 1, 0);
  TLogPalette palette;
  palette.count = static_cast<uint16_t>(colours);
  for (int i = 0; i < colours; ++i) {
    palette.entries[i] = {uint8_t(i * 37), uint8_t(255 - i * 11), uint8_t(i * 5), 0};
  }
  image.SetPalette(palette);
  std::vector<uint8_t> row(width);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) row[x] = uint8_t((x + y) % colours);
    image.PutRow(0, y, row.data(), width);
  }
  image.SetOutputGeometry(width, height, 1, 1, 0, true, true);
}

std::vector<int32_t> g_progress;
int RecordProgress(int percent) {
  g_progress.push_back(percent);
  return 0;
}
int AbortAtFifty(int percent) { return percent >= 50 ? 1 : 0; }

TEST(ColourReduction, PassOrderOfInterlacedRows) {
  std::vector<int32_t> rows;
  ForEachRowInPassOrder(10, TRowOrder::Interlaced, [&](int32_t row) {
    rows.push_back(row);
    return true;
  });
  EXPECT_EQ(rows, (std::vector<int32_t>{0, 8, 4, 2, 6, 1, 3, 5, 7, 9}));
  rows.clear();
  ForEachRowInPassOrder(3, TRowOrder::Sequential, [&](int32_t row) {
    rows.push_back(row);
    return row < 1;
  });
  EXPECT_EQ(rows, (std::vector<int32_t>{0, 1}));
}

TEST(ColourReduction, SmallPaletteGoesThroughUnchanged) {
  testsupport::TTestImage fixture;
  LoadIndexed(fixture.image, 7, 11, 5);
  fixture.image.m_colourCount = 5; // as a sorted palette leaves it
  TDither dither;
  TLogPalette palette;
  fixture.image.GetPalette(palette);
  TToneSettings inverted;
  inverted.invert = 1;
  dither.SetSourcePalette(&palette, TDitherTarget::Display, TColourMode::Colour, inverted);

  TCapture capture;
  const TProgressHook hook{nullptr, RecordProgress, nullptr};
  SetProgressHook(&hook);
  g_progress.clear();
  EXPECT_EQ(ReduceColours(fixture.image, &dither, TRowOrder::Interlaced, 5, capture.Writers()),
            TReduceResult::Ok);
  SetProgressHook(nullptr);

  ASSERT_EQ(capture.ColourCount(), 5);
  // The palette is the ditherer's, tone applied, as blue, green, red.
  EXPECT_EQ(capture.bgrPalette[3], 255 - 5);
  EXPECT_EQ(capture.bgrPalette[4], 255 - 244);
  EXPECT_EQ(capture.bgrPalette[5], 255 - 37);
  ASSERT_EQ(capture.rows.size(), 11u);
  EXPECT_EQ(capture.rows[1][0], 8 % 5); // second row written is picture row 8
  EXPECT_EQ(capture.rows[2][3], (3 + 4) % 5);
  EXPECT_EQ(capture.trailers, 1);
  ASSERT_FALSE(g_progress.empty());
  EXPECT_EQ(g_progress.back(), 100);
}

TEST(ColourReduction, LargePaletteIsQuantised) {
  testsupport::TTestImage fixture;
  LoadIndexed(fixture.image, 40, 30, 200);
  TCapture capture;
  EXPECT_EQ(ReduceColours(fixture.image, nullptr, TRowOrder::Sequential, 16, capture.Writers()),
            TReduceResult::Ok);
  EXPECT_LE(capture.ColourCount(), 16);
  EXPECT_GE(capture.ColourCount(), 8);
  ASSERT_EQ(capture.rows.size(), 30u);
  for (const auto& row : capture.rows) {
    for (uint8_t index : row) ASSERT_LT(index, capture.ColourCount());
  }
}

TEST(ColourReduction, TrueColourRowsTakeTheDitherersTone) {
  // Two colours, inverted by the ditherer's tone tables before they are
  // counted and mapped.
  TRgbPicture picture{8, 8, {}};
  TRgbPicture inverted{8, 8, {}};
  for (int i = 0; i < 64; ++i) {
    const uint8_t red = i % 3 ? 250 : 10;
    picture.rgb.insert(picture.rgb.end(), {red, 10, uint8_t(260 - red)});
    inverted.rgb.insert(inverted.rgb.end(), {uint8_t(255 - red), 245, uint8_t(red - 5)});
  }
  testsupport::TTestImage fixture;
  LoadRgb(fixture.image, picture);
  TDither dither;
  TToneSettings tone;
  tone.invert = 1;
  dither.SetSourcePalette(nullptr, TDitherTarget::Display, TColourMode::Colour, tone);
  TCapture capture;
  ASSERT_EQ(ReduceColours(fixture.image, &dither, TRowOrder::Sequential, 16, capture.Writers()),
            TReduceResult::Ok);
  EXPECT_EQ(capture.ColourCount(), 2);
  EXPECT_EQ(testsupport::CompareRgb(inverted, capture.Picture(TRowOrder::Sequential), 4), "");
}

// A photo-like picture: ImageMagick's plasma fractal, seeded.
TRgbPicture Plasma(const testsupport::TTempDir& dir, int size) {
  const std::string path = dir / "plasma.ppm";
  const std::string command = "convert -seed 1 -size " + std::to_string(size) + "x" +
                              std::to_string(size) + " plasma:fractal -depth 8 " + path;
  if (testsupport::Run(command) != 0) return {};
  return testsupport::ReadPnm(path);
}

// A plasma picture of size x size, kept as "plasma.ppm" in a scratch
// directory and loaded as a 24-bit image laid out at full size.
struct TPlasmaImage {
  explicit TPlasmaImage(int size) : original(Plasma(dir, size)) {
    LoadRgb(fixture.image, original);
  }
  testsupport::TTempDir dir;
  TRgbPicture original;
  testsupport::TTestImage fixture;
};

TEST(ColourReduction, SameIndicesAsDjpegQuantising) {
  // djpeg runs the same quantiser inside a real decompression: fed the same
  // pixels, our hosted quantiser must choose the same colours and indices.
  TPlasmaImage plasma(96);
  ASSERT_EQ(plasma.original.width, 96);
  const auto& dir = plasma.dir;
  const std::string jpeg = dir / "plasma.jpg";
  ASSERT_EQ(testsupport::Run("cjpeg -quality 95 " + (dir / "plasma.ppm") + " > " + jpeg), 0);
  ASSERT_EQ(testsupport::Run("djpeg -ppm " + jpeg + " > " + (dir / "decoded.ppm")), 0);
  TImage& image = plasma.fixture.image;
  LoadRgb(image, testsupport::ReadPnm(dir / "decoded.ppm"));

  for (int colours : {256, 37, 8}) {
    TCapture capture;
    ASSERT_EQ(ReduceColours(image, nullptr, TRowOrder::Sequential, colours, capture.Writers()),
              TReduceResult::Ok);
    const std::string reduced = dir / "reduced.ppm";
    ASSERT_EQ(testsupport::Run("djpeg -colors " + std::to_string(colours) + " -ppm " + jpeg +
                               " > " + reduced),
              0);
    EXPECT_EQ(testsupport::CompareRgb(testsupport::ReadPnm(reduced),
                                      capture.Picture(TRowOrder::Sequential)),
              "")
        << colours << " colours";
  }
}

TEST(ColourReduction, InterlacedRowsAreMappedInPictureOrder) {
  // The diffusion must reach the neighbouring row whatever order the rows are
  // written in: interlacing only reorders the mapped rows.
  TPlasmaImage plasma(64);
  TCapture sequential;
  TCapture interlaced;
  ASSERT_EQ(ReduceColours(plasma.fixture.image, nullptr, TRowOrder::Sequential, 32,
                          sequential.Writers()),
            TReduceResult::Ok);
  ASSERT_EQ(ReduceColours(plasma.fixture.image, nullptr, TRowOrder::Interlaced, 32,
                          interlaced.Writers()),
            TReduceResult::Ok);
  EXPECT_EQ(testsupport::CompareRgb(sequential.Picture(TRowOrder::Sequential),
                                    interlaced.Picture(TRowOrder::Interlaced)),
            "");
}

TEST(ColourReduction, QualityComparedWithImageMagick) {
  // A real photograph (libjpeg's test picture as djpeg decodes it): reduced
  // with Floyd-Steinberg, our mean error may exceed ImageMagick's own
  // "-colors" result on the same picture by at most a tenth.
  testsupport::TTempDir dir;
  const std::string photoPath = std::string(ZER_TEST_DATA) + "/peer/jpeg/testorig.ppm";
  const TRgbPicture photo = testsupport::ReadPnm(photoPath);
  ASSERT_GT(photo.width, 0);
  testsupport::TTestImage fixture;
  LoadRgb(fixture.image, photo);

  for (int colours : {256, 16}) {
    for (TRowOrder order : {TRowOrder::Sequential, TRowOrder::Interlaced}) {
      TCapture capture;
      ASSERT_EQ(ReduceColours(fixture.image, nullptr, order, colours, capture.Writers()), TReduceResult::Ok);
      EXPECT_LE(capture.ColourCount(), colours);
      const double ours = testsupport::MeanError(photo, capture.Picture(order));

      const std::string peerPath = dir / "peer.ppm";
      ASSERT_EQ(testsupport::Run("convert " + photoPath + " -colors " + std::to_string(colours) + " " + peerPath), 0);
      const double theirs = testsupport::MeanError(photo, testsupport::ReadPnm(peerPath));
      EXPECT_LE(ours, theirs * 1.1) << colours << " colours, interlaced " << (order == TRowOrder::Interlaced)
                                    << ": ours " << ours << ", ImageMagick " << theirs;
    }
  }
}

TEST(ColourReduction, FewerColoursThanTheQuantiserSelects) {
  TPlasmaImage plasma(64);
  ASSERT_EQ(plasma.original.width, 64);
  for (int colours : {7, 4, 2, 1}) {
    TCapture capture;
    ASSERT_EQ(ReduceColours(plasma.fixture.image, nullptr, TRowOrder::Sequential, colours,
                            capture.Writers()),
              TReduceResult::Ok);
    EXPECT_EQ(capture.ColourCount(), colours);
    std::set<uint8_t> used;
    for (const auto& row : capture.rows) used.insert(row.begin(), row.end());
    EXPECT_LE(*used.rbegin(), colours - 1);
    // Merging must still give a sensible picture: fewer colours, more error,
    // but far from the 60-odd of a single grey.
    const double error =
        testsupport::MeanError(plasma.original, capture.Picture(TRowOrder::Sequential));
    EXPECT_LT(error, colours == 1 ? 80 : 40) << colours;
  }
}

TEST(ColourReduction, DisplayPaletteOfATrueColourPicture) {
  // Five colours, each far from the others: the palette holds five entries,
  // each close to one of them (the histogram keeps 5 or 6 bits per channel).
  const uint8_t colours[5][3] = {
      {250, 10, 10}, {10, 250, 10}, {10, 10, 250}, {128, 128, 128}, {255, 255, 0}};
  TRgbPicture picture{300, 200, {}};
  for (int y = 0; y < 200; ++y) {
    for (int x = 0; x < 300; ++x) {
      const uint8_t* c = colours[(x / 60 + y / 50) % 5];
      picture.rgb.insert(picture.rgb.end(), c, c + 3);
    }
  }
  testsupport::TTestImage fixture;
  LoadRgb(fixture.image, picture);
  PrepareLoadedPicture(fixture.image, TPaletteSort::Sort);
  const TImage& image = fixture.image;
  ASSERT_EQ(image.m_directPaletteCount, 5);
  for (const auto* c : colours) {
    bool found = false;
    for (int i = 0; i < 5; ++i) {
      found |= std::abs(image.m_directRed[i] - c[0]) <= 4 &&
               std::abs(image.m_directGreen[i] - c[1]) <= 4 &&
               std::abs(image.m_directBlue[i] - c[2]) <= 4;
    }
    EXPECT_TRUE(found) << int(c[0]) << " " << int(c[1]) << " " << int(c[2]);
  }
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  fixture.image.OutputRect(left, top, right, bottom);
  EXPECT_EQ(right - left, 255);
  EXPECT_EQ(bottom - top, 170);

  // A photo-like picture fills all 236 entries.
  TPlasmaImage plasma(128);
  ComputeDisplayPalette(plasma.fixture.image);
  EXPECT_EQ(plasma.fixture.image.m_directPaletteCount, kDisplayPaletteColours);
}

TEST(ColourReduction, SortsTheLoadedPaletteWhenAsked) {
  testsupport::TTestImage fixture;
  LoadIndexed(fixture.image, 3, 1, 256); // uses indices 0, 1, 2 only
  PrepareLoadedPicture(fixture.image, TPaletteSort::Keep);
  EXPECT_EQ(fixture.image.ColourCount(), 256);
  PrepareLoadedPicture(fixture.image, TPaletteSort::Sort);
  EXPECT_EQ(fixture.image.ColourCount(), 3);
}

TEST(ColourReduction, ProgressAndStopping) {
  TPlasmaImage plasma(64);
  TImage& image = plasma.fixture.image;

  const TProgressHook record{nullptr, RecordProgress, nullptr};
  SetProgressHook(&record);
  g_progress.clear();
  TCapture capture;
  EXPECT_EQ(ReduceColours(image, nullptr, TRowOrder::Sequential, 64, capture.Writers()),
            TReduceResult::Ok);
  ASSERT_EQ(g_progress.size(), 128u);
  EXPECT_TRUE(std::is_sorted(g_progress.begin(), g_progress.end()));
  EXPECT_EQ(g_progress[63], 50);
  EXPECT_EQ(g_progress.back(), 100);

  g_progress.clear();
  TCapture paletteOnly;
  EXPECT_EQ(ReduceColours(image, nullptr, TRowOrder::Sequential, 64, paletteOnly.Writers(false)),
            TReduceResult::Ok);
  EXPECT_EQ(g_progress.size(), 64u);
  EXPECT_EQ(g_progress.back(), 100);
  EXPECT_GT(paletteOnly.ColourCount(), 8);
  EXPECT_EQ(paletteOnly.trailers, 1);

  const TProgressHook abort{nullptr, AbortAtFifty, nullptr};
  SetProgressHook(&abort);
  TCapture stopped;
  EXPECT_EQ(ReduceColours(image, nullptr, TRowOrder::Sequential, 64, stopped.Writers()),
            TReduceResult::Aborted);
  EXPECT_EQ(stopped.trailers, 0);
  SetProgressHook(nullptr);

  TReductionWriters failing = capture.Writers();
  failing.row = [](const uint8_t*, int32_t) { return false; };
  EXPECT_EQ(ReduceColours(image, nullptr, TRowOrder::Sequential, 64, failing),
            TReduceResult::WriterFailed);
}

} // namespace
