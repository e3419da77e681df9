#include "core/dither.h"

#include <algorithm>
#include <cstring>

#include "core/image.h"

namespace {

// Weights of the luminance (from red, green, blue), the blue difference and
// the red difference, in 256ths.
constexpr int kColourWeights[9] = {77, 150, 29, -43, -85, 128, 128, -107, -21};

enum Channel { kY = 0, kCb = 1, kCr = 2 };

constexpr int kSpreadOffset = 512;

// Errors are clamped to -128..127 first; then 3/16 go behind, 5/16 below,
// 1/16 ahead, and the rest (about 7/16) to the next pixel so nothing is lost.
const std::array<TErrorShares, 1024>& SpreadTable() {
  static const std::array<TErrorShares, 1024> table = [] {
    std::array<TErrorShares, 1024> spread{};
    for (int e = -kSpreadOffset; e < kSpreadOffset; ++e) {
      const int clamped = std::clamp(e, -128, 127);
      TErrorShares& s = spread[e + kSpreadOffset];
      s.behind = static_cast<int16_t>(clamped * 3 / 16);
      s.below = static_cast<int16_t>(clamped * 5 / 16);
      s.ahead = static_cast<int16_t>(clamped / 16);
      s.next = static_cast<int16_t>(clamped - s.behind - s.below - s.ahead);
    }
    return spread;
  }();
  return table;
}

inline uint8_t ClampByte(int value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); }

// Error buffers hold one spare cell at each end: pixel x lives at x + 1. A
// row starts at first and moves by step; the cells around its first pixel in
// the next row's buffer are cleared, and every later cell of that buffer is
// set by the "ahead" share before anything is added to it.
inline void StartNextRow(int16_t* next, int first, int step) {
  next[first - step] = 0;
  next[first] = 0;
  next[first + step] = 0;
}

// Spreads one channel's error at pos: "next" to the following pixel of this
// row; "behind", "below" and "ahead" to the next row, "ahead" being the
// first contribution its cell receives.
inline void SpreadError(int16_t* now, int16_t* next, int pos, int step, const TErrorShares& s) {
  now[pos + step] += s.next;
  next[pos - step] += s.behind;
  next[pos] += s.below;
  next[pos + step] = s.ahead;
}

} // namespace

const TErrorShares& ErrorShares(int32_t error) {
  return SpreadTable()[std::clamp(error, -kSpreadOffset, kSpreadOffset - 1) + kSpreadOffset];
}

TDither::TDither(int32_t quality) {
  for (int k = 0; k < 9; ++k) {
    for (int v = 0; v < 256; ++v) {
      // Arithmetic shift of the signed product; the table keeps it to 8 bits,
      // and the sums of three entries are taken to 8 bits as well.
      m_colourTables[k][v] = static_cast<uint8_t>((v * kColourWeights[k]) >> 8);
    }
  }
  SpreadTable();
  SetQuality(quality);
  SetSourcePalette(nullptr, TDitherTarget::Display, TColourMode::Colour, TToneSettings{});
}

void TDither::SetQuality(int32_t quality) {
  m_quality = quality;
  if (quality == 1) {
    m_grain = {5, 6, 0x10, 0x20};
  } else if (quality == 2) {
    m_grain = {3, 4, 0x04, 0x08};
  } else {
    m_grain = {2, 3, 0x02, 0x04};
  }
  ClearCache();
}

void TDither::SetSourcePalette(const TLogPalette* palette, TDitherTarget target, TColourMode mode,
                               const TToneSettings& tone) {
  BuildToneTables(palette, mode, tone, m_tone);
  m_indexedSource = palette != nullptr;
  m_use = target;
  m_mode = mode;
  m_toneIdentity = true;
  for (int v = 0; v < 256 && m_toneIdentity; ++v) {
    m_toneIdentity = m_tone.red[v] == v && m_tone.green[v] == v && m_tone.blue[v] == v;
  }
  m_active = false;
  ResetDiffusion();
}

void TDither::GetSourcePalette(TLogPalette& palette) const {
  palette.count = static_cast<uint16_t>(m_tone.count);
  for (int i = 0; i < 256; ++i) {
    palette.entries[i] = i < m_tone.count
                             ? TPaletteEntry{m_tone.red[i], m_tone.green[i], m_tone.blue[i], 0}
                             : TPaletteEntry{0, 0, 0, 0};
  }
}

void TDither::ToYcc(uint8_t red, uint8_t green, uint8_t blue, uint8_t& y, uint8_t& cb,
                    uint8_t& cr) const {
  const auto& t = m_colourTables;
  y = static_cast<uint8_t>(t[0][red] + t[1][green] + t[2][blue]);
  cb = static_cast<uint8_t>(t[3][red] + t[4][green] + t[5][blue] + 128);
  cr = static_cast<uint8_t>(t[6][red] + t[7][green] + t[8][blue] + 128);
}

void TDither::StartDithering(const TLogPalette& target) {
  m_active = true;
  m_targetCount = std::min<int32_t>(target.count, 256);
  m_candidateCount = 0;

  // Colours are matched through a gamma curve: darker for printers, lighter
  // for small palettes, whose few colours otherwise make pictures too dark.
  const int32_t gammaLevel = m_use == TDitherTarget::Printer ? kGammaPrinter
                             : m_targetCount <= 16           ? kGammaFewColours
                                                             : kGammaIdentity;
  const TByteTable& gamma = GammaTable(gammaLevel);

  for (int i = 0; i < 256; ++i) {
    m_match[0][i] = gamma[m_tone.red[i]];
    m_match[1][i] = gamma[m_tone.green[i]];
    m_match[2][i] = gamma[m_tone.blue[i]];
    ToYcc(m_match[0][i], m_match[1][i], m_match[2][i], m_sourceYcc[kY][i], m_sourceYcc[kCb][i],
          m_sourceYcc[kCr][i]);
  }
  // Per-channel tables from a 24-bit pixel straight to its weighted products,
  // so that a pixel costs nine lookups.
  for (int k = 0; k < 9; ++k) {
    for (int v = 0; v < 256; ++v) m_pixelTables[k][v] = m_colourTables[k][m_match[k % 3][v]];
  }

  for (int j = 0; j < m_targetCount; ++j) {
    const TPaletteEntry& entry = target.entries[j];
    ToYcc(gamma[entry.red], gamma[entry.green], gamma[entry.blue], m_targetYcc[kY][j],
          m_targetYcc[kCb][j], m_targetYcc[kCr][j]);
    const bool grey = entry.red == entry.green && entry.green == entry.blue;
    if (m_mode == TColourMode::Colour || grey) {
      for (int c = 0; c < 3; ++c) m_candidates[c][m_candidateCount] = m_targetYcc[c][j];
      m_candidates[3][m_candidateCount] = static_cast<uint8_t>(j);
      ++m_candidateCount;
    }
  }
  ClearCache();
}

void TDither::ClearCache() {
  m_cacheValid.fill(0);
  m_greyValid.fill(0);
}

void TDither::ResetDiffusion() {
  m_rowParity = 0;
  for (int c = 0; c < 3; ++c) {
    std::fill(m_errorNow[c].begin(), m_errorNow[c].end(), 0);
    std::fill(m_errorNext[c].begin(), m_errorNext[c].end(), 0);
  }
}

void TDither::PrepareRow(int32_t count) {
  // A change of width drops the errors carried from the previous row rather
  // than spreading them onto unrelated columns.
  if (count == m_rowWidth) return;
  m_rowWidth = count;
  m_outputRow.assign(count, 0);
  for (int c = 0; c < 3; ++c) {
    m_errorNow[c].assign(count + 2, 0);
    m_errorNext[c].assign(count + 2, 0);
  }
}

// The cache hit is the common case and stays inline in the row loops; the
// search runs once per cell.
inline uint8_t TDither::FindColour(uint8_t y, uint8_t cb, uint8_t cr) {
  const int crCell = cr >> m_grain.diffShift;
  const int word = (y >> m_grain.lumaShift) + ((cb >> m_grain.diffShift) << 6);
  if ((m_cacheValid[word] >> crCell) & 1u) return m_colourCache[word + (crCell << 11)];
  return SearchColour(y, cb, cr);
}

uint8_t TDither::SearchColour(uint8_t y, uint8_t cb, uint8_t cr) {
  const int crCell = cr >> m_grain.diffShift;
  const int word = (y >> m_grain.lumaShift) + ((cb >> m_grain.diffShift) << 6);
  // The search measures from the cell's centre, so every colour of a cell
  // gets the same answer whichever of them came first.
  const uint8_t lumaMask = static_cast<uint8_t>(0xFF << m_grain.lumaShift);
  const uint8_t diffMask = static_cast<uint8_t>(0xFF << m_grain.diffShift);
  const int yc = (y & lumaMask) | m_grain.lumaCentre;
  const int cbc = (cb & diffMask) | m_grain.diffCentre;
  const int crc = (cr & diffMask) | m_grain.diffCentre;
  // Squared differences weigh 2 for each colour difference and, for the
  // luminance, 4 with more than 16 candidates but only 1 with few, so that
  // a small palette keeps hues rather than brightness.
  const int lumaWeight = m_candidateCount > 16 ? 4 : 1;
  int best = 0x7FFFFFFF;
  uint8_t chosen = 0;
  for (int k = 0; k < m_candidateCount; ++k) {
    const int dy = yc - m_candidates[kY][k];
    const int dcb = cbc - m_candidates[kCb][k];
    const int dcr = crc - m_candidates[kCr][k];
    const int d = dy * dy * lumaWeight + 2 * dcb * dcb + 2 * dcr * dcr;
    if (d <= best) {
      best = d;
      chosen = m_candidates[3][k];
    }
  }
  m_colourCache[word + (crCell << 11)] = chosen;
  m_cacheValid[word] |= 1u << crCell;
  return chosen;
}

uint8_t TDither::FindGrey(uint8_t y) {
  if (m_greyValid[y]) return m_greyCache[y];
  int best = 0x7FFFFFFF;
  uint8_t chosen = 0;
  for (int k = 0; k < m_candidateCount; ++k) {
    const int d = std::abs(y - m_candidates[kY][k]);
    if (d <= best) {
      best = d;
      chosen = m_candidates[3][k];
    }
  }
  m_greyCache[y] = chosen;
  m_greyValid[y] = 1;
  return chosen;
}

void TDither::DitherRow(uint8_t* pixels, int32_t count, int32_t bytesPerPixel) {
  if (!m_active) {
    ConvertRow(pixels, count, bytesPerPixel, bytesPerPixel);
    return;
  }
  if (count <= 0) return;
  if (m_candidateCount == 0) {
    // Nothing may be chosen (a grey picture and a palette without greys):
    // every pixel takes the first target entry.
    std::memset(pixels, 0, count);
    return;
  }
  PrepareRow(count);
  m_rowParity ^= 1;
  if (m_mode == TColourMode::Colour) {
    DitherColourRow(pixels, count, bytesPerPixel);
  } else {
    DitherGreyRow(pixels, count, bytesPerPixel);
  }
  std::memcpy(pixels, m_outputRow.data(), count);
  std::swap(m_errorNow, m_errorNext);
}

void TDither::DitherColourRow(const uint8_t* pixels, int32_t count, int32_t bytesPerPixel) {
  const auto& spread = SpreadTable();
  const auto& t = m_pixelTables;
  const int step = m_rowParity ? -1 : 1;
  const int first = m_rowParity ? count : 1;
  int16_t* now[3] = {m_errorNow[0].data(), m_errorNow[1].data(), m_errorNow[2].data()};
  int16_t* next[3] = {m_errorNext[0].data(), m_errorNext[1].data(), m_errorNext[2].data()};
  for (int c = 0; c < 3; ++c) StartNextRow(next[c], first, step);
  const bool direct = bytesPerPixel == 3;
  for (int i = 0, pos = first; i < count; ++i, pos += step) {
    const int x = pos - 1;
    int value[3];
    if (direct) {
      const uint8_t b = pixels[3 * x];
      const uint8_t g = pixels[3 * x + 1];
      const uint8_t r = pixels[3 * x + 2];
      value[kY] = static_cast<uint8_t>(t[0][r] + t[1][g] + t[2][b]);
      value[kCb] = static_cast<uint8_t>(t[3][r] + t[4][g] + t[5][b] + 128);
      value[kCr] = static_cast<uint8_t>(t[6][r] + t[7][g] + t[8][b] + 128);
    } else {
      const uint8_t index = pixels[x];
      value[kY] = m_sourceYcc[kY][index];
      value[kCb] = m_sourceYcc[kCb][index];
      value[kCr] = m_sourceYcc[kCr][index];
    }
    for (int c = 0; c < 3; ++c) value[c] = ClampByte(value[c] + now[c][pos]);
    const uint8_t chosen =
        FindColour(static_cast<uint8_t>(value[kY]), static_cast<uint8_t>(value[kCb]),
                   static_cast<uint8_t>(value[kCr]));
    m_outputRow[x] = chosen;
    for (int c = 0; c < 3; ++c) {
      SpreadError(now[c], next[c], pos, step,
                  spread[value[c] - m_targetYcc[c][chosen] + kSpreadOffset]);
    }
  }
}

void TDither::DitherGreyRow(const uint8_t* pixels, int32_t count, int32_t bytesPerPixel) {
  const auto& spread = SpreadTable();
  const auto& t = m_pixelTables;
  const int step = m_rowParity ? -1 : 1;
  const int first = m_rowParity ? count : 1;
  int16_t* now = m_errorNow[kY].data();
  int16_t* next = m_errorNext[kY].data();
  StartNextRow(next, first, step);
  const bool direct = bytesPerPixel == 3;
  for (int i = 0, pos = first; i < count; ++i, pos += step) {
    const int x = pos - 1;
    const int luma = direct ? static_cast<uint8_t>(t[0][pixels[3 * x + 2]] +
                                                   t[1][pixels[3 * x + 1]] + t[2][pixels[3 * x]])
                            : m_sourceYcc[kY][pixels[x]];
    const uint8_t value = ClampByte(luma + now[pos]);
    const uint8_t chosen = FindGrey(value);
    m_outputRow[x] = chosen;
    SpreadError(now, next, pos, step, spread[value - m_targetYcc[kY][chosen] + kSpreadOffset]);
  }
}

void TDither::ConvertRow(uint8_t* pixels, int32_t count, int32_t outBytes, int32_t inBytes) const {
  if (outBytes == 1 || count <= 0) return;
  const TByteTable& red = m_tone.red;
  const TByteTable& green = m_tone.green;
  const TByteTable& blue = m_tone.blue;
  if (inBytes == 1) {
    // Backwards, so that the row can grow to three bytes per pixel in place.
    // In grey mode the three tables already hold the luminance.
    for (int32_t i = count - 1; i >= 0; --i) {
      const uint8_t index = pixels[i];
      pixels[3 * i] = blue[index];
      pixels[3 * i + 1] = green[index];
      pixels[3 * i + 2] = red[index];
    }
    return;
  }
  if (m_mode == TColourMode::Grey) {
    for (int32_t i = 0; i < count; ++i) {
      uint8_t* p = pixels + 3 * i;
      const uint8_t y = Luminance(red[p[2]], green[p[1]], blue[p[0]]);
      p[0] = p[1] = p[2] = y;
    }
    return;
  }
  if (m_toneIdentity) return;
  for (int32_t i = 0; i < count; ++i) {
    uint8_t* p = pixels + 3 * i;
    p[0] = blue[p[0]];
    p[1] = green[p[1]];
    p[2] = red[p[2]];
  }
}
