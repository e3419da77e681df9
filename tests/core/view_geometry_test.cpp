#include "core/view_geometry.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/image.h"
#include "support/image_fixture.h"

namespace {

using testsupport::TTestImage;
using Rect = std::array<int32_t, 4>;

class ViewGeometryTest : public ::testing::Test, public TTestImage {
protected:
  // A picture at equal resolutions (96 x 96 dpi), laid out for a display
  // of the same resolution.
  void NewPicture(int32_t width, int32_t height, int32_t bytesPerPixel = 1) {
    image.Create(0, width, height, 96, 96, bytesPerPixel, 1, 0);
  }
  void LayOut(int32_t areaWidth, int32_t areaHeight, int32_t orientation, bool autoScale,
              bool autoFit) {
    Layout(image, areaWidth, areaHeight, 96, 96, orientation, autoScale, autoFit);
  }
  Rect Placement() const { return image.m_outputPlacement; }
  std::array<int32_t, 2> Zoom() const { return {image.m_zoomTerms[0], image.m_zoomTerms[1]}; }
};

TEST(NormaliseFractionTest, ReducesAndBoundsTerms) {
  struct Case {
    int64_t num, den;
    int32_t expectedNum, expectedDen;
  };
  const Case cases[] = {
      {800, 4000, 1, 5},         {6, 9, 2, 3},          {0, -3, 1, 1},
      {13 * 17, 13, 221, 13},    // 13 is not among the factors tried
      {2 * 7 * 11, 7 * 11 * 3, 2, 3},
      {70000, 70002, 17500, 17500}, // halved twice once no factor is common
      {40000, 1, 20000, 1},      // a term halved to 0 stays 1
  };
  for (const Case& c : cases) {
    const TFraction f = NormaliseFraction(c.num, c.den);
    EXPECT_EQ(f.num, c.expectedNum) << c.num << "/" << c.den;
    EXPECT_EQ(f.den, c.expectedDen) << c.num << "/" << c.den;
  }
}

// A 4000 x 3000 picture in an 800 x 600 area, neither stretched nor left
// larger than the area.
TEST_F(ViewGeometryTest, FitThenZoomInAsTheWorkedExampleShows) {
  NewPicture(4000, 3000);
  LayOut(800, 600, 0, false, true);
  EXPECT_EQ(image.m_zoomTerms, (std::array<int32_t, 6>{1, 1, 1, 5, 1, 5}));
  EXPECT_EQ(Placement(), (Rect{0, 800, 0, 600}));

  ZoomStep(image, ZoomDirection::In, 800, 600, false, true);
  EXPECT_EQ(Zoom(), (std::array<int32_t, 2>{2, 1}));
  EXPECT_EQ(image.m_cropRect, (Rect{1000, 2000, 750, 1500}));

  LayOut(800, 600, 0, false, true);
  EXPECT_EQ(image.m_zoomTerms, (std::array<int32_t, 6>{2, 1, 2, 5, 2, 5}));
  EXPECT_EQ(image.m_cropRect, (Rect{1500, 1000, 1125, 750}));
  EXPECT_EQ(Placement(), (Rect{0, 800, 0, 600}));
  EXPECT_EQ(image.m_columnMap[0], 1500);
  EXPECT_EQ(image.m_columnMap[799], 2498);
}

TEST_F(ViewGeometryTest, ZoomInThenOutReturnsToTheSameFraction) {
  zoomMul = 3;
  zoomDiv = 2;
  NewPicture(400, 300);
  LayOut(800, 600, 0, false, true);
  ZoomStep(image, ZoomDirection::In, 800, 600, false, true);
  EXPECT_EQ(Zoom(), (std::array<int32_t, 2>{3, 2}));
  LayOut(800, 600, 0, false, true);
  ZoomStep(image, ZoomDirection::Out, 800, 600, false, true);
  EXPECT_EQ(Zoom(), (std::array<int32_t, 2>{1, 1}));
  LayOut(800, 600, 0, false, true);
  EXPECT_EQ(image.m_cropRect, (Rect{0, 400, 0, 300}));
  EXPECT_EQ(Placement(), (Rect{200, 400, 150, 300}));
}

// Steps that would leave nothing visible or nothing displayed are undone.
TEST_F(ViewGeometryTest, ZoomStepsStopAtTheLimits) {
  NewPicture(400, 300);
  LayOut(1, 1, 0, false, false);
  ZoomStep(image, ZoomDirection::In, 1, 1, false, false);
  EXPECT_EQ(Zoom(), (std::array<int32_t, 2>{1, 1}));

  LayOut(800, 600, 0, false, false);
  for (int i = 0; i < 40; ++i) {
    ZoomStep(image, ZoomDirection::Out, 800, 600, false, false);
    LayOut(800, 600, 0, false, false);
  }
  EXPECT_EQ(Zoom(), (std::array<int32_t, 2>{1, 256}));
  EXPECT_EQ(Placement()[1], 1);
  EXPECT_EQ(image.m_cropRect, (Rect{0, 400, 0, 300}));
}

TEST_F(ViewGeometryTest, ResetShowsTheWholePictureAndKeepsTheCentre) {
  NewPicture(4000, 3000);
  LayOut(800, 600, 0, false, true);
  ZoomStep(image, ZoomDirection::In, 800, 600, false, true);
  LayOut(800, 600, 0, false, true);
  image.m_centre = {1200, 1000};
  ZoomStep(image, ZoomDirection::Reset, 800, 600, false, true);
  EXPECT_EQ(Zoom(), (std::array<int32_t, 2>{1, 1}));
  EXPECT_EQ(image.m_fullRect, (Rect{0, 4000, 0, 3000}));
  EXPECT_EQ(image.m_cropRect, (Rect{0, 4000, 0, 3000}));
  EXPECT_EQ(image.m_centre, (std::array<int32_t, 2>{1200, 1000}));

  // Without AutoFit the reset view is what the area shows at scale 1.
  LayOut(800, 600, 0, false, false);
  ZoomStep(image, ZoomDirection::Reset, 800, 600, false, false);
  EXPECT_EQ(image.m_cropRect, (Rect{800, 800, 700, 600}));
}

TEST_F(ViewGeometryTest, LayoutWithoutScalingToTheArea) {
  struct Case {
    int32_t width, height, zoomNum, zoomDen;
    bool autoFit;
    Rect crop, placement;
  };
  const Case cases[] = {
      {100, 50, 1, 1, true, {0, 100, 0, 50}, {350, 100, 275, 50}},      // smaller: natural size
      {100, 50, 2, 1, true, {0, 100, 0, 50}, {300, 200, 250, 100}},
      {4000, 3000, 1, 1, false, {1600, 800, 1200, 600}, {0, 800, 0, 600}}, // narrowed to the area
      {1600, 300, 1, 1, true, {0, 1600, 0, 300}, {0, 800, 225, 150}},    // fitted by width
      {300, 1200, 1, 2, true, {0, 300, 0, 1200}, {362, 75, 150, 300}},   // fit factor and zoom
  };
  for (const Case& c : cases) {
    NewPicture(c.width, c.height);
    image.m_zoomTerms[0] = c.zoomNum;
    image.m_zoomTerms[1] = c.zoomDen;
    LayOut(800, 600, 0, false, c.autoFit);
    EXPECT_EQ(image.m_cropRect, c.crop) << c.width << " x " << c.height;
    EXPECT_EQ(Placement(), c.placement) << c.width << " x " << c.height;
  }
}

// The display's dots and the picture's are both taken into account: a
// picture of 100 x 200 dpi on a square-dot display shows twice as wide as
// tall, and four times on a display whose dots are twice as tall.
TEST_F(ViewGeometryTest, LayoutCorrectsThePixelAspect) {
  image.Create(0, 100, 100, 100, 200, 1, 1, 0);
  Layout(image, 800, 600, 96, 96, 0, false, false);
  EXPECT_EQ(Placement(), (Rect{300, 200, 250, 100}));
  Layout(image, 800, 600, 96, 48, 0, false, false);
  EXPECT_EQ(Placement(), (Rect{200, 400, 250, 100}));
  Layout(image, 800, 600, 96, 96, kTranspose, false, false);
  EXPECT_EQ(Placement(), (Rect{350, 100, 200, 200}));
}

TEST_F(ViewGeometryTest, ZoomStepWhenScaledToTheArea) {
  struct Case {
    Rect crop;
    ZoomDirection direction;
    int32_t areaWidth, areaHeight;
    Rect expected;
  };
  const Case cases[] = {
      {{0, 4000, 0, 3000}, ZoomDirection::In, 800, 600, {1000, 2000, 750, 1500}},
      {{1000, 2000, 750, 1500}, ZoomDirection::Out, 800, 600, {0, 4000, 0, 3000}},
      {{1950, 100, 1450, 100}, ZoomDirection::In, 200, 100, {1950, 100, 1475, 50}}, // area's aspect first
      {{1950, 100, 1450, 100}, ZoomDirection::Reset, 200, 100, {0, 4000, 0, 3000}},
      {{0, 4000, 0, 3000}, ZoomDirection::Out, 800, 600, {0, 4000, 0, 3000}}, // limited to the picture
  };
  for (const Case& c : cases) {
    NewPicture(4000, 3000);
    image.m_cropRect = c.crop;
    image.m_zoomTerms[0] = 3;
    ZoomStep(image, c.direction, c.areaWidth, c.areaHeight, true, false);
    EXPECT_EQ(image.m_cropRect, c.expected) << static_cast<int>(c.direction);
    EXPECT_EQ(Zoom(), (std::array<int32_t, 2>{1, 1}));
  }
}

TEST_F(ViewGeometryTest, ZoomToRectangle) {
  NewPicture(400, 300);
  LayOut(800, 600, 0, false, false); // placed at (200, 150), scale 1
  ZoomToRect(image, 210, 170, 309, 219, 800, 600, false, true);
  EXPECT_EQ(image.m_cropRect, (Rect{10, 100, 20, 50}));
  EXPECT_EQ(Zoom(), (std::array<int32_t, 2>{8, 1})); // min(800 / 100, 600 / 50)
  EXPECT_EQ(image.m_centre, (std::array<int32_t, 2>{60, 45}));
  LayOut(800, 600, 0, false, true);
  EXPECT_EQ(Placement(), (Rect{0, 800, 100, 400}));

  // Corners outside the output are taken to its edge and may come in any
  // order; a mirrored view maps them back.
  NewPicture(400, 300);
  LayOut(800, 600, kMirror, false, false);
  ZoomToRect(image, 900, 700, 550, 400, 800, 600, false, false);
  EXPECT_EQ(image.m_cropRect, (Rect{0, 50, 250, 50}));
  EXPECT_EQ(Zoom(), (std::array<int32_t, 2>{1, 1})); // no AutoFit: zoom untouched

  // On a fitted picture the selection covers more picture pixels than the
  // area has; the fit alone brings it to the area's size.
  NewPicture(4000, 3000);
  LayOut(800, 600, 0, false, true);
  ZoomToRect(image, 200, 150, 599, 449, 800, 600, false, true);
  EXPECT_EQ(image.m_cropRect, (Rect{1000, 1996, 750, 1496}));
  EXPECT_EQ(Zoom(), (std::array<int32_t, 2>{1, 1}));
  LayOut(800, 600, 0, false, true);
  EXPECT_EQ(Placement()[1], 800);
  EXPECT_GE(Placement()[3], 599);
}

// The point under an output pixel, for every orientation, is the picture
// pixel that output row shows there.
TEST_F(ViewGeometryTest, CentreOnFollowsTheOrientation) {
  NewPicture(40, 30, 3);
  for (int32_t y = 0; y < 30; ++y) {
    uint8_t* row = image.RowBuffer(0, y, 40);
    for (int32_t x = 0; x < 40; ++x) {
      row[3 * x] = static_cast<uint8_t>(x);
      row[3 * x + 1] = static_cast<uint8_t>(y);
      row[3 * x + 2] = 0;
    }
    image.PutRow(0, y, row, 40);
  }
  for (int32_t orientation = 0; orientation < 8; ++orientation) {
    image.m_cropRect = {5, 20, 3, 20};
    LayOut(90, 70, orientation, true, false);
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    image.OutputRect(left, top, right, bottom);
    std::vector<uint8_t> pixels(static_cast<size_t>(right - left) * 3);
    for (int32_t y = top; y < bottom; y += 7) {
      image.OutputRow(left, y, pixels.data(), right - left);
      for (int32_t x = left; x < right; x += 5) {
        CentreOn(image, x, y);
        ASSERT_EQ(image.m_centre[0], pixels[3 * (x - left)]) << orientation << " " << x << "," << y;
        ASSERT_EQ(image.m_centre[1], pixels[3 * (x - left) + 1]) << orientation << " " << x << "," << y;
      }
    }
  }
  // Outside the output the nearest output pixel counts.
  image.m_cropRect = {0, 40, 0, 30};
  LayOut(40, 30, 0, true, false);
  CentreOn(image, -10, 500);
  EXPECT_EQ(image.m_centre, (std::array<int32_t, 2>{0, 29}));
}

TEST_F(ViewGeometryTest, PanMovesTheCropInOutputDirections) {
  struct Case {
    int32_t orientation, dx, dy;
    Rect expected;
  };
  const Case cases[] = {
      {0, 5, 3, {105, 50, 103, 50}},      {kMirror, 5, 3, {95, 50, 103, 50}},
      {kFlip, 5, 3, {105, 50, 97, 50}},   {kTranspose, 5, 3, {103, 50, 105, 50}},
      {kTranspose | kMirror, 5, 3, {103, 50, 95, 50}},
      {0, -1000, 1000, {0, 50, 250, 50}}, // stopped at the picture's edges
  };
  for (const Case& c : cases) {
    NewPicture(400, 300);
    image.m_cropRect = {100, 50, 100, 50};
    image.m_orientation = c.orientation;
    Pan(image, c.dx, c.dy);
    EXPECT_EQ(image.m_cropRect, c.expected) << c.orientation;
    EXPECT_EQ(image.m_centre[0], c.expected[0] + 25);
    EXPECT_EQ(image.m_centre[1], c.expected[2] + 25);
  }
}

TEST_F(ViewGeometryTest, SetVisibleSizeIsClampedIntoTheFullRectangle) {
  struct Case {
    int32_t orientation, width, height;
    Rect expected;
  };
  const Case cases[] = {
      {0, 10, 20, {390, 10, 280, 20}},
      {kTranspose, 10, 20, {380, 20, 280, 10}},
      {0, 0, -4, {390, 1, 280, 1}},
      {0, 500, 20, {0, 400, 280, 20}},
  };
  for (const Case& c : cases) {
    NewPicture(400, 300);
    image.m_cropRect = {390, 10, 280, 20};
    image.m_orientation = c.orientation;
    SetVisibleSize(image, c.width, c.height);
    EXPECT_EQ(image.m_cropRect, c.expected) << c.width << " x " << c.height;
  }
}

// A picture in a frame of one colour: the frame goes, the content stays.
TEST_F(ViewGeometryTest, CropUniformBordersRemovesAPlainFrame) {
  struct Case {
    int32_t bytesPerPixel;
    Rect content;
  };
  const Case cases[] = {{1, {3, 14, 2, 10}}, {3, {1, 5, 4, 3}}, {1, {0, 20, 0, 16}}};
  for (const Case& c : cases) {
    NewPicture(20, 16, c.bytesPerPixel);
    for (int32_t y = 0; y < 16; ++y) {
      uint8_t* row = image.RowBuffer(0, y, 20);
      for (int32_t x = 0; x < 20; ++x) {
        const bool inside = x >= c.content[0] && x < c.content[0] + c.content[1] &&
                            y >= c.content[2] && y < c.content[2] + c.content[3];
        for (int32_t b = 0; b < c.bytesPerPixel; ++b) {
          row[x * c.bytesPerPixel + b] = inside ? static_cast<uint8_t>(100 + x * 7 + y * 3 + b) : 7;
        }
      }
      image.PutRow(0, y, row, 20);
    }
    CropUniformBorders(image);
    EXPECT_EQ(image.m_cropRect, c.content);
    EXPECT_EQ(image.m_fullRect, c.content);
    EXPECT_EQ(image.m_centre[0], c.content[0] + c.content[1] / 2);
    EXPECT_EQ(image.m_centre[1], c.content[2] + c.content[3] / 2);
  }

  // A picture of one colour shrinks to a single pixel, and stops there.
  NewPicture(10, 10);
  CropUniformBorders(image);
  EXPECT_EQ(image.m_cropRect[1], 1);
  EXPECT_EQ(image.m_cropRect[3], 1);
}

// Any sequence of view operations leaves a view whose output stays inside
// the picture; the sanitizer build checks every read.
TEST_F(ViewGeometryTest, RandomOperationsKeepTheViewInsideThePicture) {
  std::mt19937 random(1234);
  const auto pick = [&](int32_t low, int32_t high) {
    return std::uniform_int_distribution<int32_t>(low, high)(random);
  };
  std::vector<uint8_t> row(3 * 9000);
  for (int round = 0; round < 40; ++round) {
    NewPicture(pick(1, 300), pick(1, 300), pick(0, 1) ? 3 : 1);
    zoomMul = pick(1, 5);
    zoomDiv = pick(1, 5);
    for (int step = 0; step < 50; ++step) {
      const int32_t areaWidth = pick(-2, 900);
      const int32_t areaHeight = pick(-2, 900);
      const bool autoScale = pick(0, 1);
      const bool autoFit = pick(0, 1);
      switch (pick(0, 7)) {
      case 0: ZoomStep(image, static_cast<ZoomDirection>(pick(-1, 1)), areaWidth, areaHeight, autoScale, autoFit); break;
      case 1: ZoomToRect(image, pick(-50, 950), pick(-50, 950), pick(-50, 950), pick(-50, 950), areaWidth, areaHeight, autoScale, autoFit); break;
      case 2: CentreOn(image, pick(-50, 950), pick(-50, 950)); break;
      case 3: Pan(image, pick(-400, 400), pick(-400, 400)); break;
      case 4: SetVisibleSize(image, pick(-5, 400), pick(-5, 400)); break;
      case 5: CropUniformBorders(image); break;
      default: break;
      }
      Layout(image, areaWidth, areaHeight, pick(1, 300), pick(1, 300), pick(0, 7), autoScale, autoFit);
      const auto& crop = image.m_cropRect;
      ASSERT_GE(crop[0], 0);
      ASSERT_GE(crop[1], 1);
      ASSERT_LE(crop[0] + crop[1], image.Width());
      ASSERT_GE(crop[2], 0);
      ASSERT_GE(crop[3], 1);
      ASSERT_LE(crop[2] + crop[3], image.Height());
      int32_t left = 0, top = 0, right = 0, bottom = 0;
      image.OutputRect(left, top, right, bottom);
      ASSERT_LE(right - left, kMaxImageSide);
      for (int32_t y = top - 1; y <= bottom; y += pick(1, 40)) {
        image.OutputRow(left - 2, y, row.data(), std::min(right - left + 4, 9000));
      }
    }
  }
}

} // namespace
