#pragma once
// TImage: the one in-memory picture. Readers fill it row by row, writers read
// it back row by row through its output geometry, and the viewer, printer and
// clipboard paint from it. Pixels are 1 byte (palette index) or 3 bytes
// (blue, green, red) wide, stored bottom-up in a device-independent bitmap
// whose rows are padded to 4 bytes; rowTable gives every stored row's address.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/pixel_memory.h"

// The longest side a stored picture, and an output, may have: today's
// cameras take pictures of 11648 x 8736 pixels, and the 16-bit size fields
// of GIF, PCX, TGA and JPEG files reach 65535. A picture is stored reduced
// only when memory is short (PixelMemoryFits) or a side is beyond this cap,
// never for its size alone.
inline constexpr int kMaxImageSide = 65535;

// A picture's pixel block. Its bytes start uninitialised: the image fills
// what no reader writes (see TImage).
using TPixelBlock = std::vector<uint8_t, TPixelAllocator<uint8_t>>;
// The widest file row a reader may ask RowBuffer for. Wider files are not
// readable; the cap keeps a forged width from claiming unbounded memory.
inline constexpr int kMaxFileRowPixels = 1 << 22;

// One palette entry as exchanged with the codecs.
struct TPaletteEntry {
  uint8_t red;
  uint8_t green;
  uint8_t blue;
  uint8_t flags; // always 0
};

// The logical palette exchanged between the image and the codecs.
struct TLogPalette {
  uint16_t version = 0x300;
  uint16_t count = 0;
  TPaletteEntry entries[256] = {};
};

// Colour-table entry of a device-independent bitmap, in the bitmap's own order.
struct TRgbQuad {
  uint8_t blue;
  uint8_t green;
  uint8_t red;
  uint8_t reserved;
};

// A device-independent bitmap: header fields, a 256-entry colour table and a
// bottom-up pixel block whose rows are padded to a multiple of 4 bytes. For a
// compressed bitmap (compression 1 RLE8, 2 RLE4, 3 bit fields) or a bit count
// other than 8 or 24, `bits` holds the packed data as a BMP file would after
// its headers.
struct TDib {
  int32_t width = 1;
  int32_t height = 1;
  int32_t bitCount = 8;
  int32_t compression = 0;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  int32_t colourCount = 0; // colour-table entries in use, 0 = all the bit count allows
  std::array<TRgbQuad, 256> colours{};
  std::array<uint32_t, 4> masks{}; // red, green, blue, alpha masks for compression 3
  TPixelBlock bits;

  int32_t Stride() const { return ((width * bitCount + 31) / 32) * 4; }
};

class TImage;

// Decodes a bitmap that the image cannot take over as it is (compressed, of
// another bit count, or larger than the stored limit) into the image, which it
// creates itself. The BMP module installs one; returns false when the bitmap
// could not be decoded, leaving a partial or blank picture as readers do.
using TDibDecoder = bool (*)(const TDib& dib, TImage& image);

// Every pixel of a new picture counts as its fill index, but a row is filled
// only when it has to be: most readers write every row, and clearing a large
// picture first would cost a pass over all of its memory. The image notes
// which stored rows hold their pixels. PutRow completes a row it writes only
// in part with the fill index; any other way to a row's pixels (Row, the
// output rows, Bitmap, the palette sort) fills the rows not yet written
// first. A row that a reader decoded in place and never handed to PutRow (a
// read that ended inside the row) counts as not written.
class TImage {
public:
  // References to settings owned by the settings profile: ZoomMul, ZoomDiv,
  // and the seven-entry families GIFOver..WMFOver, GIFDpi1..WMFDpi1,
  // GIFDpi2..WMFDpi2 and GIFDpi3..WMFDpi3.
  TImage(const int32_t* zoomMul, const int32_t* zoomDiv, const int32_t* dpiOverride,
         const int32_t* dpiFor1Bit, const int32_t* dpiFor8Bit, const int32_t* dpiFor24Bit);
  ~TImage();
  TImage(const TImage&) = delete;
  TImage& operator=(const TImage&) = delete;

  // Installs the decoder used by AdoptBitmap for bitmaps it cannot take over
  // directly; nullptr removes it. Without a decoder such a bitmap leaves a
  // blank 1 x 1 picture.
  static void SetDibDecoder(TDibDecoder decoder);

  // Starts a picture; fileType 0 GIF ... 6 WMF (clamped), bytesPerPixel 1 or
  // 3. Never fails: a picture wider or taller than kMaxImageSide, or one whose
  // memory cannot be had or would not fit in the memory the system has left
  // (PixelMemoryFits), is stored reduced by a larger factor than the one asked
  // for; the log then gives both sizes and HeldReduced() is true. Every pixel
  // starts as fillIndex (in every byte) and the palette as a grey ramp; the
  // view and the output geometry are reset.
  void Create(int32_t fileType, int32_t width, int32_t height, int32_t xDpi, int32_t yDpi,
              int32_t bytesPerPixel, int32_t reduction, uint8_t fillIndex);
  // Stores count pixels of file row y from column x (file coordinates, before
  // reduction). With reduction f only rows that are multiples of f are kept,
  // taking every f-th pixel. Parts outside the picture are dropped; a source
  // that is the stored row itself (see RowBuffer) is left alone.
  void PutRow(int32_t x, int32_t y, const uint8_t* pixels, int32_t count);
  // Where a reader decodes count pixels of file row y from column x before
  // calling PutRow: the stored row itself when the picture is not reduced and
  // the run lies inside it, otherwise a scratch buffer with room for count
  // pixels, valid until the next RowBuffer or Create. Returns nullptr only
  // when count exceeds kMaxFileRowPixels or its buffer cannot be allocated.
  uint8_t* RowBuffer(int32_t x, int32_t y, int32_t count);

  // 24-bit pictures keep the palette beside the pixels; 8-bit pictures set
  // the first count colour-table entries.
  void SetPalette(const TLogPalette& palette);
  void GreyPalette();
  // usage, when given, receives 256 entries: each index's share of the
  // pixels in percent (1 each for a 24-bit picture).
  void GetPalette(TLogPalette& palette, int32_t* usage = nullptr) const;
  // Replaces the picture with a bitmap built elsewhere; takes ownership. An
  // uncompressed 8- or 24-bit bitmap within the size limits becomes the
  // picture as it is; any other goes through the installed TDibDecoder.
  void AdoptBitmap(std::unique_ptr<TDib> dib);

  // Resolution of the stored picture as shown in the current orientation,
  // after the per-type settings and the reduction; at least 1.
  int32_t EffectiveXDpi() const;
  int32_t EffectiveYDpi() const;
  // The crop's size in output orientation.
  void CropSize(int32_t& width, int32_t& height) const;

  // Lays the cropped picture out in an area and rebuilds the resampling maps
  // (the layout of view_geometry.h). fit stretches the whole crop into the
  // area keeping its aspect; without it the zoom applies and autoFit shrinks
  // a picture larger than the area. Writers pass device dpi 1 and 1 and fit
  // on.
  void SetOutputGeometry(int32_t areaWidth, int32_t areaHeight, int32_t deviceXDpi,
                         int32_t deviceYDpi, int32_t orientation, bool fit, bool autoFit);
  // Fills the row and column maps from the crop for the current output size
  // and orientation. Every entry stays inside the stored picture.
  void BuildMaps();
  // (x offset, y offset, x offset + output width, y offset + output height).
  void OutputRect(int32_t& left, int32_t& top, int32_t& right, int32_t& bottom) const;
  // count pixels of output row y from output column x (count or 3 x count
  // bytes); outside the placed output the pixels are 0.
  void OutputRow(int32_t x, int32_t y, uint8_t* buffer, int32_t count) const;
  // The same pixels without a copy where there is nothing to change: when the
  // run lies inside the placed output and its columns are the stored
  // columns in order (no turn, no mirror, no scaling across), the stored row
  // is returned and buffer is left alone. Otherwise OutputRow fills buffer
  // and buffer is returned. The stored pixels must not be changed through the
  // result.
  const uint8_t* OutputRowView(int32_t x, int32_t y, uint8_t* buffer, int32_t count) const;

  // The palette index seen most often on the crop's four edges (lowest index
  // on ties); 0 for 24-bit pictures.
  uint8_t BorderColour() const;
  // Renumbers an 8-bit picture's palette to the colours actually used, most
  // frequent first, merging entries of equal colour.
  void SortPalette();

  // True when Create had to store the picture smaller than its reader asked
  // for (see Create): what is shown is then not the whole picture, and a save
  // would lose its detail.
  bool HeldReduced() const { return m_heldReduced; }

  int32_t BytesPerPixel() const { return m_bytesPerPixel; }
  int32_t ColourCount() const { return m_colourCount; }
  int32_t Width() const { return m_width; }
  int32_t Height() const { return m_height; }
  // Stored row i (0 = top), filled first when no reader has written it; rows
  // outside the picture are the scratch row.
  uint8_t* Row(int32_t i) const {
    if (i < 0 || i >= m_height) return const_cast<uint8_t*>(m_scratchRow.data());
    if (!m_rowWritten[i]) FillRow(i);
    return m_rowTable[i];
  }
  // The whole bitmap, every row filled.
  const TDib& Bitmap() const {
    FillUnwrittenRows();
    return *m_bitmap;
  }
  // Fills every stored row that no reader has written with the fill index.
  void FillUnwrittenRows() const;

  // Fields, in the order of the picture record. The view operations act on
  // the crop, centre and zoom terms directly.
  std::vector<uint8_t*> m_rowTable;      // one row address per stored row; see Row for reads
  std::vector<uint8_t> m_scratchRow;     // room for a stored row of 3-byte pixels
  std::unique_ptr<TDib> m_bitmap;
  std::array<int64_t, 256> m_usageCounts{};
  int16_t m_colourCount = 256;
  const int32_t* m_zoomMul;
  const int32_t* m_zoomDiv;
  const int32_t* m_dpiOverride;
  const int32_t* m_dpiFor1Bit;
  const int32_t* m_dpiFor8Bit;
  const int32_t* m_dpiFor24Bit;
  int32_t m_fileType = 1;
  int32_t m_width = 1;
  int32_t m_height = 1;
  int32_t m_xDpi = 1;
  int32_t m_yDpi = 1;
  int32_t m_bytesPerPixel = 1;
  int32_t m_reduction = 1;
  std::array<int32_t, 4> m_fullRect{0, 1, 0, 1};    // left, width, top, height
  std::array<int32_t, 4> m_cropRect{0, 1, 0, 1};    // left, width, top, height
  std::array<int32_t, 2> m_centre{0, 0};
  std::array<int32_t, 6> m_zoomTerms{1, 1, 1, 1, 1, 1}; // zoom, x aspect, y aspect fractions
  // For each output index, the stored row and column it shows; both hold
  // an entry inside the picture for every index below the longer output side.
  std::vector<int32_t> m_rowMap;
  std::vector<int32_t> m_columnMap;
  std::array<int32_t, 4> m_outputPlacement{0, 1, 0, 1}; // x, width, y, height
  int32_t m_orientation = 0;             // 1 transpose, 2 mirror, 4 flip
  int32_t m_directPaletteCount = 0;
  std::array<uint8_t, 256> m_directRed{};
  std::array<uint8_t, 256> m_directGreen{};
  std::array<uint8_t, 256> m_directBlue{};

private:
  void FillRow(int32_t i) const;
  void PrepareRowForRun(int32_t storedY, int32_t storedX, int32_t count);
  bool AllocateBitmap(int32_t width, int32_t height, int32_t bitCount);
  int32_t EffectiveDpi(int32_t ownDpi) const;
  void PointRowTable();
  void ResetView();
  void ResetOutput();
  void MakeBlank();
  void LogReduction(int32_t width, int32_t height, bool sideTooLong) const;

  // Decode buffer for file rows wider than the scratch row (reduced pictures).
  std::vector<uint8_t> m_wideRow;
  // Whether each stored row holds its pixels (rows beyond the picture always
  // do: they are the scratch row), and how many rows do not yet. Reading a
  // row fills it, hence mutable.
  mutable std::vector<uint8_t> m_rowWritten;
  mutable int32_t m_unwrittenRows = 0;
  uint8_t m_fillIndex = 0;
  bool m_heldReduced = false;
};
