#pragma once
// TDither turns rows of the picture into rows of indices into a target
// palette (the display's 236 colours, a printer's few colours, a file's
// palette). It holds the source palette after tone adjustment, compares
// colours as a luminance and two colour differences, finds the nearest target
// colour through a cache of colour cells whose size is the dither quality, and
// spreads the error with serpentine Floyd-Steinberg diffusion. Without a
// target palette it only converts rows: indices to colours, tone applied.
//
// Usage: SetSourcePalette for the picture, then either ConvertRow, or
// StartDithering with the target palette and DitherRow for every row from top
// to bottom. One instance is borrowed by one caller at a time.
#include <array>
#include <cstdint>
#include <vector>

#include "core/tone.h"

struct TLogPalette;

enum class TDitherTarget : int32_t { Display = 0, Printer = 1 };

// How an error is shared out by the diffusion: to the pixel behind, the pixel
// below and the pixel ahead in the next row, and to the next pixel of this row.
struct TErrorShares {
  int16_t behind;
  int16_t below;
  int16_t ahead;
  int16_t next;
};
// Shares of an error in -512..511 (the table is built once).
const TErrorShares& ErrorShares(int32_t error);

class TDither {
public:
  // quality: 1 low, 2 medium, anything else high (the DitherQuality setting).
  explicit TDither(int32_t quality = 2);

  // Selects the cache cell size and empties the cache; callable at any time.
  void SetQuality(int32_t quality);
  int32_t Quality() const { return m_quality; }

  // Fills the tone tables from the picture's palette (nullptr for a 24-bit
  // picture) through the tone engine, and resets the diffusion state: no
  // target palette is active until the next StartDithering. Writers call it
  // with the neutral TToneSettings{} and TColourMode::Colour.
  void SetSourcePalette(const TLogPalette* palette, TDitherTarget target, TColourMode mode,
                        const TToneSettings& tone);
  // The source palette after tone: SourceCount() entries from the tone tables.
  void GetSourcePalette(TLogPalette& palette) const;
  int32_t SourceCount() const { return m_tone.count; }
  // True when the source palette came from an 8-bit picture's palette; a
  // ditherer prepared for a 24-bit picture has only tone tables to give.
  bool HasIndexedSource() const { return m_indexedSource; }
  const TToneTables& ToneTables() const { return m_tone; }
  TColourMode Mode() const { return m_mode; }

  // Activates dithering to a target palette and empties the cache.
  void StartDithering(const TLogPalette& target);
  bool Active() const { return m_active; }

  // Replaces count pixels (bytesPerPixel 1 or 3 each) by count target indices
  // in place. Without an active target palette it is ConvertRow with
  // bytesPerPixel as both sizes.
  void DitherRow(uint8_t* pixels, int32_t count, int32_t bytesPerPixel);

  // Conversion without a target palette, in place. outBytes 1: nothing
  // changes. inBytes 1, outBytes 3: every index becomes blue, green, red from
  // the tone tables (grey mode: three copies of the entry's luminance); the
  // buffer must hold count x 3 bytes. inBytes 3: tone tables applied per
  // channel (grey mode: three copies of the luminance).
  void ConvertRow(uint8_t* pixels, int32_t count, int32_t outBytes, int32_t inBytes) const;
  // True when ConvertRow with bytesPerPixel as both sizes leaves every row as
  // it is: indices, or colour rows under neutral tone.
  bool KeepsRows(int32_t bytesPerPixel) const {
    return bytesPerPixel == 1 || (m_mode == TColourMode::Colour && m_toneIdentity);
  }

private:
  struct TCellGrain {
    uint8_t lumaShift;  // luminance bits kept = 8 - lumaShift
    uint8_t diffShift;  // difference bits kept = 8 - diffShift
    uint8_t lumaCentre; // OR-ed into the masked luminance
    uint8_t diffCentre; // OR-ed into the masked differences
  };

  void ClearCache();
  void ResetDiffusion();
  void PrepareRow(int32_t count);
  void ToYcc(uint8_t red, uint8_t green, uint8_t blue, uint8_t& y, uint8_t& cb, uint8_t& cr) const;
  uint8_t FindColour(uint8_t y, uint8_t cb, uint8_t cr);
  uint8_t SearchColour(uint8_t y, uint8_t cb, uint8_t cr);
  uint8_t FindGrey(uint8_t y);
  void DitherColourRow(const uint8_t* pixels, int32_t count, int32_t bytesPerPixel);
  void DitherGreyRow(const uint8_t* pixels, int32_t count, int32_t bytesPerPixel);

  std::array<TByteTable, 9> m_colourTables{}; // weighted products, kept to 8 bits
  TToneTables m_tone;
  std::array<TByteTable, 3> m_match{};       // tone tables through the matching gamma
  std::array<TByteTable, 3> m_sourceYcc{};   // Y, Cb + 128, Cr + 128 of m_match entries
  std::array<TByteTable, 9> m_pixelTables{}; // m_colourTables[k] of m_match[k % 3]
  std::array<TByteTable, 3> m_targetYcc{};   // target Y, Cb + 128, Cr + 128
  int32_t m_targetCount = 2;
  std::array<TByteTable, 4> m_candidates{}; // Y, Cb, Cr, target index
  int32_t m_candidateCount = 0;
  int32_t m_rowWidth = -1; // width the row buffers are set up for
  std::vector<uint8_t> m_outputRow;
  // Pending errors of the current and of the next row per channel (Y, Cb, Cr),
  // with one spare cell at each end so the first and last pixels may spread
  // without tests.
  std::array<std::vector<int16_t>, 3> m_errorNow;
  std::array<std::vector<int16_t>, 3> m_errorNext;
  bool m_active = false;
  TDitherTarget m_use = TDitherTarget::Display;
  TColourMode m_mode = TColourMode::Colour;
  bool m_toneIdentity = true;
  bool m_indexedSource = false;
  int32_t m_rowParity = 0;
  int32_t m_quality = 2;
  TCellGrain m_grain{};
  std::array<uint32_t, 2048> m_cacheValid{}; // one bit per colour cell
  std::array<uint8_t, 256> m_greyCache{};
  std::array<uint8_t, 256> m_greyValid{};
  std::array<uint8_t, 65536> m_colourCache{};
};
