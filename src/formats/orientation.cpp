#include "formats/orientation.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "core/image.h"

namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kDescriptionTag = 0x010E;
constexpr uint16_t kTypeAscii = 2;
constexpr uint16_t kTypeShort = 3;
constexpr size_t kEntrySize = 12;
constexpr size_t kInlineValueBytes = 4;

// The TIFF structure inside an EXIF block, read in its own byte order with
// every access checked against its end.
class TExifView {
public:
  TExifView(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  // False when the block does not start with a byte order mark and 42.
  bool Open() {
    if (m_size >= 6 && std::memcmp(m_data, "Exif\0\0", 6) == 0) {
      m_data += 6;
      m_size -= 6;
    }
    if (m_size < 8) return false;
    if (std::memcmp(m_data, "II", 2) == 0)
      m_bigEndian = false;
    else if (std::memcmp(m_data, "MM", 2) == 0)
      m_bigEndian = true;
    else
      return false;
    return U16(2) == 42;
  }
  bool Holds(size_t offset, size_t count) const { return offset <= m_size && count <= m_size - offset; }
  uint16_t U16(size_t at) const {
    if (!Holds(at, 2)) return 0;
    return m_bigEndian ? static_cast<uint16_t>(m_data[at] << 8 | m_data[at + 1])
                       : static_cast<uint16_t>(m_data[at] | m_data[at + 1] << 8);
  }
  uint32_t U32(size_t at) const {
    const uint32_t first = U16(at);
    const uint32_t second = U16(at + 2);
    return m_bigEndian ? first << 16 | second : second << 16 | first;
  }
  const uint8_t* At(size_t offset) const { return m_data + offset; }

private:
  const uint8_t* m_data;
  size_t m_size;
  bool m_bigEndian = false;
};

// The text of an ASCII entry, up to its first zero byte.
std::string AsciiValue(const TExifView& view, size_t entry) {
  const uint32_t count = view.U32(entry + 4);
  const size_t at = count <= kInlineValueBytes ? entry + 8 : view.U32(entry + 8);
  if (!view.Holds(at, count)) return {};
  const auto* text = reinterpret_cast<const char*>(view.At(at));
  return std::string(text, strnlen(text, count));
}

} // namespace

TExifFacts ReadExifFacts(const uint8_t* data, size_t size) {
  TExifFacts facts;
  TExifView view(data, size);
  if (!data || !view.Open()) return facts;
  const size_t directory = view.U32(4);
  const uint16_t count = view.U16(directory);
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = directory + 2 + i * kEntrySize;
    if (!view.Holds(entry, kEntrySize)) break;
    const uint16_t tag = view.U16(entry);
    const uint16_t type = view.U16(entry + 2);
    if (tag == kOrientationTag && type == kTypeShort) {
      const uint16_t value = view.U16(entry + 8);
      facts.orientation = value >= 1 && value <= 8 ? value : 0;
    } else if (tag == kDescriptionTag && type == kTypeAscii) {
      facts.description = AsciiValue(view, entry);
    }
  }
  return facts;
}

namespace {

// Where the pixel at (x, y) of the turned picture comes from in the stored
// picture of width by height pixels.
struct TSourceMap {
  int32_t orientation;
  int32_t width;
  int32_t height;

  void Locate(int32_t x, int32_t y, int32_t& sourceX, int32_t& sourceY) const {
    switch (orientation) {
    case 2: sourceX = width - 1 - x, sourceY = y; break;
    case 3: sourceX = width - 1 - x, sourceY = height - 1 - y; break;
    case 4: sourceX = x, sourceY = height - 1 - y; break;
    case 5: sourceX = y, sourceY = x; break;
    case 6: sourceX = y, sourceY = height - 1 - x; break;
    case 7: sourceX = width - 1 - y, sourceY = height - 1 - x; break;
    case 8: sourceX = width - 1 - y, sourceY = x; break;
    default: sourceX = x, sourceY = y; break;
    }
  }
};

} // namespace

void ApplyOrientation(TImage& image, int32_t orientation) {
  if (orientation < 2 || orientation > 8) return;
  const int32_t width = image.Width();
  const int32_t height = image.Height();
  const int32_t bytes = image.BytesPerPixel();
  const size_t rowBytes = static_cast<size_t>(width) * bytes;
  // The stored rows, top first, are copied out because the turned picture
  // replaces them.
  std::vector<uint8_t> source(rowBytes * height);
  for (int32_t y = 0; y < height; ++y) std::memcpy(&source[y * rowBytes], image.Row(y), rowBytes);
  TLogPalette palette;
  image.GetPalette(palette);
  const int32_t reduction = image.m_reduction;
  const bool transposed = orientation >= 5;
  const int32_t newWidth = transposed ? height : width;
  const int32_t newHeight = transposed ? width : height;
  image.Create(image.m_fileType, newWidth, newHeight, transposed ? image.m_yDpi : image.m_xDpi,
               transposed ? image.m_xDpi : image.m_yDpi, bytes, 1, 0);
  image.SetPalette(palette);
  const TSourceMap map{orientation, width, height};
  for (int32_t y = 0; y < newHeight; ++y) {
    uint8_t* row = image.RowBuffer(0, y, newWidth);
    if (!row) break;
    for (int32_t x = 0; x < newWidth; ++x) {
      int32_t sourceX = 0, sourceY = 0;
      map.Locate(x, y, sourceX, sourceY);
      std::memcpy(row + static_cast<size_t>(x) * bytes, &source[sourceY * rowBytes + sourceX * bytes], bytes);
    }
    image.PutRow(0, y, row, newWidth);
  }
  // The picture stands for the file it was read from: a reduced one keeps
  // its reduction on top of any the new picture needed.
  image.m_reduction *= reduction;
}
