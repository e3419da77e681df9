#pragma once
// The colours the window can show. On displays of 8 bits or fewer per
// pixel (ZERBALIN_DISPLAY_DEPTH emulates them) pictures are drawn with a
// palette of at most 236 colours: greys, a fixed colour table, or a colour
// cube, as many of them as the display tells apart; pictures whose colours
// that palette cannot show well are dithered to it.
#include <cstdint>

#include "core/image.h"

class TProfile;

struct TScreenPalette {
  // Dither every row to target; otherwise rows go out as the tone tables
  // make them.
  bool dither = false;
  TLogPalette target;
};

// The window's choice for the picture. usesPage: a transition effect or a
// thumbnail sheet shows it, which on palette displays always dithers.
TScreenPalette ChooseScreenPalette(const TImage& image, const TProfile& settings, int32_t displayDepth,
                                   bool usesPage);

// The colour a display of the depth shows for a colour: itself on 8 bits
// and more, the nearest of the sixteen standard colours on 4 bits, black or
// white on 1 bit.
TPaletteEntry DisplayedColour(TPaletteEntry colour, int32_t displayDepth);
