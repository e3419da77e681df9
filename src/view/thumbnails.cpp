#include "view/thumbnails.h"

#include <algorithm>

#include "settings/profile.h"

namespace {

constexpr int32_t kGridInset = 4;

} // namespace

int32_t TThumbnailLayout::Across() const {
  return m_settings.Get(IntKey::ThumbnailsEnable) ? std::max(m_settings.Get(IntKey::ThumbnailsAcross), 1) : 1;
}

int32_t TThumbnailLayout::Down() const {
  return m_settings.Get(IntKey::ThumbnailsEnable) ? std::max(m_settings.Get(IntKey::ThumbnailsDown), 1) : 1;
}

bool TThumbnailLayout::Grid() const { return Across() > 1 || Down() > 1; }

bool TThumbnailLayout::RandomLayout() const { return Grid() && m_settings.Get(IntKey::ThumbnailsRandom); }

TCell TThumbnailLayout::GridCell(int32_t column, int32_t row) const {
  return {column * 1000 / Across(), row * 1000 / Down(), (column * 1000 + 1000) / Across(),
          (row * 1000 + 1000) / Down()};
}

TCell TThumbnailLayout::RandomCell() {
  const int32_t width = CellWidth(), height = CellHeight();
  auto start = [&](int32_t size) {
    return size < 1000 ? std::uniform_int_distribution<int32_t>(0, 999 - size)(m_random) : 0;
  };
  const int32_t left = start(width), top = start(height);
  return {left, top, left + width, top + height};
}

void TThumbnailLayout::FreshPosition() {
  m_cell = RandomLayout() ? RandomCell() : TCell{0, 0, CellWidth(), CellHeight()};
}

bool TThumbnailLayout::Advance() {
  if (RandomLayout()) {
    m_cell = RandomCell();
    return false;
  }
  if (!Grid()) {
    m_cell = TCell{};
    return false;
  }
  int32_t column = m_cell.left / CellWidth() + 1;
  int32_t row = m_cell.top / CellHeight();
  bool newPage = false;
  if (column >= Across()) {
    column = 0;
    if (++row >= Down()) {
      row = 0;
      newPage = m_settings.Get(IntKey::RunSlideshow) && m_settings.Get(IntKey::EraseNewPages);
    }
  }
  m_cell = GridCell(column, row);
  return newPage;
}

bool TThumbnailLayout::PageFull() const {
  if (RandomLayout()) return false;
  return m_cell.left / CellWidth() + 1 >= Across() && m_cell.top / CellHeight() + 1 >= Down();
}

void TThumbnailLayout::MoveToPoint(int32_t x, int32_t y, TSize client) {
  const int32_t px = x * 1000 / std::max(client.width, 1);
  const int32_t py = y * 1000 / std::max(client.height, 1);
  if (RandomLayout())
    m_cell = {px, py, px + CellWidth(), py + CellHeight()};
  else
    m_cell = GridCell(px / CellWidth(), py / CellHeight());
}

TRect TThumbnailLayout::CellRect(TSize client) const {
  int32_t width = client.width, height = client.height;
  // A grid's last row and column of pixels take the outlines' right and
  // bottom edges.
  if (Grid() && !RandomLayout()) {
    --width;
    --height;
  }
  const int32_t left = width * m_cell.left / 1000, right = width * m_cell.right / 1000;
  const int32_t top = height * m_cell.top / 1000, bottom = height * m_cell.bottom / 1000;
  return {left, top, right - left, bottom - top};
}

TRect TThumbnailLayout::ImageArea(TSize client, int32_t captionHeight) const {
  TRect area = CellRect(client);
  if (Grid() && !RandomLayout()) {
    area.left += kGridInset;
    area.top += kGridInset;
    area.width -= 2 * kGridInset;
    area.height -= 2 * kGridInset;
  }
  if (captionHeight > 0) area.height -= captionHeight + 4;
  area.width = std::max(area.width, 1);
  area.height = std::max(area.height, 1);
  return area;
}
