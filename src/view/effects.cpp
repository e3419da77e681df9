#include "view/effects.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

// A copy of x in [x0, x1), y in [y0, y1).
TRect Span(int32_t x0, int32_t y0, int32_t x1, int32_t y1) { return {x0, y0, x1 - x0, y1 - y0}; }

// Steps of a paced effect: the p-th returns at start + p * 1000 / N.
class TPace {
public:
  TPace(TEffectClock& clock, int32_t steps) : m_clock(clock), m_start(clock.Now()), m_steps(std::max(steps, 1)) {}
  void Step() {
    m_step = std::clamp(m_step, 0, m_steps);
    m_clock.WaitUntil(m_start + static_cast<uint32_t>(int64_t{m_step} * 1000 / m_steps));
    ++m_step;
  }

private:
  TEffectClock& m_clock;
  uint32_t m_start;
  int32_t m_steps;
  int32_t m_step = 0;
};

// The target as the effects see it: right, bottom, the width and height,
// the block and strip sizes.
struct TArea {
  int32_t left, top, right, bottom, width, height, block, strip;
};

TArea AreaOf(TSize client, TRect target) {
  TArea a{target.left, target.top, target.left + target.width, target.top + target.height, 0, 0, 0, 0};
  // The cell's last row and column are the next cell's first: take them too,
  // unless they lie outside the window.
  if (a.right < client.width) ++a.right;
  if (a.bottom < client.height) ++a.bottom;
  a.width = a.right - a.left;
  a.height = a.bottom - a.top;
  a.block = std::max((a.width + a.height) / 2 / 32, 1);
  a.strip = std::max(a.block / 8, 1);
  return a;
}

void Bands(const TArea& a, bool across, const TRectCopy& copy, TEffectClock& clock) {
  const int32_t extent = across ? a.height : a.width;
  TPace pace(clock, extent / a.strip + 1);
  for (int32_t d = 0; d < extent; d += a.strip) {
    copy(across ? Span(a.left, a.top + d, a.right, a.top + d + a.strip)
                : Span(a.left + d, a.top, a.left + d + a.strip, a.bottom));
    pace.Step();
  }
}

void Blinds(const TArea& a, bool across, const TRectCopy& copy, TEffectClock& clock) {
  const int32_t extent = across ? a.height : a.width;
  TPace pace(clock, a.block / a.strip + 1);
  for (int32_t s = 0; s < a.block; s += a.strip) {
    for (int32_t t = 0; t < extent; t += a.block) {
      const int32_t d = s + t;
      copy(across ? Span(a.left, a.top + d, a.right, a.top + d + a.strip)
                  : Span(a.left + d, a.top, a.left + d + a.strip, a.bottom));
    }
    pace.Step();
  }
}

// The four sides of a ring around (cx, cy): the inner half-size (x0, y0)
// and the outer one (x1, y1).
void Ring(int32_t cx, int32_t cy, int32_t x0, int32_t y0, int32_t x1, int32_t y1, const TRectCopy& copy) {
  copy(Span(cx + x0, cy - y1, cx + x1, cy + y1));
  copy(Span(cx - x0, cy + y0, cx + x0, cy + y1));
  copy(Span(cx - x1, cy - y1, cx - x0, cy + y1));
  copy(Span(cx - x0, cy - y1, cx + x0, cy - y0));
}

void Checks(const TArea& a, bool inward, const TRectCopy& copy) {
  const int32_t half = a.block / 2;
  const int32_t rings = a.block / a.strip / 2;
  auto ringAroundEveryCentre = [&](int32_t k) {
    const int32_t r0 = k * a.strip;
    const int32_t r1 = (k + 1) * a.strip;
    for (int32_t l = half; l < a.height - half; l += a.block)
      for (int32_t m = half; m < a.width - half; m += a.block) Ring(a.left + m, a.top + l, r0, r0, r1, r1, copy);
  };
  if (inward)
    for (int32_t k = rings; k >= 0; --k) ringAroundEveryCentre(k);
  else
    for (int32_t k = 0; k < rings; ++k) ringAroundEveryCentre(k);
  // Whatever the rings missed.
  copy(Span(a.left, a.top, a.right, a.bottom));
}

void Boxes(const TArea& a, bool inward, const TRectCopy& copy, TEffectClock& clock) {
  constexpr int32_t kRings = 50;
  const int32_t hw = a.width / 2 + 1;
  const int32_t hh = a.height / 2 + 1;
  const int32_t cx = a.left + hw;
  const int32_t cy = a.top + hh;
  TPace pace(clock, kRings);
  for (int32_t i = 0; i < kRings; ++i) {
    const int32_t n = inward ? kRings - 1 - i : i;
    Ring(cx, cy, n * hw / kRings, n * hh / kRings, (n + 1) * hw / kRings, (n + 1) * hh / kRings, copy);
    pace.Step();
  }
}

// Square cells in random order, a row's worth of cells per step.
void Dissolve(const TArea& a, const TRectCopy& copy, TEffectClock& clock, std::mt19937& random) {
  constexpr int32_t kMaxCells = 32000;
  constexpr int32_t kMaxSide = 255;
  int32_t cell = std::max(a.block / 4, 1);
  int32_t rows = a.height / cell + 1;
  int32_t columns = a.width / cell + 1;
  while (rows > kMaxSide || columns > kMaxSide || rows * columns > kMaxCells) {
    rows /= 2;
    columns /= 2;
    cell *= 2;
  }
  rows = std::max(rows, 1);
  columns = std::max(columns, 1);
  while (rows * cell < a.height || columns * cell < a.width) ++cell;
  std::vector<int32_t> order(static_cast<size_t>(rows) * columns);
  std::iota(order.begin(), order.end(), 0);
  std::uniform_int_distribution<size_t> pick(0, order.size() - 1);
  for (size_t e = 0; e < order.size(); ++e) std::swap(order[e], order[pick(random)]);
  TPace pace(clock, rows);
  for (int32_t pass = 0; pass < rows; ++pass) {
    for (int32_t j = 0; j < columns; ++j) {
      const int32_t e = order[static_cast<size_t>(pass) * columns + j];
      const int32_t x = a.left + e % columns * cell;
      const int32_t y = a.top + e / columns * cell;
      copy(Span(x, y, x + cell, y + cell));
    }
    pace.Step();
  }
}

} // namespace

void RunTransition(int32_t effect, TSize client, TRect target, const TRectCopy& show, TEffectClock& clock,
                   std::mt19937& random) {
  // Rings reach a pixel past the cell at its edges: what falls outside the
  // window is dropped, and so are empty copies.
  const TRectCopy copy = [&](const TRect& r) {
    const int32_t left = std::max(r.left, 0), top = std::max(r.top, 0);
    const int32_t right = std::min(r.left + r.width, client.width), bottom = std::min(r.top + r.height, client.height);
    if (right > left && bottom > top) show({left, top, right - left, bottom - top});
  };
  if (effect == kEffectRandom)
    effect = std::uniform_int_distribution<int32_t>(kEffectHorizontal, kEffectDissolve)(random);
  const TArea a = AreaOf(client, target);
  switch (effect) {
  case kEffectHorizontal: Bands(a, true, copy, clock); return;
  case kEffectVertical: Bands(a, false, copy, clock); return;
  case kEffectHorizontalBlinds: Blinds(a, true, copy, clock); return;
  case kEffectVerticalBlinds: Blinds(a, false, copy, clock); return;
  case kEffectCheckIn: Checks(a, true, copy); return;
  case kEffectCheckOut: Checks(a, false, copy); return;
  case kEffectBoxIn: Boxes(a, true, copy, clock); return;
  case kEffectBoxOut: Boxes(a, false, copy, clock); return;
  case kEffectDissolve: Dissolve(a, copy, clock, random); return;
  default: copy({0, 0, client.width, client.height}); return;
  }
}
