#include "core/image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <numeric>

#include "core/log_sink.h"
#include "core/view_geometry.h"

namespace {

TDibDecoder g_dibDecoder = nullptr;

constexpr int32_t kLastFileType = 6;
constexpr int32_t kBmpFileType = 1;

int32_t StoredSide(int32_t side, int32_t reduction) { return std::max(side / reduction, 1); }

// The memory a picture may need beside its bitmap: one and a quarter times
// the pixel block is tried first, so the codecs' working buffers still fit
// once the bitmap is committed. Under overcommit the allocation itself
// succeeds whatever the size, so the size is first held against the memory
// the system has left. The pointer is volatile so that the compiler keeps the
// allocation it would otherwise prove unused.
bool TrialAllocation(int32_t bytesPerPixel, int32_t width, int32_t height) {
  const int64_t bytes = int64_t{bytesPerPixel} * 10 * height * width / 8;
  if (!PixelMemoryFits(bytes)) return false;
  void* volatile block = std::malloc(static_cast<size_t>(std::max<int64_t>(bytes, 1)));
  if (!block) return false;
  std::free(block);
  return true;
}

// Resolution from a bitmap header's pixels per metre, rounded.
int32_t DpiFromPelsPerMeter(int32_t pelsPerMeter) {
  const int64_t dpi = (int64_t{pelsPerMeter} * 254 + 5000) / 10000;
  return static_cast<int32_t>(std::clamp<int64_t>(dpi, 1, INT32_MAX));
}

// Gathers n pixels of one stored row through the column map, walking the
// map forwards, or backwards for a mirrored row (step -1). Columns taken one
// to one are copied as a block: the map never steps back, so first and last
// entries n - 1 apart mean every step is one column.
template <int kBpp>
void GatherColumns(uint8_t* dst, const uint8_t* row, const int32_t* columns, int32_t n,
                   int32_t step) {
  if (step == 1 && columns[n - 1] - columns[0] == n - 1) {
    std::memcpy(dst, row + static_cast<size_t>(columns[0]) * kBpp, static_cast<size_t>(n) * kBpp);
    return;
  }
  for (int32_t k = 0; k < n; ++k, columns += step) {
    const uint8_t* pixel = row + static_cast<size_t>(*columns) * kBpp;
    for (int b = 0; b < kBpp; ++b) *dst++ = pixel[b];
  }
}

// Gathers n pixels of one stored column (transposed output): the row map
// picks the row of each output pixel.
template <int kBpp>
void GatherRows(uint8_t* dst, uint8_t* const* rowTable, const int32_t* rows, size_t byteOffset,
                int32_t n, int32_t step) {
  for (int32_t k = 0; k < n; ++k, rows += step) {
    const uint8_t* pixel = rowTable[*rows] + byteOffset;
    for (int b = 0; b < kBpp; ++b) *dst++ = pixel[b];
  }
}

// map[k] = start + min(floor(k * extent / outExtent), extent - 1) for every
// output index k, kept as a quotient and remainder so nothing overflows.
// Entries beyond outExtent repeat the last one, so that every entry of the
// map lies inside the picture.
void FillMap(std::vector<int32_t>& map, int32_t start, int32_t extent, int32_t outExtent) {
  const int32_t step = extent / outExtent;
  const int32_t fraction = extent % outExtent;
  int32_t index = 0;
  int32_t remainder = 0;
  for (int32_t k = 0; k < outExtent; ++k) {
    map[k] = start + std::min(index, extent - 1);
    index += step;
    remainder += fraction;
    if (remainder >= outExtent) {
      ++index;
      remainder -= outExtent;
    }
  }
  std::fill(map.begin() + outExtent, map.end(), map[outExtent - 1]);
}

// The crop limited to the stored picture, so that maps and edge scans never
// leave the pixel block whatever the view fields hold.
struct TSpan {
  int32_t start;
  int32_t extent;
};

TSpan ClampSpan(int32_t start, int32_t extent, int32_t limit) {
  const int32_t s = std::clamp(start, 0, limit - 1);
  return {s, std::clamp(extent, 1, limit - s)};
}

} // namespace

TImage::TImage(const int32_t* zoomMul, const int32_t* zoomDiv, const int32_t* dpiOverride,
               const int32_t* dpiFor1Bit, const int32_t* dpiFor8Bit, const int32_t* dpiFor24Bit)
    : m_bitmap(std::make_unique<TDib>()),
      m_zoomMul(zoomMul),
      m_zoomDiv(zoomDiv),
      m_dpiOverride(dpiOverride),
      m_dpiFor1Bit(dpiFor1Bit),
      m_dpiFor8Bit(dpiFor8Bit),
      m_dpiFor24Bit(dpiFor24Bit) {
  MakeBlank();
}

TImage::~TImage() = default;

void TImage::SetDibDecoder(TDibDecoder decoder) { g_dibDecoder = decoder; }

void TImage::MakeBlank() { Create(kBmpFileType, 1, 1, 1, 1, 1, 1, 0); }

// Gives the bitmap a pixel block of the stated size without throwing; on
// failure the block is left empty.
bool TImage::AllocateBitmap(int32_t width, int32_t height, int32_t bitCount) {
  TDib& dib = *m_bitmap;
  TPixelBlock block = std::move(dib.bits); // kept when the new picture fits in it
  dib = TDib{};
  dib.bits = std::move(block);
  dib.width = width;
  dib.height = height;
  dib.bitCount = bitCount;
  try {
    dib.bits.resize(static_cast<size_t>(dib.Stride()) * height);
  } catch (const std::bad_alloc&) {
    TPixelBlock().swap(dib.bits);
    return false;
  }
  return true;
}

// Row i of the picture is at block start + (height - 1 - i) x stride, as the
// block is stored bottom-up. Every row falls into the scratch row when the
// block could not be had, and so do rows beyond the picture (see Row). The
// picture's rows start unwritten.
void TImage::PointRowTable() {
  const size_t scratchBytes = static_cast<size_t>(m_width) * 3;
  if (m_scratchRow.size() < scratchBytes) m_scratchRow.resize(scratchBytes);
  m_rowTable.assign(static_cast<size_t>(m_height), m_scratchRow.data());
  m_rowWritten.assign(static_cast<size_t>(m_height), 1);
  m_unwrittenRows = 0;
  const TDib& dib = *m_bitmap;
  const size_t stride = static_cast<size_t>(dib.Stride());
  if (dib.bits.size() < stride * m_height) return;
  uint8_t* block = m_bitmap->bits.data();
  for (int32_t i = 0; i < m_height; ++i) m_rowTable[i] = block + (m_height - 1 - i) * stride;
  std::fill_n(m_rowWritten.begin(), m_height, 0);
  m_unwrittenRows = m_height;
}

void TImage::FillRow(int32_t i) const {
  std::memset(m_rowTable[i], m_fillIndex, static_cast<size_t>(m_width) * m_bytesPerPixel);
  m_rowWritten[i] = 1;
  --m_unwrittenRows;
}

void TImage::FillUnwrittenRows() const {
  for (int32_t i = 0; m_unwrittenRows > 0 && i < m_height; ++i)
    if (!m_rowWritten[i]) FillRow(i);
}

// A reader is about to store count pixels at storedX of an unwritten row:
// the rest of the row gets the fill index, and the row counts as written.
void TImage::PrepareRowForRun(int32_t storedY, int32_t storedX, int32_t count) {
  if (m_rowWritten[storedY]) return;
  uint8_t* row = m_rowTable[storedY];
  const size_t bpp = static_cast<size_t>(m_bytesPerPixel);
  std::memset(row, m_fillIndex, storedX * bpp);
  const size_t end = static_cast<size_t>(storedX + count) * bpp;
  std::memset(row + end, m_fillIndex, m_width * bpp - end);
  m_rowWritten[storedY] = 1;
  --m_unwrittenRows;
}

void TImage::ResetView() {
  m_fullRect = {0, m_width, 0, m_height};
  m_cropRect = m_fullRect;
  m_centre = {m_width / 2, m_height / 2};
  m_zoomTerms = {1, 1, 1, 1, 1, 1};
}

// Everything a new picture shares after its pixels are in place. The output
// placement is kept but the maps are rebuilt, so that output drawn before the
// next layout reads the new picture and never outside it.
void TImage::ResetOutput() {
  ResetView();
  m_usageCounts.fill(int64_t{m_width} * m_height / 256);
  m_colourCount = m_bytesPerPixel == 1 ? 256 : 768;
  m_directPaletteCount = 0;
  BuildMaps();
}

void TImage::Create(int32_t fileType, int32_t width, int32_t height, int32_t xDpi, int32_t yDpi,
                    int32_t bytesPerPixel, int32_t reduction, uint8_t fillIndex) {
  std::vector<uint8_t>().swap(m_wideRow);

  m_fileType = std::clamp(fileType, 0, kLastFileType);
  width = std::max(width, 1);
  height = std::max(height, 1);
  m_xDpi = std::max(xDpi, 1);
  m_yDpi = std::max(yDpi, 1);
  m_bytesPerPixel = bytesPerPixel == 3 ? 3 : 1;
  const int32_t asked = std::max(reduction, 1);
  reduction = asked;
  while (width / reduction > kMaxImageSide) ++reduction;
  while (height / reduction > kMaxImageSide) ++reduction;
  const int32_t forSide = reduction;

  // Release the previous picture before asking for a new one, except when its
  // block fits the new picture without holding more than twice its size:
  // reusing it spares the fresh pages of a new block.
  const size_t stride = (static_cast<size_t>(StoredSide(width, reduction)) * m_bytesPerPixel + 3) & ~size_t{3};
  const size_t blockSize = stride * StoredSide(height, reduction);
  const size_t held = m_bitmap->bits.capacity();
  if (held < blockSize || held / 2 > blockSize) TPixelBlock().swap(m_bitmap->bits);

  // A first failure may be passing pressure, so it is retried once at the
  // same size; after that each failure lowers the size. A 1 x 1 picture is
  // the floor.
  const auto atFloor = [&] {
    return StoredSide(width, reduction) == 1 && StoredSide(height, reduction) == 1;
  };
  for (int failures = 0; !TrialAllocation(m_bytesPerPixel, StoredSide(width, reduction),
                                          StoredSide(height, reduction)) &&
                         !atFloor();) {
    if (++failures > 1) ++reduction;
  }
  while (!AllocateBitmap(StoredSide(width, reduction), StoredSide(height, reduction),
                         m_bytesPerPixel * 8) &&
         !atFloor()) {
    ++reduction;
  }

  m_reduction = reduction;
  m_width = StoredSide(width, reduction);
  m_height = StoredSide(height, reduction);
  m_heldReduced = reduction > asked;
  if (m_heldReduced) LogReduction(StoredSide(width, asked), StoredSide(height, asked), reduction == forSide);
  GreyPalette();
  // The rows are filled with fillIndex only where no reader writes them.
  m_fillIndex = fillIndex;
  PointRowTable();
  ResetOutput();
}

// Nobody is to lose detail unawares: a picture held smaller than asked says
// so, with both sizes.
void TImage::LogReduction(int32_t width, int32_t height, bool sideTooLong) const {
  if (sideTooLong) {
    LogMessage("Picture of %dx%d pixels held at %dx%d: a side is longer than %d pixels", width, height, m_width,
               m_height, kMaxImageSide);
  } else {
    LogMessage("Picture of %dx%d pixels held at %dx%d: not enough memory", width, height, m_width, m_height);
  }
}

void TImage::PutRow(int32_t x, int32_t y, const uint8_t* pixels, int32_t count) {
  if (!pixels || count <= 0 || y < 0 || y % m_reduction != 0) return;
  const int32_t storedY = y / m_reduction;
  if (storedY >= m_height) return;
  if (x < 0) {
    // Pixels left of the picture are dropped.
    if (count <= -x) return;
    pixels += int64_t{-x} * m_bytesPerPixel;
    count += x;
    x = 0;
  }
  const int32_t storedX = x / m_reduction;
  if (storedX >= m_width) return;
  const int32_t n = std::min(count / m_reduction, m_width - storedX);
  if (n <= 0) return;
  PrepareRowForRun(storedY, storedX, n);
  uint8_t* target = m_rowTable[storedY] + static_cast<size_t>(storedX) * m_bytesPerPixel;
  if (target == pixels) return; // decoded in place
  if (m_reduction == 1) {
    std::memmove(target, pixels, static_cast<size_t>(n) * m_bytesPerPixel);
    return;
  }
  // Point sampling: every f-th source pixel.
  const size_t sourceStep = static_cast<size_t>(m_reduction) * m_bytesPerPixel;
  for (int32_t k = 0; k < n; ++k, pixels += sourceStep) {
    for (int32_t b = 0; b < m_bytesPerPixel; ++b) *target++ = pixels[b];
  }
}

uint8_t* TImage::RowBuffer(int32_t x, int32_t y, int32_t count) {
  if (m_reduction == 1 && x >= 0 && x < m_width && y >= 0 && y < m_height &&
      count <= m_width - x) {
    return m_rowTable[y] + static_cast<size_t>(x) * m_bytesPerPixel;
  }
  if (count > kMaxFileRowPixels) return nullptr;
  const size_t bytes = static_cast<size_t>(std::max(count, 0)) * m_bytesPerPixel;
  if (bytes <= m_scratchRow.size()) return m_scratchRow.data();
  if (m_wideRow.size() < bytes) {
    try {
      m_wideRow.resize(bytes);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  return m_wideRow.data();
}

void TImage::SetPalette(const TLogPalette& palette) {
  const int32_t count = std::min<int32_t>(palette.count, 256);
  if (m_bytesPerPixel == 3) {
    for (int32_t i = 0; i < count; ++i) {
      m_directRed[i] = palette.entries[i].red;
      m_directGreen[i] = palette.entries[i].green;
      m_directBlue[i] = palette.entries[i].blue;
    }
    m_directPaletteCount = count;
    return;
  }
  for (int32_t i = 0; i < count; ++i) {
    const TPaletteEntry& e = palette.entries[i];
    m_bitmap->colours[i] = {e.blue, e.green, e.red, 0};
  }
}

void TImage::GreyPalette() {
  for (int i = 0; i < 256; ++i) {
    const auto v = static_cast<uint8_t>(i);
    m_bitmap->colours[i] = {v, v, v, 0};
  }
}

void TImage::GetPalette(TLogPalette& palette, int32_t* usage) const {
  palette.version = 0x300;
  if (usage) std::fill(usage, usage + 256, 0);
  if (m_bytesPerPixel == 3) {
    palette.count = static_cast<uint16_t>(m_directPaletteCount);
    for (int i = 0; i < 256; ++i) {
      palette.entries[i] = {m_directRed[i], m_directGreen[i], m_directBlue[i], 0};
    }
    if (usage) std::fill(usage, usage + 256, 1);
    return;
  }
  if (m_colourCount <= 0) {
    palette.count = 2;
    palette.entries[0] = {0, 0, 0, 0};
    palette.entries[1] = {255, 255, 255, 0};
    if (usage) usage[0] = usage[1] = 50;
    return;
  }
  palette.count = static_cast<uint16_t>(m_colourCount);
  const int64_t pixels = int64_t{m_width} * m_height;
  for (int i = 0; i < 256; ++i) {
    const TRgbQuad& c = m_bitmap->colours[i];
    palette.entries[i] = {c.red, c.green, c.blue, 0};
    if (usage) usage[i] = static_cast<int32_t>(int64_t{m_usageCounts[i]} * 100 / pixels);
  }
}

void TImage::AdoptBitmap(std::unique_ptr<TDib> dib) {
  if (!dib) {
    MakeBlank();
    return;
  }
  const bool directDepth = dib->compression == 0 && (dib->bitCount == 8 || dib->bitCount == 24);
  const bool withinLimits = dib->width >= 1 && dib->height >= 1 &&
                            dib->width <= kMaxImageSide && dib->height <= kMaxImageSide;
  if (!directDepth || !withinLimits) {
    if (g_dibDecoder) {
      g_dibDecoder(*dib, *this);
    } else {
      MakeBlank();
    }
    return;
  }
  // A block shorter than its header claims is completed with zeros rather
  // than read past its end. The zeros are given explicitly: the block's
  // allocator leaves new bytes as they come.
  const size_t blockSize = static_cast<size_t>(dib->Stride()) * dib->height;
  if (dib->bits.size() < blockSize) {
    try {
      dib->bits.resize(blockSize, 0);
    } catch (const std::bad_alloc&) {
      MakeBlank();
      return;
    }
  }
  std::vector<uint8_t>().swap(m_wideRow);
  m_fileType = kBmpFileType;
  m_width = dib->width;
  m_height = dib->height;
  m_xDpi = DpiFromPelsPerMeter(dib->xPelsPerMeter);
  m_yDpi = DpiFromPelsPerMeter(dib->yPelsPerMeter);
  m_bytesPerPixel = dib->bitCount / 8;
  m_reduction = 1;
  m_heldReduced = false;
  m_bitmap = std::move(dib);
  PointRowTable();
  // Every row of an adopted bitmap holds its pixels.
  std::fill_n(m_rowWritten.begin(), m_height, 1);
  m_unwrittenRows = 0;
  ResetOutput();
}

int32_t TImage::EffectiveXDpi() const {
  const bool transposed = (m_orientation & kTranspose) != 0;
  return EffectiveDpi(transposed ? m_yDpi : m_xDpi);
}

int32_t TImage::EffectiveYDpi() const {
  const bool transposed = (m_orientation & kTranspose) != 0;
  return EffectiveDpi(transposed ? m_xDpi : m_yDpi);
}

// The file's own resolution counts when it gave both values and the user did
// not override this type; otherwise the per-type setting for the picture's
// depth applies.
int32_t TImage::EffectiveDpi(int32_t ownDpi) const {
  const int32_t type = std::clamp(m_fileType, 0, kLastFileType);
  int32_t dpi = 0;
  if (m_xDpi >= 2 && m_yDpi >= 2 && m_dpiOverride[type] == 0) {
    dpi = ownDpi;
  } else if (m_bytesPerPixel == 3) {
    dpi = m_dpiFor24Bit[type];
  } else {
    dpi = m_colourCount < 3 ? m_dpiFor1Bit[type] : m_dpiFor8Bit[type];
  }
  return std::max(dpi / m_reduction, 1);
}

void TImage::CropSize(int32_t& width, int32_t& height) const {
  width = m_cropRect[1];
  height = m_cropRect[3];
  if (m_orientation & kTranspose) std::swap(width, height);
}

void TImage::SetOutputGeometry(int32_t areaWidth, int32_t areaHeight, int32_t deviceXDpi,
                               int32_t deviceYDpi, int32_t orientation, bool fit, bool autoFit) {
  Layout(*this, areaWidth, areaHeight, deviceXDpi, deviceYDpi, orientation, fit, autoFit);
}

void TImage::BuildMaps() {
  const TSpan columns = ClampSpan(m_cropRect[0], m_cropRect[1], m_width);
  const TSpan rows = ClampSpan(m_cropRect[2], m_cropRect[3], m_height);
  const int32_t outWidth = std::clamp(m_outputPlacement[1], 1, kMaxImageSide);
  const int32_t outHeight = std::clamp(m_outputPlacement[3], 1, kMaxImageSide);
  const bool transposed = (m_orientation & kTranspose) != 0;
  // Both maps cover the longer side, so that an index of either output side
  // stays inside either map whatever the orientation.
  const size_t entries = static_cast<size_t>(std::max(outWidth, outHeight));
  m_columnMap.resize(entries);
  m_rowMap.resize(entries);
  FillMap(m_columnMap, columns.start, columns.extent, transposed ? outHeight : outWidth);
  FillMap(m_rowMap, rows.start, rows.extent, transposed ? outWidth : outHeight);
}

void TImage::OutputRect(int32_t& left, int32_t& top, int32_t& right, int32_t& bottom) const {
  left = m_outputPlacement[0];
  top = m_outputPlacement[2];
  right = left + std::max(m_outputPlacement[1], 1);
  bottom = top + std::max(m_outputPlacement[3], 1);
}

void TImage::OutputRow(int32_t x, int32_t y, uint8_t* buffer, int32_t count) const {
  if (count <= 0) return;
  FillUnwrittenRows();
  const int32_t bpp = m_bytesPerPixel;
  const int32_t outWidth = std::clamp(m_outputPlacement[1], 1, kMaxImageSide);
  const int32_t outHeight = std::clamp(m_outputPlacement[3], 1, kMaxImageSide);
  int32_t r = static_cast<int32_t>(std::clamp<int64_t>(int64_t{y} - m_outputPlacement[2], -1, outHeight));
  const int64_t c = int64_t{x} - m_outputPlacement[0];
  // Output columns [first, first + n) are fetched; the rest of the buffer is
  // left and right of the placed output.
  const int32_t lead = static_cast<int32_t>(std::clamp<int64_t>(-c, 0, count));
  const int64_t first = c + lead;
  const int32_t n = r < 0 || r >= outHeight
                        ? 0
                        : static_cast<int32_t>(std::clamp<int64_t>(outWidth - first, 0, count - lead));
  std::memset(buffer, 0, static_cast<size_t>(lead) * bpp);
  std::memset(buffer + static_cast<size_t>(lead + n) * bpp, 0,
              static_cast<size_t>(count - lead - n) * bpp);
  if (n == 0) return;

  if (m_orientation & kFlip) r = outHeight - 1 - r;
  int32_t start = static_cast<int32_t>(first);
  int32_t step = 1;
  if (m_orientation & kMirror) {
    start = outWidth - 1 - start;
    step = -1;
  }
  uint8_t* dst = buffer + static_cast<size_t>(lead) * bpp;
  if (!(m_orientation & kTranspose)) {
    const uint8_t* row = m_rowTable[m_rowMap[r]];
    const int32_t* columns = m_columnMap.data() + start;
    if (bpp == 1) {
      GatherColumns<1>(dst, row, columns, n, step);
    } else {
      GatherColumns<3>(dst, row, columns, n, step);
    }
    return;
  }
  const size_t byteOffset = static_cast<size_t>(m_columnMap[r]) * bpp;
  const int32_t* rows = m_rowMap.data() + start;
  if (bpp == 1) {
    GatherRows<1>(dst, m_rowTable.data(), rows, byteOffset, n, step);
  } else {
    GatherRows<3>(dst, m_rowTable.data(), rows, byteOffset, n, step);
  }
}

const uint8_t* TImage::OutputRowView(int32_t x, int32_t y, uint8_t* buffer, int32_t count) const {
  const int32_t outWidth = std::clamp(m_outputPlacement[1], 1, kMaxImageSide);
  const int32_t outHeight = std::clamp(m_outputPlacement[3], 1, kMaxImageSide);
  const int64_t r = int64_t{y} - m_outputPlacement[2];
  const int64_t c = int64_t{x} - m_outputPlacement[0];
  const bool inside = count > 0 && r >= 0 && r < outHeight && c >= 0 && c + count <= outWidth;
  // The maps never step back, so columns whose first and last entries lie
  // count - 1 apart are the stored columns one to one.
  if (!inside || (m_orientation & (kTranspose | kMirror)) != 0 ||
      m_columnMap[c + count - 1] - m_columnMap[c] != count - 1) {
    OutputRow(x, y, buffer, count);
    return buffer;
  }
  const int32_t row = m_orientation & kFlip ? outHeight - 1 - static_cast<int32_t>(r) : static_cast<int32_t>(r);
  return Row(m_rowMap[row]) + static_cast<size_t>(m_columnMap[c]) * m_bytesPerPixel;
}

// Each pixel of the crop's outline counts once.
uint8_t TImage::BorderColour() const {
  if (m_bytesPerPixel != 1) return 0;
  FillUnwrittenRows();
  const TSpan columns = ClampSpan(m_cropRect[0], m_cropRect[1], m_width);
  const TSpan rows = ClampSpan(m_cropRect[2], m_cropRect[3], m_height);
  std::array<int64_t, 256> counts{};
  const int32_t top = rows.start;
  const int32_t bottom = rows.start + rows.extent - 1;
  const int32_t left = columns.start;
  const int32_t right = columns.start + columns.extent - 1;
  for (int32_t i = top; i <= bottom; ++i) {
    const uint8_t* row = m_rowTable[i];
    if (i == top || i == bottom) {
      for (int32_t j = left; j <= right; ++j) ++counts[row[j]];
    } else {
      ++counts[row[left]];
      if (right != left) ++counts[row[right]];
    }
  }
  // max_element returns the first of equal maxima: the lowest index.
  return static_cast<uint8_t>(std::max_element(counts.begin(), counts.end()) - counts.begin());
}

void TImage::SortPalette() {
  if (m_bytesPerPixel != 1) return;
  FillUnwrittenRows();
  // Four tables in turn, so that runs of one index do not wait on the
  // count they just raised.
  std::array<std::array<int64_t, 256>, 4> partial{};
  for (int32_t i = 0; i < m_height; ++i) {
    const uint8_t* row = m_rowTable[i];
    int32_t j = 0;
    for (; j + 4 <= m_width; j += 4) {
      ++partial[0][row[j]];
      ++partial[1][row[j + 1]];
      ++partial[2][row[j + 2]];
      ++partial[3][row[j + 3]];
    }
    for (; j < m_width; ++j) ++partial[0][row[j]];
  }
  std::array<int64_t, 256> counts;
  for (int index = 0; index < 256; ++index)
    counts[index] = partial[0][index] + partial[1][index] + partial[2][index] + partial[3][index];
  std::array<int32_t, 256> order;
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int32_t a, int32_t b) { return counts[a] > counts[b]; });

  const std::array<TRgbQuad, 256> oldColours = m_bitmap->colours;
  std::array<uint8_t, 256> newIndex{};
  m_usageCounts.fill(0);
  int32_t kept = 0;
  const auto sameColour = [](const TRgbQuad& a, const TRgbQuad& b) {
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
  };
  for (const int32_t index : order) {
    if (counts[index] == 0) break;
    const TRgbQuad& colour = oldColours[index];
    int32_t target = 0;
    while (target < kept && !sameColour(m_bitmap->colours[target], colour)) ++target;
    if (target == kept) {
      m_bitmap->colours[target] = colour;
      ++kept;
    }
    newIndex[index] = static_cast<uint8_t>(target);
    // Merged entries add their pixels too, so the counts describe the
    // rewritten picture.
    m_usageCounts[target] += counts[index];
  }
  m_colourCount = static_cast<int16_t>(kept);
  // A palette already in order of use leaves the pixels as they are.
  bool unchanged = true;
  for (int index = 0; index < 256 && unchanged; ++index) unchanged = counts[index] == 0 || newIndex[index] == index;
  if (unchanged) return;
  for (int32_t i = 0; i < m_height; ++i) {
    uint8_t* row = m_rowTable[i];
    for (int32_t j = 0; j < m_width; ++j) row[j] = newIndex[row[j]];
  }
}
