#include "view/screen_palette.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <numeric>

#include "core/tone.h"
#include "settings/profile.h"

namespace {

constexpr int32_t kScreenColours = 236;

TLogPalette Greys() {
  TLogPalette palette;
  palette.count = kScreenColours;
  for (int i = 0; i < kScreenColours; ++i) {
    const auto level = static_cast<uint8_t>(i * 255 / 235);
    palette.entries[i] = {level, level, level, 0};
  }
  return palette;
}

// The fixed table of 8-bit colour displays: a few dark tints, a 6 x 6 x 6
// cube and eleven greys between them from dark to light, then white and
// black.
TLogPalette FixedColours() {
  static const TLogPalette table = [] {
    TLogPalette palette;
    const TPaletteEntry first[] = {{22, 16, 16, 0}, {19, 20, 36, 0}, {20, 35, 21, 0}, {21, 36, 39, 0}, {32, 32, 32, 0}};
    const TPaletteEntry last[] = {{64, 104, 140, 0}, {89, 134, 80, 0}, {255, 255, 255, 0}, {0, 0, 0, 0}};
    std::vector<TPaletteEntry> middle;
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b)
          middle.push_back({static_cast<uint8_t>(r * 51), static_cast<uint8_t>(g * 51), static_cast<uint8_t>(b * 51), 0});
    for (int i = 1; i <= 11; ++i) {
      const auto level = static_cast<uint8_t>(i * 255 / 12);
      middle.push_back({level, level, level, 0});
    }
    std::stable_sort(middle.begin(), middle.end(), [](const TPaletteEntry& a, const TPaletteEntry& b) {
      return Luminance(a.red, a.green, a.blue) < Luminance(b.red, b.green, b.blue);
    });
    for (const TPaletteEntry& e : first) palette.entries[palette.count++] = e;
    for (const TPaletteEntry& e : middle) palette.entries[palette.count++] = e;
    for (const TPaletteEntry& e : last) palette.entries[palette.count++] = e;
    return palette;
  }();
  return table;
}

// Six levels of red (slowest), green and blue, then twenty greys.
TLogPalette CubeAndGreys() {
  TLogPalette palette;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b)
        palette.entries[palette.count++] = {static_cast<uint8_t>(r * 255 / 5), static_cast<uint8_t>(g * 255 / 5),
                                            static_cast<uint8_t>(b * 255 / 5), 0};
  for (int j = 0; j < 20; ++j) {
    const auto level = static_cast<uint8_t>(j * 255 / 19);
    palette.entries[palette.count++] = {level, level, level, 0};
  }
  return palette;
}

// The colours of the target as the display shows them, each once.
TLogPalette AsDisplayed(const TLogPalette& target, int32_t depth) {
  TLogPalette shown;
  for (int i = 0; i < target.count; ++i) {
    const TPaletteEntry colour = DisplayedColour(target.entries[i], depth);
    const bool known = std::any_of(shown.entries, shown.entries + shown.count, [&](const TPaletteEntry& e) {
      return e.red == colour.red && e.green == colour.green && e.blue == colour.blue;
    });
    if (!known) shown.entries[shown.count++] = colour;
  }
  return shown;
}

int32_t Distance(const TPaletteEntry& a, const TPaletteEntry& b) {
  return std::abs(a.red - b.red) + std::abs(a.green - b.green) + std::abs(a.blue - b.blue);
}

const TPaletteEntry& Nearest(const TLogPalette& palette, const TPaletteEntry& colour) {
  return *std::min_element(palette.entries, palette.entries + palette.count,
                           [&](const TPaletteEntry& a, const TPaletteEntry& b) {
                             return Distance(a, colour) < Distance(b, colour);
                           });
}

// AutoDither: the picture's colours weighted by their share of the pixels
// (whole percents adding up to 100), against the nearest target colours;
// dither when the average miss is more than 4 per channel.
bool MissesTooMuch(const TImage& image, const TLogPalette& target) {
  TLogPalette palette;
  std::array<int32_t, 256> share{};
  image.GetPalette(palette, share.data());
  const int count = std::min<int>(palette.count, 256);
  if (count == 0 || target.count == 0) return false;
  int32_t sum = std::accumulate(share.begin(), share.begin() + count, 0);
  for (int i = 0; sum < 100; i = (i + 1) % count, ++sum) ++share[i];
  for (int i = 0; sum > 100; i = (i + 1) % count)
    if (share[i] > 0) {
      --share[i];
      --sum;
    }
  int64_t error = 0;
  for (int i = 0; i < count; ++i) error += int64_t{Distance(palette.entries[i], Nearest(target, palette.entries[i]))} * share[i] / 3;
  return error / 100 > 4;
}

} // namespace

TPaletteEntry DisplayedColour(TPaletteEntry colour, int32_t displayDepth) {
  if (displayDepth >= 8) return colour;
  if (displayDepth <= 1) {
    const uint8_t level = Luminance(colour.red, colour.green, colour.blue) >= 128 ? 255 : 0;
    return {level, level, level, 0};
  }
  static const TLogPalette standard = [] {
    TLogPalette palette;
    const TPaletteEntry colours[] = {{0, 0, 0, 0},       {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},
                                     {0, 0, 128, 0},     {128, 0, 128, 0},   {0, 128, 128, 0},   {192, 192, 192, 0},
                                     {128, 128, 128, 0}, {255, 0, 0, 0},     {0, 255, 0, 0},     {255, 255, 0, 0},
                                     {0, 0, 255, 0},     {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0}};
    for (const TPaletteEntry& e : colours) palette.entries[palette.count++] = e;
    return palette;
  }();
  return Nearest(standard, colour);
}

TScreenPalette ChooseScreenPalette(const TImage& image, const TProfile& settings, int32_t displayDepth,
                                   bool usesPage) {
  const bool trueColour = image.BytesPerPixel() == 3;
  const bool forced = settings.Get(IntKey::DisplayDithered) != 0;
  TScreenPalette choice;
  if (displayDepth > 8) {
    // The picture's own colours; dithered only when asked, or when true
    // colour is switched off for a true-colour picture.
    choice.dither = forced || (trueColour && !settings.Get(IntKey::EnableTrueColor));
    if (!choice.dither) return choice;
    image.GetPalette(choice.target);
    if (!settings.Get(IntKey::DisplayInColor))
      for (int i = 0; i < choice.target.count; ++i) {
        TPaletteEntry& e = choice.target.entries[i];
        e.red = e.green = e.blue = Luminance(e.red, e.green, e.blue);
      }
    return choice;
  }
  const bool colour = settings.Get(IntKey::DisplayInColor) && displayDepth > 1;
  const TLogPalette target = !colour ? Greys() : displayDepth == 8 ? FixedColours() : CubeAndGreys();
  choice.target = AsDisplayed(target, displayDepth);
  if (trueColour || usesPage || forced)
    choice.dither = true;
  else if (settings.Get(IntKey::AutoDither))
    choice.dither = MissesTooMuch(image, choice.target);
  else
    choice.dither = displayDepth < 8;
  return choice;
}
