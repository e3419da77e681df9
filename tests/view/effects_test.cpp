// Transition effects: every effect shows the whole target and nothing
// outside the window, the paced ones keep to about a second, and the step
// counts follow the target's size.
#include "view/effects.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class TFakeClock : public TEffectClock {
public:
  uint32_t Now() override { return now; }
  void WaitUntil(uint32_t tick) override {
    waits.push_back(tick);
    now = std::max(now, tick);
  }
  uint32_t now = 5000;
  std::vector<uint32_t> waits;
};

struct TRun {
  std::vector<TRect> copies;
  std::vector<uint32_t> waits; // relative to the start
};

TRun Transition(int32_t effect, TSize client, TRect target, uint32_t seed = 1) {
  TFakeClock clock;
  std::mt19937 random(seed);
  TRun run;
  RunTransition(effect, client, target, [&](const TRect& r) { run.copies.push_back(r); }, clock, random);
  for (uint32_t wait : clock.waits) run.waits.push_back(wait - 5000);
  return run;
}

// The target pixels no copy reached, in a window of 300 x 200.
int Missed(const TRun& run, TRect target) {
  std::vector<bool> shown(300 * 200);
  for (const TRect& r : run.copies)
    for (int32_t y = r.top; y < r.top + r.height; ++y)
      for (int32_t x = r.left; x < r.left + r.width; ++x) shown[static_cast<size_t>(y) * 300 + x] = true;
  int missed = 0;
  for (int32_t y = target.top; y < target.top + target.height; ++y)
    for (int32_t x = target.left; x < target.left + target.width; ++x) missed += !shown[static_cast<size_t>(y) * 300 + x];
  return missed;
}

TEST(Effects, EveryEffectShowsTheWholeTargetInsideTheWindow) {
  const TSize client{300, 200};
  for (const TRect target : {TRect{0, 0, 300, 200}, TRect{100, 50, 99, 66}, TRect{7, 9, 1, 1}}) {
    for (int32_t effect = kEffectDirect; effect <= kEffectRandom; ++effect) {
      SCOPED_TRACE(testing::Message() << "effect " << effect << " target " << target.left << "," << target.top);
      const TRun run = Transition(effect, client, target);
      EXPECT_EQ(Missed(run, target), 0);
      for (const TRect& r : run.copies) {
        EXPECT_TRUE(r.width > 0 && r.height > 0);
        EXPECT_TRUE(r.left >= 0 && r.top >= 0 && r.left + r.width <= 300 && r.top + r.height <= 200);
      }
      // Paced effects end within the second they are given.
      if (!run.waits.empty()) EXPECT_LT(run.waits.back(), 1000u);
    }
  }
}

// A 1024 x 768 target: block 28, strip 3.
TEST(Effects, StepCountsFollowTheTargetSize) {
  const TSize client{1024, 768};
  const TRect target{0, 0, 1024, 768};
  EXPECT_EQ(Transition(kEffectHorizontal, client, target).waits.size(), 256u) << "768 / 3 bands of the 257 steps";
  EXPECT_EQ(Transition(kEffectHorizontal, client, target).waits[1], 1000u / 257);
  EXPECT_EQ(Transition(kEffectHorizontalBlinds, client, target).waits.size(), 10u) << "s = 0, 3, ..., 27";
  // Check In draws rings 4 .. 0 around every centre, Check Out rings
  // 0 .. 3; both end with the whole target.
  const TRun checkIn = Transition(kEffectCheckIn, client, target);
  const TRun checkOut = Transition(kEffectCheckOut, client, target);
  EXPECT_GT(checkIn.copies.size(), checkOut.copies.size());
  EXPECT_EQ(checkIn.copies.back().width, 1024);
  EXPECT_EQ(checkOut.copies.back().height, 768);
  EXPECT_EQ(checkIn.copies.front().width, 3) << "the outermost ring's right side, one strip wide";
  EXPECT_TRUE(checkIn.waits.empty()) << "not paced";
  // Dissolve: cells of 7 pixels, 110 rows of 147.
  const TRun dissolve = Transition(kEffectDissolve, client, target);
  EXPECT_EQ(dissolve.copies.size(), 110u * 147);
  EXPECT_EQ(dissolve.copies.front().width, 7);
  EXPECT_EQ(Transition(kEffectBoxIn, client, target).waits.size(), 50u);
}

TEST(Effects, RandomIsNeverDirectFastOrRandom) {
  const TSize client{200, 150};
  for (uint32_t seed = 1; seed < 60; ++seed)
    EXPECT_GT(Transition(kEffectRandom, client, {0, 0, 200, 150}, seed).copies.size(), 1u) << seed;
}

// The cell's last row and column are taken too, but never past the window.
TEST(Effects, TargetGrowsByOnePixelInsideTheWindowOnly) {
  const TRun inner = Transition(kEffectHorizontal, {300, 200}, {0, 0, 100, 100});
  EXPECT_EQ(inner.copies.front().width, 101);
  const TRun edge = Transition(kEffectHorizontal, {300, 200}, {200, 100, 100, 100});
  EXPECT_EQ(edge.copies.front().width, 100);
}

} // namespace
