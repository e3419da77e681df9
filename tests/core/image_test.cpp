#include "core/image.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <numeric>
#include <vector>

#include "core/log_sink.h"
#include "core/pixel_memory.h"
#include "core/view_geometry.h"
#include "support/image_fixture.h"

namespace {

using testsupport::TTestImage;

class ImageTest : public ::testing::Test, public TTestImage {
protected:
  // Fills an 8-bit picture row by row from a list of rows.
  void Fill8(const std::vector<std::vector<uint8_t>>& rows) {
    image.Create(0, static_cast<int32_t>(rows[0].size()), static_cast<int32_t>(rows.size()), 1, 1,
                 1, 1, 0);
    for (size_t y = 0; y < rows.size(); ++y) {
      image.PutRow(0, static_cast<int32_t>(y), rows[y].data(), static_cast<int32_t>(rows[y].size()));
    }
  }

  std::vector<uint8_t> Output(int32_t x, int32_t y, int32_t count) const {
    std::vector<uint8_t> row(static_cast<size_t>(count) * image.BytesPerPixel(), 0xEE);
    image.OutputRow(x, y, row.data(), count);
    return row;
  }

  std::vector<std::vector<uint8_t>> WholeOutput() const {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    image.OutputRect(left, top, right, bottom);
    std::vector<std::vector<uint8_t>> rows;
    for (int32_t y = top; y < bottom; ++y) rows.push_back(Output(left, y, right - left));
    return rows;
  }
};

TEST_F(ImageTest, ConstructedImageIsOneBlankPixel) {
  EXPECT_EQ(image.Width(), 1);
  EXPECT_EQ(image.Height(), 1);
  EXPECT_EQ(image.BytesPerPixel(), 1);
  EXPECT_EQ(image.ColourCount(), 256);
  EXPECT_EQ(image.m_fileType, 1);
  EXPECT_EQ(image.m_usageCounts[0], 0);
  EXPECT_EQ(image.Row(0)[0], 0);
}

// Pictures are stored at their own size up to the side cap, however large;
// only a side beyond it makes the picture held reduced.
TEST_F(ImageTest, CreateStoresLargePicturesWhole) {
  struct Case {
    int32_t width, height, reduction;
    int32_t storedWidth, storedHeight, storedReduction;
    bool heldReduced;
  };
  const Case cases[] = {
      {10000, 300, 1, 10000, 300, 1, false},
      {300, 11648, 1, 300, 11648, 1, false},
      {65535, 2, 1, 65535, 2, 1, false},
      {70000, 300, 1, 35000, 150, 2, true},
      {300, 65536, 1, 150, 32768, 2, true},
      {0, -5, 1, 1, 1, 1, false},
      {100, 60, 4, 25, 15, 4, false},   // a reader's own reduction is kept
      {5, 5, 10, 1, 1, 10, false},      // never below 1 x 1
      {40, 30, 0, 40, 30, 1, false},    // factors below 1 mean full size
  };
  for (const Case& c : cases) {
    image.Create(0, c.width, c.height, 72, 72, 1, c.reduction, 7);
    EXPECT_EQ(image.Width(), c.storedWidth) << c.width << " x " << c.height;
    EXPECT_EQ(image.Height(), c.storedHeight) << c.width << " x " << c.height;
    EXPECT_EQ(image.m_reduction, c.storedReduction) << c.width << " x " << c.height;
    EXPECT_EQ(image.HeldReduced(), c.heldReduced) << c.width << " x " << c.height;
    EXPECT_EQ(image.Row(image.Height() - 1)[image.Width() - 1], 7);
  }
}

TEST_F(ImageTest, CreateClampsTypeAndResolution) {
  const int32_t types[][2] = {{-3, 0}, {4, 4}, {9, 6}};
  for (const auto& t : types) {
    image.Create(t[0], 2, 2, 0, -1, 1, 1, 0);
    EXPECT_EQ(image.m_fileType, t[1]);
    EXPECT_EQ(image.m_xDpi, 1);
    EXPECT_EQ(image.m_yDpi, 1);
  }
}

TEST_F(ImageTest, NewPictureIsGreyRampFilledWithFillIndex) {
  image.Create(0, 16, 16, 72, 72, 1, 1, 200);
  TLogPalette palette;
  image.GetPalette(palette);
  EXPECT_EQ(palette.count, 256);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(palette.entries[i].red, i);
    EXPECT_EQ(palette.entries[i].green, i);
    EXPECT_EQ(palette.entries[i].blue, i);
    EXPECT_EQ(image.m_usageCounts[i], 1);
  }
  for (int32_t y = 0; y < 16; ++y) {
    for (int32_t x = 0; x < 16; ++x) ASSERT_EQ(image.Row(y)[x], 200);
  }
  // Rows are stored bottom-up in a block with rows padded to 4 bytes.
  EXPECT_EQ(image.Bitmap().Stride(), 16);
  EXPECT_EQ(image.Row(0), image.Bitmap().bits.data() + 15 * 16);
  EXPECT_EQ(image.Row(16), image.m_scratchRow.data());

  image.Create(4, 5, 3, 72, 72, 3, 1, 9);
  EXPECT_EQ(image.ColourCount(), 768);
  EXPECT_EQ(image.Bitmap().bitCount, 24);
  EXPECT_EQ(image.Bitmap().Stride(), 16);
  EXPECT_EQ(image.Row(2)[14], 9);
}

TEST_F(ImageTest, CreateResetsTheView) {
  image.Create(0, 40, 30, 1, 1, 1, 1, 0);
  image.m_cropRect = {5, 10, 5, 10};
  image.m_zoomTerms = {2, 1, 3, 1, 1, 1};
  image.Create(0, 41, 31, 1, 1, 1, 1, 0);
  EXPECT_EQ(image.m_fullRect, (std::array<int32_t, 4>{0, 41, 0, 31}));
  EXPECT_EQ(image.m_cropRect, (std::array<int32_t, 4>{0, 41, 0, 31}));
  EXPECT_EQ(image.m_centre, (std::array<int32_t, 2>{20, 15}));
  EXPECT_EQ(image.m_zoomTerms, (std::array<int32_t, 6>{1, 1, 1, 1, 1, 1}));
}

// The output placed before a new picture arrived must read the new picture
// only: the maps are rebuilt from its crop.
TEST_F(ImageTest, OutputAfterCreateStaysInsideTheNewPicture) {
  image.Create(0, 4000, 10, 1, 1, 1, 1, 0);
  image.SetOutputGeometry(4000, 10, 1, 1, 0, true, true);
  image.Create(0, 3, 2, 1, 1, 1, 1, 5);
  const auto row = Output(0, 0, 4000);
  EXPECT_EQ(row[0], 5);
  EXPECT_EQ(row[3999], 5);
}

TEST_F(ImageTest, PutRowWithReductionKeepsEveryFthRowAndPixel) {
  image.Create(0, 10, 10, 1, 1, 1, 2, 0);
  ASSERT_EQ(image.Width(), 5);
  std::vector<uint8_t> source(10);
  std::iota(source.begin(), source.end(), 1);
  image.PutRow(0, 3, source.data(), 10);
  for (int32_t y = 0; y < 5; ++y) {
    for (int32_t x = 0; x < 5; ++x) ASSERT_EQ(image.Row(y)[x], 0);
  }
  image.PutRow(0, 4, source.data(), 10);
  EXPECT_EQ(std::vector<uint8_t>(image.Row(2), image.Row(2) + 5),
            (std::vector<uint8_t>{1, 3, 5, 7, 9}));
  // Rows beyond the picture are dropped.
  image.PutRow(0, 10, source.data(), 10);
  image.PutRow(0, -2, source.data(), 10);
  EXPECT_EQ(image.Row(4)[0], 0);
}

TEST_F(ImageTest, PutRowClipsAtBothEdges) {
  image.Create(0, 6, 2, 1, 1, 1, 1, 0);
  const std::vector<uint8_t> source{1, 2, 3, 4, 5, 6, 7, 8};
  image.PutRow(4, 0, source.data(), 8);
  EXPECT_EQ(std::vector<uint8_t>(image.Row(0), image.Row(0) + 6),
            (std::vector<uint8_t>{0, 0, 0, 0, 1, 2}));
  image.PutRow(-3, 1, source.data(), 5);
  EXPECT_EQ(std::vector<uint8_t>(image.Row(1), image.Row(1) + 6),
            (std::vector<uint8_t>{4, 5, 0, 0, 0, 0}));
  image.PutRow(6, 1, source.data(), 8);
  image.PutRow(-8, 1, source.data(), 8);
  EXPECT_EQ(image.Row(1)[0], 4);
}

TEST_F(ImageTest, PutRowCopiesThreeBytePixels) {
  image.Create(4, 4, 2, 1, 1, 3, 1, 0);
  const std::vector<uint8_t> source{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  image.PutRow(1, 1, source.data(), 4);
  EXPECT_EQ(std::vector<uint8_t>(image.Row(1), image.Row(1) + 12),
            (std::vector<uint8_t>{0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(ImageTest, RowBufferIsTheStoredRowWhenTheRunFits) {
  image.Create(0, 8, 4, 1, 1, 1, 1, 0);
  uint8_t* buffer = image.RowBuffer(2, 1, 6);
  EXPECT_EQ(buffer, image.Row(1) + 2);
  for (int i = 0; i < 6; ++i) buffer[i] = static_cast<uint8_t>(10 + i);
  image.PutRow(2, 1, buffer, 6);
  EXPECT_EQ(image.Row(1)[7], 15);

  EXPECT_EQ(image.RowBuffer(3, 1, 6), image.m_scratchRow.data()); // runs past the edge
  EXPECT_EQ(image.RowBuffer(0, 4, 8), image.m_scratchRow.data()); // below the picture
  EXPECT_EQ(image.RowBuffer(-1, 0, 2), image.m_scratchRow.data());
}

TEST_F(ImageTest, RowBufferHoldsWideFileRowsOfReducedPictures) {
  image.Create(4, 30000, 4, 1, 1, 3, 4, 0);
  ASSERT_EQ(image.m_reduction, 4);
  uint8_t* buffer = image.RowBuffer(0, 0, 30000);
  ASSERT_NE(buffer, nullptr);
  for (int i = 0; i < 30000; ++i) {
    buffer[3 * i] = static_cast<uint8_t>(i / 4);
    buffer[3 * i + 1] = 1;
    buffer[3 * i + 2] = 2;
  }
  image.PutRow(0, 0, buffer, 30000);
  EXPECT_EQ(image.Row(0)[3 * 100], 100);
  EXPECT_EQ(image.Row(0)[3 * 100 + 2], 2);
  EXPECT_EQ(image.RowBuffer(0, 0, kMaxFileRowPixels + 1), nullptr);
}

TEST_F(ImageTest, PalettesOfIndexedPictures) {
  image.Create(0, 10, 10, 1, 1, 1, 1, 0);
  const std::vector<uint8_t> row{0, 0, 0, 1, 1, 1, 1, 1, 1, 1};
  for (int y = 0; y < 10; ++y) image.PutRow(0, y, row.data(), 10);
  TLogPalette given;
  given.count = 2;
  given.entries[0] = {255, 0, 0, 0};
  given.entries[1] = {0, 0, 255, 0};
  image.SetPalette(given);
  image.SortPalette();

  TLogPalette palette;
  std::array<int32_t, 256> usage{};
  image.GetPalette(palette, usage.data());
  EXPECT_EQ(palette.version, 0x300);
  EXPECT_EQ(palette.count, 2);
  EXPECT_EQ(palette.entries[0].blue, 255); // the more frequent colour first
  EXPECT_EQ(palette.entries[1].red, 255);
  EXPECT_EQ(usage[0], 70);
  EXPECT_EQ(usage[1], 30);

  image.GreyPalette();
  image.GetPalette(palette);
  EXPECT_EQ(palette.entries[1].red, 1);

  image.m_colourCount = 0;
  image.GetPalette(palette, usage.data());
  EXPECT_EQ(palette.count, 2);
  EXPECT_EQ(palette.entries[0].red, 0);
  EXPECT_EQ(palette.entries[1].green, 255);
  EXPECT_EQ(usage[0], 50);
  EXPECT_EQ(usage[1], 50);
}

TEST_F(ImageTest, DirectColourPicturesKeepThePaletteBeside) {
  image.Create(4, 3, 3, 1, 1, 3, 1, 0);
  TLogPalette given;
  given.count = 300; // more than a palette holds
  for (int i = 0; i < 256; ++i) given.entries[i] = {static_cast<uint8_t>(i), 1, 2, 0};
  image.SetPalette(given);
  EXPECT_EQ(image.m_directPaletteCount, 256);

  TLogPalette palette;
  std::array<int32_t, 256> usage{};
  image.GetPalette(palette, usage.data());
  EXPECT_EQ(palette.count, 256);
  EXPECT_EQ(palette.entries[7].red, 7);
  EXPECT_EQ(palette.entries[7].blue, 2);
  EXPECT_EQ(usage[0], 1);
  EXPECT_EQ(usage[255], 1);

  image.SortPalette(); // nothing to sort in direct colour
  EXPECT_EQ(image.ColourCount(), 768);
  image.Create(4, 3, 3, 1, 1, 3, 1, 0);
  EXPECT_EQ(image.m_directPaletteCount, 0);
}

// Indices 5 and 9 share a colour, index 2 has another: two entries remain,
// the merged one first as it covers more pixels, and the pixels follow.
TEST_F(ImageTest, SortPaletteMergesEqualColoursMostFrequentFirst) {
  Fill8({{5, 5, 5, 9}, {9, 9, 2, 2}, {2, 5, 9, 5}}); // 5: 5 pixels, 9: 4, 2: 3
  TLogPalette given;
  given.count = 10;
  given.entries[2] = {10, 20, 30, 0};
  given.entries[5] = {1, 2, 3, 0};
  given.entries[9] = {1, 2, 3, 0};
  image.SetPalette(given);
  image.SortPalette();

  EXPECT_EQ(image.ColourCount(), 2);
  TLogPalette palette;
  image.GetPalette(palette);
  EXPECT_EQ(palette.count, 2);
  EXPECT_EQ(palette.entries[0].red, 1);
  EXPECT_EQ(palette.entries[1].red, 10);
  EXPECT_EQ(image.m_usageCounts[0], 9);
  EXPECT_EQ(image.m_usageCounts[1], 3);
  EXPECT_EQ(std::vector<uint8_t>(image.Row(2), image.Row(2) + 4),
            (std::vector<uint8_t>{1, 0, 0, 0}));
}

TEST_F(ImageTest, EffectiveResolution) {
  struct Case {
    int32_t bytesPerPixel, xDpi, yDpi, reduction, orientation, colourCount, override;
    int32_t x, y;
  };
  const Case cases[] = {
      {1, 72, 1, 1, 0, 256, 0, 96, 96},    // one value unknown: the 8-bit table
      {1, 100, 200, 1, 0, 256, 0, 100, 200},
      {1, 100, 200, 1, 1, 256, 0, 200, 100}, // transposed output exchanges them
      {1, 100, 200, 2, 0, 256, 0, 50, 100},
      {1, 100, 200, 1, 0, 256, 1, 96, 96},   // the user's override wins
      {1, 1, 1, 1, 0, 2, 0, 72, 72},         // two colours: the 1-bit table
      {3, 1, 1, 1, 0, 768, 0, 150, 150},
      {3, 1, 1, 200, 0, 768, 0, 1, 1},       // never below 1
  };
  for (const Case& c : cases) {
    image.Create(3, 4, 4, c.xDpi, c.yDpi, c.bytesPerPixel, c.reduction, 0);
    image.m_orientation = c.orientation;
    image.m_colourCount = static_cast<int16_t>(c.colourCount);
    dpiOverride[3] = c.override;
    EXPECT_EQ(image.EffectiveXDpi(), c.x) << c.xDpi << " " << c.yDpi << " o" << c.orientation;
    EXPECT_EQ(image.EffectiveYDpi(), c.y) << c.xDpi << " " << c.yDpi << " o" << c.orientation;
  }
}

// Every orientation of a 3 x 2 picture, written out by hand: bit 0
// transposes, then bit 1 mirrors left to right, then bit 2 flips.
TEST_F(ImageTest, OutputRowInEveryOrientation) {
  using Rows = std::vector<std::vector<uint8_t>>;
  const Rows expected[8] = {
      {{1, 2, 3}, {4, 5, 6}},     {{1, 4}, {2, 5}, {3, 6}}, {{3, 2, 1}, {6, 5, 4}},
      {{4, 1}, {5, 2}, {6, 3}},   {{4, 5, 6}, {1, 2, 3}},   {{3, 6}, {2, 5}, {1, 4}},
      {{6, 5, 4}, {3, 2, 1}},     {{6, 3}, {5, 2}, {4, 1}},
  };
  for (int32_t orientation = 0; orientation < 8; ++orientation) {
    Fill8({{1, 2, 3}, {4, 5, 6}});
    const bool transposed = orientation & 1;
    image.SetOutputGeometry(transposed ? 2 : 3, transposed ? 3 : 2, 1, 1, orientation, true, true);
    EXPECT_EQ(WholeOutput(), expected[orientation]) << "orientation " << orientation;
  }
}

// The same through the crop, in three-byte pixels and with partial runs:
// each output pixel must be the transformed picture's pixel.
TEST_F(ImageTest, OutputRowOfCroppedDirectColourPicture) {
  constexpr int32_t kWidth = 7, kHeight = 5;
  const auto pixel = [](int32_t x, int32_t y, int32_t b) { return static_cast<uint8_t>(x * 16 + y * 4 + b); };
  for (int32_t orientation = 0; orientation < 8; ++orientation) {
    image.Create(4, kWidth, kHeight, 1, 1, 3, 1, 0);
    for (int32_t y = 0; y < kHeight; ++y) {
      uint8_t* row = image.RowBuffer(0, y, kWidth);
      for (int32_t x = 0; x < kWidth; ++x) {
        for (int32_t b = 0; b < 3; ++b) row[3 * x + b] = pixel(x, y, b);
      }
      image.PutRow(0, y, row, kWidth);
    }
    image.m_cropRect = {2, 4, 1, 3}; // columns 2..5, rows 1..3
    const bool transposed = orientation & 1;
    const int32_t outWidth = transposed ? 3 : 4;
    const int32_t outHeight = transposed ? 4 : 3;
    image.SetOutputGeometry(outWidth, outHeight, 1, 1, orientation, true, true);
    for (int32_t r = 0; r < outHeight; ++r) {
      const auto row = Output(1, r, outWidth - 1);
      for (int32_t c = 1; c < outWidth; ++c) {
        int32_t u = orientation & 2 ? outWidth - 1 - c : c;
        int32_t v = orientation & 4 ? outHeight - 1 - r : r;
        if (transposed) std::swap(u, v);
        for (int32_t b = 0; b < 3; ++b) {
          ASSERT_EQ(row[3 * (c - 1) + b], pixel(2 + u, 1 + v, b))
              << "orientation " << orientation << " row " << r << " column " << c;
        }
      }
    }
  }
}

TEST_F(ImageTest, OutputOutsideThePlacedPictureIsZero) {
  image.Create(0, 100, 100, 1, 1, 1, 1, 9);
  image.SetOutputGeometry(200, 100, 1, 1, 0, true, true);
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  image.OutputRect(left, top, right, bottom);
  EXPECT_EQ(left, 50);
  EXPECT_EQ(right - left, 100); // aspect kept: 100 x 100, not stretched
  EXPECT_EQ(bottom - top, 100);
  auto row = Output(0, 0, 200);
  EXPECT_EQ(row[49], 0);
  EXPECT_EQ(row[50], 9);
  EXPECT_EQ(row[149], 9);
  EXPECT_EQ(row[150], 0);

  image.SetOutputGeometry(100, 200, 1, 1, 0, true, true);
  EXPECT_EQ(Output(0, 20, 100), std::vector<uint8_t>(100, 0)); // above the placed output
  EXPECT_EQ(Output(0, 160, 100), std::vector<uint8_t>(100, 0)); // below it
  EXPECT_EQ(Output(-5, 50, 10), (std::vector<uint8_t>{0, 0, 0, 0, 0, 9, 9, 9, 9, 9}));
}

TEST_F(ImageTest, OutputScalesByNearestNeighbour) {
  Fill8({{1, 2, 3}});
  image.SetOutputGeometry(7, 3, 1, 1, 0, true, true); // 7 x 2, the aspect kept
  EXPECT_EQ(Output(0, 0, 7), (std::vector<uint8_t>{1, 1, 1, 2, 2, 3, 3}));
  image.Create(0, 7, 1, 1, 1, 1, 1, 0);
  const std::vector<uint8_t> source{0, 1, 2, 3, 4, 5, 6};
  image.PutRow(0, 0, source.data(), 7);
  image.SetOutputGeometry(3, 1, 1, 1, 0, true, true);
  EXPECT_EQ(Output(0, 0, 3), (std::vector<uint8_t>{0, 2, 4}));
}

// A picture whose pixels are twice as tall as wide (100 x 200 dpi) is shown
// half as tall as its pixel count when stretched into an area.
TEST_F(ImageTest, OutputCorrectsThePixelAspect) {
  image.Create(0, 100, 100, 100, 200, 1, 1, 0);
  image.SetOutputGeometry(400, 400, 1, 1, 0, true, true);
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  image.OutputRect(left, top, right, bottom);
  EXPECT_EQ(right - left, 400);
  EXPECT_EQ(bottom - top, 200);
  image.SetOutputGeometry(400, 400, 1, 1, kTranspose, true, true);
  image.OutputRect(left, top, right, bottom);
  EXPECT_EQ(right - left, 200);
  EXPECT_EQ(bottom - top, 400);
}

TEST_F(ImageTest, BorderColourCountsTheCropOutline) {
  struct Case {
    std::vector<std::vector<uint8_t>> rows;
    std::array<int32_t, 4> crop;
    uint8_t expected;
  };
  const Case cases[] = {
      {{{4, 4, 4}, {4, 1, 1}, {1, 1, 1}}, {0, 3, 0, 3}, 1}, // 4 each: the lower index wins
      {{{3, 3, 7}, {7, 0, 7}, {7, 3, 7}}, {0, 3, 0, 3}, 7}, // 7 five times, 3 three times
      {{{9, 9, 9, 9}, {9, 5, 6, 9}, {9, 6, 6, 9}, {9, 9, 9, 9}}, {1, 2, 1, 2}, 6},
      {{{8, 2}, {2, 8}}, {1, 1, 0, 2}, 2}, // one column: each pixel once
  };
  for (const Case& c : cases) {
    Fill8(c.rows);
    image.m_cropRect = c.crop;
    EXPECT_EQ(image.BorderColour(), c.expected);
  }
  image.Create(4, 3, 3, 1, 1, 3, 1, 200);
  EXPECT_EQ(image.BorderColour(), 0);
}

TEST_F(ImageTest, AdoptBitmapTakesUncompressedBitmapsAsTheyAre) {
  auto dib = std::make_unique<TDib>();
  dib->width = 3;
  dib->height = 2;
  dib->bitCount = 8;
  dib->xPelsPerMeter = 3780; // 96 dpi
  dib->yPelsPerMeter = 2835; // 72 dpi
  dib->colours[1] = {0, 0, 255, 0};
  dib->bits = {7, 8, 9, 0, 1, 2, 3, 0}; // bottom row first, padded to 4
  const uint8_t* block = dib->bits.data();
  image.m_cropRect = {0, 1, 0, 1};
  image.AdoptBitmap(std::move(dib));

  EXPECT_EQ(image.Width(), 3);
  EXPECT_EQ(image.Height(), 2);
  EXPECT_EQ(image.m_fileType, 1);
  EXPECT_EQ(image.m_xDpi, 96);
  EXPECT_EQ(image.m_yDpi, 72);
  EXPECT_EQ(image.Bitmap().bits.data(), block); // owned, not copied
  EXPECT_EQ(std::vector<uint8_t>(image.Row(0), image.Row(0) + 3), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(image.Row(1)[2], 9);
  EXPECT_EQ(image.m_cropRect, (std::array<int32_t, 4>{0, 3, 0, 2}));
  EXPECT_EQ(image.ColourCount(), 256);
  TLogPalette palette;
  image.GetPalette(palette);
  EXPECT_EQ(palette.entries[1].red, 255);

  // A block shorter than the header says is completed, not overrun.
  dib = std::make_unique<TDib>();
  dib->width = 5;
  dib->height = 4;
  dib->bitCount = 24;
  dib->bits = {1, 2, 3};
  image.AdoptBitmap(std::move(dib));
  EXPECT_EQ(image.BytesPerPixel(), 3);
  EXPECT_EQ(image.ColourCount(), 768);
  EXPECT_EQ(image.Row(3)[0], 1);
  EXPECT_EQ(image.Row(0)[14], 0);
}

bool g_decoderCalled = false;
bool FakeDecoder(const TDib& dib, TImage& target) {
  g_decoderCalled = true;
  target.Create(1, dib.width, 3, 1, 1, 1, 1, 42);
  return true;
}

TEST_F(ImageTest, AdoptBitmapHandsOtherBitmapsToTheDecoder) {
  const auto makeDib = [](int32_t width, int32_t bitCount, int32_t compression) {
    auto dib = std::make_unique<TDib>();
    dib->width = width;
    dib->height = 2;
    dib->bitCount = bitCount;
    dib->compression = compression;
    dib->bits.assign(64, 1);
    return dib;
  };
  TImage::SetDibDecoder(nullptr);
  image.AdoptBitmap(makeDib(4, 4, 0));
  EXPECT_EQ(image.Width(), 1);
  EXPECT_EQ(image.Height(), 1);
  image.AdoptBitmap(nullptr);
  EXPECT_EQ(image.Width(), 1);

  TImage::SetDibDecoder(FakeDecoder);
  const struct {
    int32_t width, bitCount, compression;
  } cases[] = {{4, 4, 0}, {4, 8, 1}, {4, 32, 3}, {kMaxImageSide + 1, 8, 0}};
  for (const auto& c : cases) {
    g_decoderCalled = false;
    image.AdoptBitmap(makeDib(c.width, c.bitCount, c.compression));
    EXPECT_TRUE(g_decoderCalled) << c.bitCount << " " << c.compression;
    EXPECT_EQ(image.Row(0)[0], 42);
  }
  g_decoderCalled = false;
  image.AdoptBitmap(makeDib(4, 8, 0));
  EXPECT_FALSE(g_decoderCalled);
  TImage::SetDibDecoder(nullptr);
}

// A new picture is not cleared: whichever way its pixels are looked at, they
// must be the fill index wherever no reader wrote, even in a block kept from
// the picture before.
TEST_F(ImageTest, RowsNoReaderWroteHoldTheFillIndex) {
  using TLook = std::vector<std::vector<uint8_t>> (*)(const TImage&);
  const struct {
    const char* name;
    TLook look;
  } looks[] = {
      {"Row",
       [](const TImage& im) {
         std::vector<std::vector<uint8_t>> rows;
         for (int32_t y = 0; y < im.Height(); ++y) rows.emplace_back(im.Row(y), im.Row(y) + im.Width());
         return rows;
       }},
      {"OutputRow",
       [](const TImage& im) {
         std::vector<std::vector<uint8_t>> rows(im.Height(), std::vector<uint8_t>(im.Width()));
         for (int32_t y = 0; y < im.Height(); ++y) im.OutputRow(0, y, rows[y].data(), im.Width());
         return rows;
       }},
      {"Bitmap",
       [](const TImage& im) {
         const TDib& dib = im.Bitmap();
         std::vector<std::vector<uint8_t>> rows;
         for (int32_t y = im.Height() - 1; y >= 0; --y) {
           const uint8_t* row = dib.bits.data() + static_cast<size_t>(y) * dib.Stride();
           rows.emplace_back(row, row + im.Width());
         }
         return rows;
       }},
  };
  for (const auto& look : looks) {
    image.Create(0, 6, 5, 1, 1, 1, 1, 0);
    const std::vector<uint8_t> stale(6, 0xAA);
    for (int32_t y = 0; y < 5; ++y) image.PutRow(0, y, stale.data(), 6);
    image.Create(0, 6, 5, 1, 1, 1, 1, 9);
    image.SetOutputGeometry(6, 5, 1, 1, 0, true, true);
    const uint8_t run[] = {1, 2, 3};
    image.PutRow(0, 0, run, 3); // the left half, from the reader's own buffer
    uint8_t* inPlace = image.RowBuffer(2, 1, 3);
    std::copy(run, run + 3, inPlace);
    image.PutRow(2, 1, inPlace, 3); // decoded in place, in the middle
    inPlace = image.RowBuffer(0, 2, 6);
    std::copy(run, run + 3, inPlace); // decoded in place, but the read ended inside the row
    const uint8_t whole[6] = {4, 4, 4, 4, 4, 4};
    image.PutRow(0, 3, whole, 6);
    // Row 4 is never reached.
    const std::vector<std::vector<uint8_t>> expected = {
        {1, 2, 3, 9, 9, 9}, {9, 9, 1, 2, 3, 9}, {9, 9, 9, 9, 9, 9}, {4, 4, 4, 4, 4, 4}, {9, 9, 9, 9, 9, 9}};
    EXPECT_EQ(look.look(image), expected) << look.name;
  }
}

// Writers take rows whose output changes nothing straight from the picture;
// everywhere else the view gives exactly the bytes OutputRow writes.
TEST_F(ImageTest, OutputRowViewHandsOutTheStoredRowOnlyWhenNothingChanges) {
  image.Create(0, 5, 4, 1, 1, 3, 1, 0);
  for (int32_t y = 0; y < 4; ++y) {
    std::vector<uint8_t> row(15);
    std::iota(row.begin(), row.end(), static_cast<uint8_t>(y * 16));
    image.PutRow(0, y, row.data(), 5);
  }
  const struct {
    std::array<int32_t, 4> crop;
    int32_t areaWidth, areaHeight, orientation;
    int32_t runStart, runLength; // within the output row
    bool stored;
  } cases[] = {
      {{0, 5, 0, 4}, 5, 4, 0, 0, 5, true},
      {{0, 5, 0, 4}, 5, 4, 0, 1, 3, true},   // part of a row
      {{0, 5, 0, 4}, 5, 4, kFlip, 0, 5, true}, // rows in another order
      {{1, 3, 1, 2}, 3, 2, 0, 0, 3, true},   // a crop
      {{0, 5, 0, 4}, 5, 4, kMirror, 0, 5, false},
      {{0, 5, 0, 4}, 4, 5, kTranspose, 0, 4, false},
      {{0, 5, 0, 4}, 10, 8, 0, 0, 10, false}, // scaled
      {{0, 5, 0, 4}, 5, 4, 0, -1, 7, false},  // beyond the placed output
  };
  for (const auto& c : cases) {
    image.m_cropRect = c.crop;
    image.SetOutputGeometry(c.areaWidth, c.areaHeight, 1, 1, c.orientation, true, true);
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    image.OutputRect(left, top, right, bottom);
    for (int32_t y = top; y < bottom; ++y) {
      std::vector<uint8_t> buffer(static_cast<size_t>(c.runLength) * 3, 0xEE);
      const uint8_t* view = image.OutputRowView(left + c.runStart, y, buffer.data(), c.runLength);
      EXPECT_EQ(std::vector<uint8_t>(view, view + buffer.size()), Output(left + c.runStart, y, c.runLength))
          << "orientation " << c.orientation << ", row " << y;
      EXPECT_EQ(view != buffer.data(), c.stored) << "orientation " << c.orientation << ", row " << y;
    }
  }
}

// Under a budget a picture is stored at the largest size whose memory, with
// the room the codecs need beside it, stays within the budget; the log gives
// both sizes.
TEST_F(ImageTest, CreateReducesPicturesBeyondTheMemoryBudget) {
  const testsupport::TPictureBudget budget(1 << 20);
  const struct {
    int32_t width, height, bytesPerPixel, reduction;
  } cases[] = {
      {400, 400, 3, 1},    // 600 000 bytes with room
      {1000, 1000, 3, 2},  // 3 750 000 bytes at full size
      {1000, 1000, 1, 2},  // 1 250 000: just too much
      {8192, 8192, 3, 16},
  };
  for (const auto& c : cases) {
    ClearLoggedMessages();
    image.Create(4, c.width, c.height, 1, 1, c.bytesPerPixel, 1, 5);
    EXPECT_EQ(image.m_reduction, c.reduction) << c.width << " x " << c.height << " x " << c.bytesPerPixel;
    EXPECT_EQ(image.Width(), c.width / c.reduction);
    EXPECT_EQ(image.Row(image.Height() - 1)[0], 5);
    EXPECT_EQ(image.HeldReduced(), c.reduction > 1);
    EXPECT_EQ(LoggedMessages().size(), c.reduction > 1 ? 1u : 0u);
  }
  EXPECT_EQ(LoggedMessages().back(), "Picture of 8192x8192 pixels held at 512x512: not enough memory");
}

#if !defined(__SANITIZE_ADDRESS__)
// Memory shortage lowers the stored size instead of failing. Run in a child
// whose address space is capped a little above what it already uses.
TEST_F(ImageTest, CreateRaisesTheReductionWhenMemoryIsShort) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    long pages = 0;
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm || std::fscanf(statm, "%ld", &pages) != 1) _exit(99);
    std::fclose(statm);
    const rlim_t used = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
    const rlimit limit{used + (100u << 20), used + (100u << 20)};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(98);
    image.Create(4, 8192, 8192, 1, 1, 3, 1, 0); // 200 MB at full size
    const bool reduced = image.m_reduction > 1 && image.Width() == 8192 / image.m_reduction;
    _exit(reduced ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

} // namespace
