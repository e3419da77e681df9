// The bitmaps of Copy image and Copy window: the view as shown, with tone,
// and 24-bit pictures dithered to their display palette for displays of 256
// colours or fewer.
#include "output/clipboard.h"

#include <gtest/gtest.h>

#include "core/display_palette.h"
#include "core/image.h"
#include "formats/picture_io.h"
#include "settings/profile.h"
#include "support/image_fixture.h"
#include "support/peer.h"

namespace {

using testsupport::TTempDir;

class ClipboardBitmap : public ::testing::Test {
protected:
  void SetUp() override {
    const std::string path = m_dir / "photo.bmp";
    ASSERT_EQ(testsupport::Run("convert -size 60x40 -seed 3 plasma:fractal -type truecolor bmp3:'" + path + "'"), 0);
    ASSERT_TRUE(PictureWasRead([&] {
      TReadOutcome outcome;
      ReadPicture(path.c_str(), m_holder.image, m_settings, &outcome);
      return outcome;
    }()));
    PrepareLoadedPicture(m_holder.image, TPaletteSort::Keep);
  }

  // The stored picture's pixel, blue, green, red.
  const uint8_t* Stored(int32_t x, int32_t y) { return m_holder.image.Row(y) + x * 3; }

  TTempDir m_dir;
  TProfile m_settings;
  testsupport::TTestImage m_holder;
};

TEST_F(ClipboardBitmap, ColourPicturesStayColourWithToneApplied) {
  m_settings.Set(IntKey::Invert, 1);
  const auto dib = ExportBitmap(m_holder.image, m_settings, 24);
  ASSERT_TRUE(dib);
  EXPECT_EQ(dib->bitCount, 24);
  ASSERT_EQ(dib->width, 60);
  ASSERT_EQ(dib->height, 40);
  // The top row of the picture is the last row of the bitmap.
  const uint8_t* top = dib->bits.data() + static_cast<size_t>(39) * dib->Stride();
  for (int channel = 0; channel < 3; ++channel) EXPECT_EQ(top[channel], 255 - Stored(0, 0)[channel]);
}

TEST_F(ClipboardBitmap, PaletteDisplaysGetTheDisplayPalette) {
  const auto dib = ExportBitmap(m_holder.image, m_settings, 8);
  ASSERT_TRUE(dib);
  EXPECT_EQ(dib->bitCount, 8);
  EXPECT_EQ(dib->colourCount, kDisplayPaletteColours);
  for (size_t i = 0; i < dib->bits.size(); i += 7)
    if (i % dib->Stride() < 60) {
      EXPECT_LT(dib->bits[i], kDisplayPaletteColours);
    }
}

TEST(WindowBitmap, SurfacePixelsBecomeBottomUpRows) {
  const uint8_t pixels[2 * 2 * 4] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 0};
  const auto dib = BitmapFromPixels(pixels, 2, 2, 8);
  ASSERT_TRUE(dib);
  EXPECT_EQ(dib->Stride(), 8);
  const std::vector<uint8_t> expected{7, 8, 9, 10, 11, 12, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(dib->bits.begin(), dib->bits.end()), expected);
}

} // namespace
