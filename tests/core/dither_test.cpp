#include "core/dither.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <utility>
#include <vector>

#include "core/image.h"
#include "support/image_fixture.h"

namespace {

using testsupport::MakePalette;

// Black, white, then coloured entries up to count (none of them grey).
TLogPalette BlackWhiteAndColours(int count) {
  TLogPalette palette = MakePalette({{0, 0, 0, 0}, {255, 255, 255, 0}});
  while (palette.count < count) {
    palette.entries[palette.count] = {255, static_cast<uint8_t>(palette.count * 10), 0, 0};
    ++palette.count;
  }
  return palette;
}

TLogPalette WebPalette() {
  TLogPalette palette;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        palette.entries[palette.count++] = {static_cast<uint8_t>(r * 51),
                                            static_cast<uint8_t>(g * 51),
                                            static_cast<uint8_t>(b * 51), 0};
  return palette;
}

TEST(Dither, ErrorSharesAddUpAndClamp) {
  const TErrorShares& big = ErrorShares(300);
  EXPECT_EQ(big.behind, 23);
  EXPECT_EQ(big.below, 39);
  EXPECT_EQ(big.ahead, 7);
  EXPECT_EQ(big.next, 58);
  const TErrorShares& negative = ErrorShares(-100);
  EXPECT_EQ(negative.behind, -18);
  EXPECT_EQ(negative.below, -31);
  EXPECT_EQ(negative.ahead, -6);
  EXPECT_EQ(negative.next, -45);
  for (int e = -128; e < 128; ++e) {
    const TErrorShares& s = ErrorShares(e);
    ASSERT_EQ(s.behind + s.below + s.ahead + s.next, e);
  }
}

TEST(Dither, RowsAlternateDirectionAndStartAfreshWithTheSource) {
  // Grey 128 has luminance 127, one short of the middle, so the first grey
  // pixel processed turns black and its neighbour white. A black row leaves
  // no error behind.
  const TLogPalette source = MakePalette({{128, 128, 128, 0}, {0, 0, 0, 0}});
  const std::vector<uint8_t> grey(4, 0);
  const std::vector<uint8_t> black(4, 1);
  TDither dither;
  auto start = [&] {
    dither.SetSourcePalette(&source, TDitherTarget::Display, TColourMode::Grey, TToneSettings{});
    dither.StartDithering(BlackWhiteAndColours(17));
  };
  auto dithered = [&](std::vector<uint8_t> row) {
    dither.DitherRow(row.data(), 4, 1);
    return row;
  };
  start();
  EXPECT_EQ(dithered(black), (std::vector<uint8_t>{0, 0, 0, 0}));
  EXPECT_EQ(dithered(grey), (std::vector<uint8_t>{0, 1, 0, 1})) << "second row: left to right";
  dithered(black); // the third row runs right to left and takes errors
  start();         // direction and errors start afresh
  EXPECT_EQ(dithered(grey), (std::vector<uint8_t>{1, 0, 1, 0})) << "first row: right to left";
}

TEST(Dither, MidGreyAlternatesBetweenBlackAndWhite) {
  // Two target colours select the lightening gamma .77; grey 151 has
  // luminance 150, which that curve maps to the middle, 128.
  const TLogPalette source = MakePalette({{151, 151, 151, 0}});
  TDither dither;
  dither.SetSourcePalette(&source, TDitherTarget::Display, TColourMode::Grey, TToneSettings{});
  dither.StartDithering(MakePalette({{0, 0, 0, 0}, {255, 255, 255, 0}}));
  std::vector<uint8_t> row(16, 0);
  dither.DitherRow(row.data(), 16, 1);
  for (int x = 1; x < 16; ++x) EXPECT_NE(row[x], row[x - 1]) << "x " << x;
}

// Share of white pixels when a flat grey 128 picture is dithered to black and
// white: the diffusion keeps the mean, so the share shows the matching gamma.
double WhiteShare(TColourMode mode, TDitherTarget use, int paletteCount, int bytesPerPixel) {
  const TLogPalette source = MakePalette({{128, 128, 128, 0}});
  TDither dither(3);
  dither.SetSourcePalette(bytesPerPixel == 1 ? &source : nullptr, use, mode, TToneSettings{});
  dither.StartDithering(BlackWhiteAndColours(paletteCount));
  const int width = 64;
  int white = 0;
  for (int y = 0; y < 64; ++y) {
    std::vector<uint8_t> row(width * bytesPerPixel, bytesPerPixel == 1 ? 0 : 128);
    dither.DitherRow(row.data(), width, bytesPerPixel);
    for (int x = 0; x < width; ++x) white += row[x] == 1;
    for (int x = 0; x < width; ++x) EXPECT_LE(row[x], 1);
  }
  return white / double(width * 64);
}

TEST(Dither, MatchingGammaFollowsTargetAndPaletteSize) {
  struct TCase {
    TColourMode mode;
    TDitherTarget use;
    int paletteCount;
    int bytesPerPixel;
    double expected;
  };
  // Luminance 127 through gamma tables 5 (identity), 6 (.77) and 4 (1.3).
  const TCase cases[] = {
      {TColourMode::Grey, TDitherTarget::Display, 17, 1, 127 / 255.0},
      {TColourMode::Grey, TDitherTarget::Display, 2, 1, GammaTable(6)[128] / 255.0},
      {TColourMode::Grey, TDitherTarget::Printer, 2, 1, GammaTable(4)[128] / 255.0},
      {TColourMode::Grey, TDitherTarget::Display, 17, 3, 127 / 255.0},
      {TColourMode::Colour, TDitherTarget::Printer, 2, 3, GammaTable(4)[128] / 255.0},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(WhiteShare(c.mode, c.use, c.paletteCount, c.bytesPerPixel), c.expected, 0.02)
        << "palette " << c.paletteCount << " printer " << (c.use == TDitherTarget::Printer);
  }
}

TEST(Dither, FlatColourKeepsItsMeanOnAWebPalette) {
  const TLogPalette target = WebPalette();
  for (int quality : {1, 2, 3}) {
    TDither dither(quality);
    dither.SetSourcePalette(nullptr, TDitherTarget::Display, TColourMode::Colour, TToneSettings{});
    dither.StartDithering(target);
    const int width = 48;
    double sum[3] = {0, 0, 0};
    for (int y = 0; y < 48; ++y) {
      std::vector<uint8_t> row;
      for (int x = 0; x < width; ++x) row.insert(row.end(), {200, 150, 100}); // blue, green, red
      dither.DitherRow(row.data(), width, 3);
      for (int x = 0; x < width; ++x) {
        sum[0] += target.entries[row[x]].red;
        sum[1] += target.entries[row[x]].green;
        sum[2] += target.entries[row[x]].blue;
      }
    }
    const double n = width * 48.0;
    EXPECT_NEAR(sum[0] / n, 100, 6) << "quality " << quality;
    EXPECT_NEAR(sum[1] / n, 150, 6) << "quality " << quality;
    EXPECT_NEAR(sum[2] / n, 200, 6) << "quality " << quality;
  }
}

uint8_t DitherOnePixel(TDither& dither, const TLogPalette& target, TPaletteEntry colour) {
  dither.SetSourcePalette(nullptr, TDitherTarget::Display, TColourMode::Colour, TToneSettings{});
  dither.StartDithering(target);
  uint8_t pixel[3] = {colour.blue, colour.green, colour.red};
  dither.DitherRow(pixel, 1, 3);
  return pixel[0];
}

TEST(Dither, ColoursOfOneCellGetTheSameIndexInEitherOrder) {
  // Both blues are target entries and fall into the same low-quality cell.
  const TPaletteEntry blue{0, 0, 255, 0};
  const TPaletteEntry otherBlue{0, 4, 250, 0};
  const TLogPalette target = MakePalette({{0, 0, 0, 0}, blue, otherBlue});
  TDither dither(1);
  dither.SetSourcePalette(nullptr, TDitherTarget::Display, TColourMode::Colour, TToneSettings{});
  dither.StartDithering(target);
  uint8_t row[6] = {255, 0, 0, 250, 4, 0};
  dither.DitherRow(row, 2, 3);
  EXPECT_EQ(row[0], row[1]);
  const uint8_t first = DitherOnePixel(dither, target, blue);
  EXPECT_EQ(DitherOnePixel(dither, target, otherBlue), first);
}

TEST(Dither, QualitySetsTheCellWhoseCentreIsMatched) {
  // Grey 6 is (Y 4, Cb 127, Cr 127); black is (0, 128, 128) and grey 12 is
  // (11, 127, 127). Black is nearer to the colour itself, but the search
  // measures from the centre of its cell: (16, 96, 96) at quality 1 and
  // (6, 124, 124) at quality 3 are nearer grey 12, (4, 120, 120) at quality
  // 2 is nearer black. Quality values other than 1 and 2 are high.
  TLogPalette target = MakePalette({{0, 0, 0, 0}, {12, 12, 12, 0}});
  while (target.count < 17) target.entries[target.count++] = {255, 0, 0, 0};
  const std::pair<int32_t, uint8_t> cases[] = {{1, 1}, {2, 0}, {3, 1}, {0, 1}, {7, 1}};
  TDither dither;
  for (const auto& [quality, expected] : cases) {
    dither.SetQuality(quality);
    EXPECT_EQ(DitherOnePixel(dither, target, {6, 6, 6, 0}), expected) << "quality " << quality;
  }
}

TEST(Dither, CandidateSearchWeighsLuminanceByPaletteSize) {
  // From grey 128, a light grey differs in luminance only and (60, 160, 124)
  // in colour only: the grey is nearer with few candidates, the colour once
  // luminance counts four times.
  const TPaletteEntry grey{128, 128, 128, 0};
  TLogPalette target = MakePalette({{160, 160, 160, 0}, {60, 160, 124, 0}});
  TDither dither(3);
  EXPECT_EQ(DitherOnePixel(dither, target, grey), 0);
  while (target.count < 17) target.entries[target.count++] = {255, 0, 0, 0};
  EXPECT_EQ(DitherOnePixel(dither, target, grey), 1);
}

TEST(Dither, EqualDistancesChooseTheLaterCandidate) {
  const TLogPalette twins = MakePalette({{10, 200, 30, 0}, {10, 200, 30, 0}, {10, 200, 30, 0}});
  TDither dither(2);
  EXPECT_EQ(DitherOnePixel(dither, twins, {0, 0, 0, 0}), 2);
  const TLogPalette source = MakePalette({{91, 91, 91, 0}});
  dither.SetSourcePalette(&source, TDitherTarget::Display, TColourMode::Grey, TToneSettings{});
  // Padding to 17 entries keeps the identity gamma; the red is no candidate.
  TLogPalette greys = MakePalette({{80, 80, 80, 0}, {100, 100, 100, 0}});
  while (greys.count < 17) greys.entries[greys.count++] = {255, 0, 0, 0};
  dither.StartDithering(greys);
  uint8_t pixel = 0;
  dither.DitherRow(&pixel, 1, 1);
  // Grey mode holds grey 91 as its luminance 90, matched as the grey (90, 90,
  // 90) of luminance 89; greys 80 and 100 have luminance 79 and 99: a tie.
  EXPECT_EQ(pixel, 1);
}

TEST(Dither, GreyModeOnlyChoosesGreys) {
  TDither dither;
  dither.SetSourcePalette(nullptr, TDitherTarget::Display, TColourMode::Grey, TToneSettings{});
  dither.StartDithering(BlackWhiteAndColours(40));
  for (int y = 0; y < 8; ++y) {
    std::vector<uint8_t> row;
    for (int x = 0; x < 32; ++x) row.insert(row.end(), {0, uint8_t(x * 8), 255});
    dither.DitherRow(row.data(), 32, 3);
    for (int x = 0; x < 32; ++x) ASSERT_LE(row[x], 1);
  }
  // No greys at all: nothing can be chosen, every pixel takes entry 0.
  dither.StartDithering(MakePalette({{255, 0, 0, 0}, {0, 255, 0, 0}}));
  uint8_t row[6] = {9, 9, 9, 9, 9, 9};
  dither.DitherRow(row, 2, 3);
  EXPECT_EQ(row[0], 0);
  EXPECT_EQ(row[1], 0);
}

TEST(Dither, SinglePixelRowsAndChangingWidths) {
  TDither dither;
  for (TColourMode mode : {TColourMode::Colour, TColourMode::Grey}) {
    dither.SetSourcePalette(nullptr, TDitherTarget::Display, mode, TToneSettings{});
    dither.StartDithering(WebPalette());
    for (int count : {1, 1, 5, 1, 9000, 3, 1}) {
      std::vector<uint8_t> row(count * 3, 77);
      dither.DitherRow(row.data(), count, 3);
      for (int x = 0; x < count; ++x) ASSERT_LT(row[x], 216);
    }
  }
}

TEST(Dither, ConvertRowExpandsAndAppliesTone) {
  const TLogPalette source = MakePalette({{200, 10, 30, 0}, {0, 0, 0, 0}});
  TDither dither;
  dither.SetSourcePalette(&source, TDitherTarget::Display, TColourMode::Colour, TToneSettings{});
  uint8_t row[6] = {1, 0};
  dither.ConvertRow(row, 2, 3, 1);
  EXPECT_EQ(std::vector<uint8_t>(row, row + 6), (std::vector<uint8_t>{0, 0, 0, 30, 10, 200}));

  dither.SetSourcePalette(&source, TDitherTarget::Display, TColourMode::Grey, TToneSettings{});
  uint8_t grey[6] = {0, 1};
  dither.ConvertRow(grey, 2, 3, 1);
  EXPECT_EQ(std::vector<uint8_t>(grey, grey + 6), (std::vector<uint8_t>{68, 68, 68, 0, 0, 0}));

  TLogPalette palette;
  dither.GetSourcePalette(palette);
  EXPECT_EQ(palette.count, 2);
  EXPECT_EQ(palette.entries[0].red, 68);

  // 24-bit: identity passes unchanged; brightness 1 scales every channel.
  dither.SetSourcePalette(nullptr, TDitherTarget::Display, TColourMode::Colour, TToneSettings{});
  uint8_t pixel[3] = {10, 100, 200};
  dither.ConvertRow(pixel, 1, 3, 3);
  EXPECT_EQ(std::vector<uint8_t>(pixel, pixel + 3), (std::vector<uint8_t>{10, 100, 200}));
  TToneSettings dim;
  dim.brightness = 1;
  dither.SetSourcePalette(nullptr, TDitherTarget::Display, TColourMode::Colour, dim);
  dither.ConvertRow(pixel, 1, 3, 3);
  EXPECT_EQ(std::vector<uint8_t>(pixel, pixel + 3), (std::vector<uint8_t>{6, 60, 120}));
  dither.SetSourcePalette(nullptr, TDitherTarget::Display, TColourMode::Grey, TToneSettings{});
  uint8_t colour[3] = {30, 10, 200};
  dither.ConvertRow(colour, 1, 3, 3);
  EXPECT_EQ(std::vector<uint8_t>(colour, colour + 3), (std::vector<uint8_t>{68, 68, 68}));
}

TEST(Dither, DitherRowWithoutTargetConverts) {
  TToneSettings inverted;
  inverted.invert = 1;
  TDither dither;
  dither.SetSourcePalette(nullptr, TDitherTarget::Display, TColourMode::Colour, inverted);
  uint8_t pixel[3] = {0, 100, 255};
  dither.DitherRow(pixel, 1, 3);
  EXPECT_EQ(std::vector<uint8_t>(pixel, pixel + 3), (std::vector<uint8_t>{255, 155, 0}));
  uint8_t index[2] = {7, 9};
  dither.DitherRow(index, 2, 1);
  EXPECT_EQ(index[0], 7);
  EXPECT_EQ(index[1], 9);
}

} // namespace
