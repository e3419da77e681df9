// The thumbnail layout: cells of a grid in thousandths, the page's end, the
// cell under a point, the random layout and the pixel geometry.
#include "view/thumbnails.h"

#include <gtest/gtest.h>

#include "settings/profile.h"

namespace {

class ThumbnailLayout : public ::testing::Test {
protected:
  void Sheet(int across, int down) {
    m_settings.Set(IntKey::ThumbnailsEnable, 1);
    m_settings.Set(IntKey::ThumbnailsAcross, across);
    m_settings.Set(IntKey::ThumbnailsDown, down);
    m_layout.FreshPosition();
  }
  TProfile m_settings;
  std::mt19937 m_random{7};
  TThumbnailLayout m_layout{m_settings, m_random};
};

bool operator==(const TCell& a, const TCell& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST_F(ThumbnailLayout, ThreeAcrossFillAPageThenARunningShowErasesIt) {
  Sheet(3, 1);
  m_settings.Set(IntKey::RunSlideshow, 1);
  m_settings.Set(IntKey::EraseNewPages, 1);
  EXPECT_TRUE(m_layout.Cell() == (TCell{0, 0, 333, 1000}));
  EXPECT_FALSE(m_layout.Advance());
  EXPECT_TRUE(m_layout.Cell() == (TCell{333, 0, 666, 1000}));
  EXPECT_FALSE(m_layout.Advance());
  EXPECT_TRUE(m_layout.Cell() == (TCell{666, 0, 1000, 1000}));
  EXPECT_TRUE(m_layout.PageFull());
  EXPECT_TRUE(m_layout.Advance()) << "a new page, from the first cell";
  EXPECT_TRUE(m_layout.Cell() == (TCell{0, 0, 333, 1000}));
  m_settings.Set(IntKey::RunSlideshow, 0);
  m_layout.Advance();
  m_layout.Advance();
  EXPECT_FALSE(m_layout.Advance()) << "a stopped show starts over without erasing";
}

TEST_F(ThumbnailLayout, OneCellIsTheWholeWindowWithoutInsets) {
  Sheet(1, 1);
  EXPECT_FALSE(m_layout.Grid());
  EXPECT_TRUE(m_layout.PageFull());
  const TRect area = m_layout.ImageArea({400, 300}, 0);
  EXPECT_EQ(area.width, 400);
  EXPECT_EQ(area.height, 300);
}

TEST_F(ThumbnailLayout, GridCellsAreInsetAndLeaveRoomForTheCaption) {
  Sheet(4, 3);
  m_layout.MoveToPoint(350, 250, {401, 301}); // column 3 of 4, row 2 of 3
  EXPECT_TRUE(m_layout.Cell() == (TCell{750, 666, 1000, 1000}));
  EXPECT_TRUE(m_layout.PageFull());
  const TRect cell = m_layout.CellRect({401, 301});
  EXPECT_EQ(cell.left, 300);
  EXPECT_EQ(cell.top, 199);
  const TRect area = m_layout.ImageArea({401, 301}, 12);
  EXPECT_EQ(area.left, 304);
  EXPECT_EQ(area.height, cell.height - 8 - 16);
}

TEST_F(ThumbnailLayout, RandomCellsStayInsideTheWindowAndNeverFillAPage) {
  Sheet(9999, 4);
  m_settings.Set(IntKey::ThumbnailsRandom, 1);
  for (int i = 0; i < 200; ++i) {
    m_layout.Advance();
    EXPECT_EQ(m_layout.Cell().right - m_layout.Cell().left, 1) << "1 thousandth, clamped from 0";
    EXPECT_LE(m_layout.Cell().bottom, 1000);
    EXPECT_FALSE(m_layout.PageFull());
  }
}

} // namespace
