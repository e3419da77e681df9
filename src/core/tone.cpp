#include "core/tone.h"

#include <algorithm>
#include <cmath>

#include "core/image.h"

namespace {

constexpr double kGammas[9] = {2.9, 2.2, 1.7, 1.3, 1.0, .77, .59, .46, .34};

int32_t ClampLevel(int32_t level) { return std::clamp(level, kToneMinLevel, kToneMaxLevel); }

std::array<TByteTable, 9> BuildGammaTables() {
  std::array<TByteTable, 9> tables{};
  for (int k = 0; k < 9; ++k) {
    for (int v = 0; v < 256; ++v) {
      double curved = 255.0 * std::pow(v / 255.0, 1.0 / kGammas[k]);
      tables[k][v] = static_cast<uint8_t>(std::floor(curved + 0.5));
    }
  }
  return tables;
}

// Starting values before any adjustment: the palette's colours, their
// luminance in grey mode, or the channel values themselves for true colour.
void StartValues(const TLogPalette* palette, TColourMode mode, TToneTables& tables) {
  if (!palette) {
    for (int v = 0; v < 256; ++v) {
      tables.red[v] = tables.green[v] = tables.blue[v] = static_cast<uint8_t>(v);
    }
    tables.count = 256;
    return;
  }
  tables.count = std::min<int32_t>(palette->count, 256);
  for (int i = 0; i < 256; ++i) {
    const TPaletteEntry& entry = palette->entries[i];
    if (mode == TColourMode::Grey) {
      tables.red[i] = tables.green[i] = tables.blue[i] =
          Luminance(entry.red, entry.green, entry.blue);
    } else {
      tables.red[i] = entry.red;
      tables.green[i] = entry.green;
      tables.blue[i] = entry.blue;
    }
  }
}

} // namespace

const TByteTable& GammaTable(int32_t level) {
  static const std::array<TByteTable, 9> tables = BuildGammaTables();
  return tables[ClampLevel(level) - 1];
}

uint8_t ApplyBrightness(int32_t level, uint8_t value) {
  level = ClampLevel(level);
  if (level < kToneNeutral) return static_cast<uint8_t>((level + 5) * value / 10);
  if (level > kToneNeutral) return static_cast<uint8_t>(255 - ((255 - value) * (15 - level)) / 10);
  return value;
}

void BuildToneTables(const TLogPalette* palette, TColourMode mode, const TToneSettings& tone,
                     TToneTables& tables) {
  StartValues(palette, mode, tables);

  // Brightness and contrast are both a function of the value alone, so they
  // are combined into one table applied to every entry.
  TByteTable curve{};
  const TByteTable& gamma = GammaTable(tone.contrast);
  for (int v = 0; v < 256; ++v)
    curve[v] = gamma[ApplyBrightness(tone.brightness, static_cast<uint8_t>(v))];

  const bool invert = tone.invert == 1;
  for (int i = 0; i < 256; ++i) {
    uint8_t& r = tables.red[i];
    uint8_t& g = tables.green[i];
    uint8_t& b = tables.blue[i];
    r = curve[r];
    g = curve[g];
    b = curve[b];
    // Without colour inversion only greys are inverted, judged on the
    // adjusted values.
    if (invert && (tone.enableColorInvert != 0 || (r == g && g == b))) {
      r = static_cast<uint8_t>(255 - r);
      g = static_cast<uint8_t>(255 - g);
      b = static_cast<uint8_t>(255 - b);
    }
  }
}

uint32_t ApplyViewToneCommand(int32_t commandId, TViewTone& state) {
  // Rotate advances a quarter turn: 0, 3, 6, 5 for unmirrored orientations and
  // 1, 2, 7, 4 for mirrored ones.
  static constexpr int32_t kNextRotate[8] = {3, 2, 7, 6, 1, 0, 5, 4};
  auto stepUp = [](int32_t& level) -> uint32_t {
    if (level >= kToneMaxLevel) return kEffectNone;
    ++level;
    return kEffectRebuildPalette | kEffectShowAgain;
  };
  auto stepDown = [](int32_t& level) -> uint32_t {
    if (level <= kToneMinLevel) return kEffectNone;
    --level;
    return kEffectRebuildPalette | kEffectShowAgain;
  };
  switch (commandId) {
  case 304:
    state.rotate = kNextRotate[state.rotate & 7];
    return kEffectShowAgain;
  case 305:
    state.rotate = (state.rotate & 7) ^ 2;
    return kEffectShowAgain;
  case 306:
    state.rotate = (state.rotate & 7) ^ 4;
    return kEffectShowAgain;
  case 307:
    return stepUp(state.brightness);
  case 308:
    return stepDown(state.brightness);
  case 309:
    return stepUp(state.contrast);
  case 310:
    return stepDown(state.contrast);
  case 311:
    state.invert ^= 1;
    return kEffectRebuildPalette | kEffectShowAgain;
  case 312: {
    uint32_t effect = kEffectShowAgain | kEffectResetView;
    if (state.brightness != kToneNeutral || state.contrast != kToneNeutral || state.invert != 0) {
      state.brightness = kToneNeutral;
      state.contrast = kToneNeutral;
      state.invert = 0;
      effect |= kEffectRebuildPalette;
    }
    state.rotate = 0;
    return effect;
  }
  default:
    return kEffectNone;
  }
}
