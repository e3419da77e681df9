#include "ppm.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/image.h"
#include "filepkg/filepkg.h"

namespace {

// Rows are converted into a block of about this size and written together,
// so that a large picture goes out in few writes.
constexpr size_t kBlockBytes = size_t{1} << 20;

using TSink = std::function<bool(const uint8_t* data, size_t count)>;

bool WriteToStandardOutput(const uint8_t* data, size_t count) {
  while (count > 0) {
    const ssize_t written = ::write(STDOUT_FILENO, data, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

void IndicesToRgb(const uint8_t* source, uint8_t* target, int32_t width, const TLogPalette& palette) {
  for (int32_t x = 0; x < width; ++x, target += 3) {
    const TPaletteEntry& entry = palette.entries[source[x]];
    target[0] = entry.red;
    target[1] = entry.green;
    target[2] = entry.blue;
  }
}

void BgrToRgb(const uint8_t* source, uint8_t* target, int32_t width) {
  for (int32_t x = 0; x < width; ++x, source += 3, target += 3) {
    target[0] = source[2];
    target[1] = source[1];
    target[2] = source[0];
  }
}

// The header, then the rows in blocks of whole rows.
bool PutPicture(const TImage& image, const TSink& sink) {
  const int32_t width = image.Width();
  const int32_t height = image.Height();
  const std::string header = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  if (!sink(reinterpret_cast<const uint8_t*>(header.data()), header.size())) return false;
  TLogPalette palette;
  image.GetPalette(palette);
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  const int32_t blockRows = static_cast<int32_t>(std::max<size_t>(kBlockBytes / rowBytes, 1));
  std::vector<uint8_t> block(rowBytes * static_cast<size_t>(std::min(blockRows, height)));
  for (int32_t top = 0; top < height; top += blockRows) {
    const int32_t rows = std::min(blockRows, height - top);
    for (int32_t r = 0; r < rows; ++r) {
      uint8_t* target = block.data() + static_cast<size_t>(r) * rowBytes;
      if (image.BytesPerPixel() == 1)
        IndicesToRgb(image.Row(top + r), target, width, palette);
      else
        BgrToRgb(image.Row(top + r), target, width);
    }
    if (!sink(block.data(), rowBytes * static_cast<size_t>(rows))) return false;
  }
  return true;
}

} // namespace

bool WritePpm(const char* path, const TImage& image) {
  if (std::strcmp(path, "-") == 0) return PutPicture(image, WriteToStandardOutput);
  TPkgStream* out = PkgOpen(path, "wb");
  if (!out) return false;
  const bool written = PutPicture(image, [out](const uint8_t* data, size_t count) {
    return PkgWrite(data, 1, count, out) == count;
  });
  return PkgClose(out, written ? kPkgKeep : kPkgAbandon) == 0 && written;
}
