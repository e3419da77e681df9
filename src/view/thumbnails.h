#pragma once
// Thumbnail sheets: the window divided into ThumbnailsAcross x
// ThumbnailsDown cells (or cell-sized places at random with
// ThumbnailsRandom), every picture the show loads going into the next cell.
// Cells are kept in thousandths of the window, so that a sheet keeps its
// layout when the window changes size.
#include <cstdint>
#include <random>

#include "platform/host.h"

class TProfile;

struct TCell {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 1000;
  int32_t bottom = 1000;
};

class TThumbnailLayout {
public:
  // Both outlive the layout.
  TThumbnailLayout(const TProfile& settings, std::mt19937& random) : m_settings(settings), m_random(random) {}

  // Thumbnails on with more than one cell; the random layout within it.
  bool Grid() const;
  bool RandomLayout() const;
  const TCell& Cell() const { return m_cell; }

  // The first cell of a new page: a random one in the random layout.
  void FreshPosition();
  // The cell of the next picture, called after each load. True when the
  // page was full and a running show with EraseNewPages starts a new one
  // (the caller erases the window, which starts again at the first cell).
  bool Advance();
  // The last cell of the page is the current one (never in the random layout).
  bool PageFull() const;
  // Makes the cell at a point of the window current.
  void MoveToPoint(int32_t x, int32_t y, TSize client);

  // The current cell in window pixels, and the area its picture is laid out
  // in: inset by 4 pixels in a grid, and above the caption band where a
  // caption of the height is drawn (0: none).
  TRect CellRect(TSize client) const;
  TRect ImageArea(TSize client, int32_t captionHeight) const;

private:
  int32_t Across() const;
  int32_t Down() const;
  int32_t CellWidth() const { return std::max(1000 / Across(), 1); }
  int32_t CellHeight() const { return std::max(1000 / Down(), 1); }
  TCell GridCell(int32_t column, int32_t row) const;
  TCell RandomCell();

  const TProfile& m_settings;
  std::mt19937& m_random;
  TCell m_cell;
};
