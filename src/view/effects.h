#pragma once
// Transition effects: how a finished picture goes from the page to the
// window, as a sequence of rectangle copies. Nothing is blended or scaled;
// the paced effects take about a second, Check In and Check Out run as fast
// as the copies go.
#include <cstdint>
#include <functional>
#include <random>

#include "platform/host.h"

enum TEffect : int32_t {
  kEffectDirect = 1,
  kEffectFast = 2,
  kEffectHorizontal = 3,
  kEffectVertical = 4,
  kEffectHorizontalBlinds = 5,
  kEffectVerticalBlinds = 6,
  kEffectCheckIn = 7,
  kEffectCheckOut = 8,
  kEffectBoxIn = 9,
  kEffectBoxOut = 10,
  kEffectDissolve = 11,
  kEffectRandom = 12,
};

// The clock the paced effects keep to.
class TEffectClock {
public:
  virtual ~TEffectClock() = default;
  virtual uint32_t Now() = 0;
  // Returns once Now() has reached tick.
  virtual void WaitUntil(uint32_t tick) = 0;
};

using TRectCopy = std::function<void(const TRect& rect)>;

// Shows the page's target rectangle (the current cell) in the window of
// the client size with the effect; show receives each rectangle to copy,
// never empty and never outside the window.
void RunTransition(int32_t effect, TSize client, TRect target, const TRectCopy& show, TEffectClock& clock,
                   std::mt19937& random);
