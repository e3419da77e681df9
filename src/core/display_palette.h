#pragma once
// The display palette of a 24-bit picture: 236 colours chosen from the
// picture itself, used when the display needs a palette. It is computed once
// after every load (and after a bitmap was adopted from elsewhere).
#include <cstdint>

class TImage;

// Colours a 256-colour display leaves to the picture; the other 20 belong to
// the system.
inline constexpr int32_t kDisplayPaletteColours = 236;

// Samples the picture into a 255 x 255 area (aspect kept, no orientation),
// reduces it to at most 236 colours and stores them in m_directRed,
// m_directGreen, m_directBlue and m_directPaletteCount. Leaves the output
// geometry set to that area. Without colours (memory failure) the count is 0.
void ComputeDisplayPalette(TImage& image);

enum class TPaletteSort : int32_t { Keep = 0, Sort = 1 };

// The step after every load: an 8-bit picture has its palette sorted when the
// SortPalette setting asks for it; a 24-bit picture gets its display palette.
void PrepareLoadedPicture(TImage& image, TPaletteSort sort);
