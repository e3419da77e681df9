#include "core/tone.h"

#include <gtest/gtest.h>

#include "core/image.h"

namespace {

struct TCurveCase {
  int32_t level;
  uint8_t in;
  uint8_t out;
};

TEST(Tone, GammaCurvesMapWorkedValues) {
  const TCurveCase cases[] = {
      {1, 1, 38}, {1, 128, 201}, {9, 60, 4}, {9, 250, 241}, {1, 0, 0}, {9, 255, 255},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GammaTable(c.level)[c.in], c.out) << "level " << c.level << " value " << int(c.in);
  }
  for (int v = 0; v < 256; ++v) ASSERT_EQ(GammaTable(kGammaIdentity)[v], v);
}

TEST(Tone, BrightnessMapsWorkedValues) {
  const TCurveCase cases[] = {
      {1, 200, 120}, {9, 0, 102}, {9, 255, 255}, {5, 77, 77}, {4, 100, 90}, {6, 0, 26},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ApplyBrightness(c.level, c.in), c.out)
        << "level " << c.level << " value " << int(c.in);
  }
}

TLogPalette ThreeEntryPalette() {
  TLogPalette palette;
  palette.count = 3;
  palette.entries[0] = {0, 0, 0, 0};       // black
  palette.entries[1] = {200, 10, 30, 0};   // a red
  palette.entries[2] = {128, 128, 128, 0}; // grey
  return palette;
}

TEST(Tone, InvertTouchesOnlyGreysWithoutColourInvert) {
  const TLogPalette palette = ThreeEntryPalette();
  TToneSettings tone;
  tone.invert = 1;
  tone.enableColorInvert = 0;
  TToneTables tables;
  BuildToneTables(&palette, TColourMode::Colour, tone, tables);
  EXPECT_EQ(tables.count, 3);
  EXPECT_EQ(tables.red[0], 255);
  EXPECT_EQ(tables.blue[0], 255);
  EXPECT_EQ(tables.red[1], 200);
  EXPECT_EQ(tables.green[1], 10);
  EXPECT_EQ(tables.blue[1], 30);
  EXPECT_EQ(tables.green[2], 127);

  tone.enableColorInvert = 1;
  BuildToneTables(&palette, TColourMode::Colour, tone, tables);
  EXPECT_EQ(tables.red[1], 55);
  EXPECT_EQ(tables.green[1], 245);
  EXPECT_EQ(tables.blue[1], 225);
}

TEST(Tone, GreyModeHoldsLuminanceThenAdjusts) {
  const TLogPalette palette = ThreeEntryPalette();
  TToneSettings tone;
  TToneTables tables;
  BuildToneTables(&palette, TColourMode::Grey, tone, tables);
  // (77 x 200 >> 8) + (150 x 10 >> 8) + (29 x 30 >> 8) = 60 + 5 + 3.
  EXPECT_EQ(tables.red[1], 68);
  EXPECT_EQ(tables.green[1], 68);
  EXPECT_EQ(tables.blue[1], 68);

  tone.brightness = 1;
  tone.contrast = 9;
  BuildToneTables(&palette, TColourMode::Grey, tone, tables);
  const uint8_t expected = GammaTable(9)[68 * 6 / 10];
  EXPECT_EQ(tables.red[1], expected);
  EXPECT_EQ(tables.blue[1], expected);
}

TEST(Tone, TrueColourTablesAdjustEveryChannelValue) {
  TToneSettings tone;
  tone.brightness = 1;
  tone.invert = 1;
  tone.enableColorInvert = 0; // every channel value is a grey entry here
  TToneTables tables;
  BuildToneTables(nullptr, TColourMode::Colour, tone, tables);
  EXPECT_EQ(tables.count, 256);
  EXPECT_EQ(tables.red[200], 255 - 120);
  EXPECT_EQ(tables.green[0], 255);
  EXPECT_EQ(tables.blue[255], 255 - 153);
}

TEST(Tone, RotateCyclesThroughQuarterTurns) {
  const int32_t unmirrored[] = {0, 3, 6, 5, 0};
  const int32_t mirrored[] = {1, 2, 7, 4, 1};
  for (const auto* cycle : {unmirrored, mirrored}) {
    TViewTone state;
    state.rotate = cycle[0];
    for (int i = 1; i < 5; ++i) {
      EXPECT_EQ(ApplyViewToneCommand(304, state), kEffectShowAgain);
      EXPECT_EQ(state.rotate, cycle[i]);
    }
  }
  TViewTone state;
  state.rotate = 3;
  ApplyViewToneCommand(305, state);
  EXPECT_EQ(state.rotate, 1);
  ApplyViewToneCommand(305, state);
  EXPECT_EQ(state.rotate, 3);
  ApplyViewToneCommand(306, state);
  EXPECT_EQ(state.rotate, 7);
}

TEST(Tone, ToneCommandsStopAtTheirLimits) {
  struct TCase {
    int32_t command;
    int32_t TViewTone::*field;
    int32_t before;
    int32_t after;
  };
  const TCase cases[] = {
      {307, &TViewTone::brightness, 8, 9}, {307, &TViewTone::brightness, 9, 9},
      {308, &TViewTone::brightness, 2, 1}, {308, &TViewTone::brightness, 1, 1},
      {309, &TViewTone::contrast, 5, 6},   {309, &TViewTone::contrast, 9, 9},
      {310, &TViewTone::contrast, 5, 4},   {310, &TViewTone::contrast, 1, 1},
      {311, &TViewTone::invert, 0, 1},     {311, &TViewTone::invert, 1, 0},
  };
  for (const auto& c : cases) {
    TViewTone state;
    state.*c.field = c.before;
    const uint32_t effect = ApplyViewToneCommand(c.command, state);
    EXPECT_EQ(state.*c.field, c.after) << "command " << c.command << " from " << c.before;
    EXPECT_EQ(effect, c.before == c.after ? kEffectNone : kEffectRebuildPalette | kEffectShowAgain)
        << "command " << c.command << " from " << c.before;
  }
}

TEST(Tone, ResetRebuildsThePaletteOnlyWhenToneChanged) {
  TViewTone state{6, 5, 5, 0};
  EXPECT_EQ(ApplyViewToneCommand(312, state), kEffectShowAgain | kEffectResetView);
  EXPECT_EQ(state.rotate, 0);

  state = {2, 7, 3, 1};
  EXPECT_EQ(ApplyViewToneCommand(312, state),
            kEffectShowAgain | kEffectResetView | kEffectRebuildPalette);
  EXPECT_EQ(state.brightness, 5);
  EXPECT_EQ(state.contrast, 5);
  EXPECT_EQ(state.invert, 0);
  EXPECT_EQ(ApplyViewToneCommand(301, state), kEffectNone);
}

} // namespace
