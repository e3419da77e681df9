#pragma once
// The tone engine: brightness, contrast (nine gamma curves) and invert, applied
// to the three per-channel tone tables that the ditherer holds. Tone never
// touches stored pixels; it is applied to palettes, or channel by channel when
// a true-colour picture is converted for display. The image menu's transform
// commands are here too, as pure functions over the four settings they change.
#include <array>
#include <cstdint>

struct TLogPalette;

using TByteTable = std::array<uint8_t, 256>;

inline constexpr int32_t kToneNeutral = 5;
inline constexpr int32_t kToneMinLevel = 1;
inline constexpr int32_t kToneMaxLevel = 9;
// Gamma table 5 is the identity; 4 (gamma 1.3) darkens mid-tones for
// printers, 6 (gamma .77) lightens them for small target palettes.
inline constexpr int32_t kGammaPrinter = 4;
inline constexpr int32_t kGammaIdentity = 5;
inline constexpr int32_t kGammaFewColours = 6;

// Gamma table for level 1..9 (out-of-range levels are clamped): entry v is
// floor(255 x (v / 255) ^ (1 / gamma) + 0.5).
const TByteTable& GammaTable(int32_t level);

// Luminance of a colour, each weighted product shifted right by 8 bits and the
// sum kept to 8 bits; the ditherer uses the same value.
inline uint8_t Luminance(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<uint8_t>(((77 * red) >> 8) + ((150 * green) >> 8) + ((29 * blue) >> 8));
}

// Brightness level 1..9 applied to one value; 5 is neutral, level 1 keeps 60
// percent of the value, level 9 keeps 60 percent of the distance to white.
uint8_t ApplyBrightness(int32_t level, uint8_t value);

enum class TColourMode : int32_t { Grey = 0, Colour = 1 };

// The tone settings as the profile holds them.
struct TToneSettings {
  int32_t brightness = kToneNeutral;
  int32_t contrast = kToneNeutral;
  int32_t invert = 0;
  int32_t enableColorInvert = 1;
};

// Red, green and blue tone tables and the number of entries in use.
struct TToneTables {
  TByteTable red{};
  TByteTable green{};
  TByteTable blue{};
  int32_t count = 256;
};

// Builds the tone tables from a palette (entry i = adjusted palette entry i)
// or, with none, for a true-colour picture (entry v = adjusted channel value
// v). In grey mode the three tables hold the same value, the luminance.
void BuildToneTables(const TLogPalette* palette, TColourMode mode, const TToneSettings& tone,
                     TToneTables& tables);

// The four settings the image menu's orientation and tone commands change.
struct TViewTone {
  int32_t rotate = 0; // bit 0 transpose, bit 1 mirror, bit 2 flip
  int32_t brightness = kToneNeutral;
  int32_t contrast = kToneNeutral;
  int32_t invert = 0;
};

// What the caller has to do after a command: nothing (a command at its limit),
// show the picture again, rebuild the display palette and show again, and for
// Reset also return the view to the whole picture.
enum TViewToneEffect : uint32_t {
  kEffectNone = 0,
  kEffectShowAgain = 1,
  kEffectRebuildPalette = 2,
  kEffectResetView = 4,
};

// Command ids 304 Rotate ... 312 Reset; any other id changes nothing.
uint32_t ApplyViewToneCommand(int32_t commandId, TViewTone& state);
