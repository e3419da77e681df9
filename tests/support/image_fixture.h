#pragma once
// A TImage with its own settings values, for tests that need an image record
// without a settings profile: zoom 2 / 1, no resolution overrides, and
// distinct per-type resolutions so tests can tell the tables apart.
#include <array>
#include <cstdint>
#include <initializer_list>

#include "core/image.h"
#include "core/pixel_memory.h"

namespace testsupport {

struct TImageSettings {
  int32_t zoomMul = 2;
  int32_t zoomDiv = 1;
  std::array<int32_t, 7> dpiOverride{};
  std::array<int32_t, 7> dpiFor1Bit{72, 72, 72, 72, 72, 72, 72};
  std::array<int32_t, 7> dpiFor8Bit{96, 96, 96, 96, 96, 96, 96};
  std::array<int32_t, 7> dpiFor24Bit{150, 150, 150, 150, 150, 150, 150};
};

// Settings first, so they outlive the image that refers to them.
struct TTestImage : TImageSettings {
  TImage image{&zoomMul, &zoomDiv, dpiOverride.data(), dpiFor1Bit.data(), dpiFor8Bit.data(),
               dpiFor24Bit.data()};
};

// Caps the memory one picture may claim while it lives, as on a machine
// short of memory; tests of forged huge sizes use it so that what they cost
// does not depend on the machine.
struct TPictureBudget {
  explicit TPictureBudget(int64_t bytes) { SetPixelMemoryBudget(bytes); }
  ~TPictureBudget() { SetPixelMemoryBudget(0); }
  TPictureBudget(const TPictureBudget&) = delete;
  TPictureBudget& operator=(const TPictureBudget&) = delete;
};

// A palette of the given entries, in order.
inline TLogPalette MakePalette(std::initializer_list<TPaletteEntry> entries) {
  TLogPalette palette;
  for (const TPaletteEntry& e : entries) palette.entries[palette.count++] = e;
  return palette;
}

} // namespace testsupport
