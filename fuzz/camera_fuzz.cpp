// Camera check: camera files need 15680 bytes before their data, so the
// target builds them. Input byte 0 chooses the camera (modulo 6, the last
// choice adding no identification at all); byte 1 the settings (bit 0
// QuickLook, bits 1-2 the colour key, bit 3 the histogram key, bits 4-7 the
// gamma key) and the layout flags (bit 1 the DC120's raw flag, bit 2 the
// DC25's high-resolution flag); the rest is both the thumbnail area of the
// header and the data after it.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "formats/camera.h"
#include "support/fuzz_reader.h"

namespace {

constexpr size_t kThumbnailArea = 1024;

void PutIdentification(std::vector<uint8_t>& file, uint8_t camera) {
  struct TMark {
    size_t offset;
    const char* text;
    size_t length;
  };
  static const TMark kMarks[] = {
      {470, "Kodak DC120 ZOOM Digital Camera", 32}, {458, "Kodak Digital Science DC50 Zoom Camera", 39},
      {330, "Digital Camera 40", 18},               {386, "KODAK DC25 DIGITAL CAMERA", 26},
      {6, "HEAPCCDR", 8},
  };
  if (camera < std::size(kMarks)) std::memcpy(file.data() + kMarks[camera].offset, kMarks[camera].text, kMarks[camera].length);
}

// The settings of the current input; the shared body's own settings are the
// defaults, which this target varies.
TProfile g_options;

void ChooseSettings(uint8_t settings) {
  g_options.Set(IntKey::QuickLook, settings & 1);
  for (IntKey key : {IntKey::EnableKDCColor, IntKey::EnableK25Color, IntKey::EnableCRWColor})
    g_options.Set(key, (settings >> 1) & 3);
  for (IntKey key : {IntKey::EnableKDCHisto, IntKey::EnableK25Histo, IntKey::EnableCRWHisto})
    g_options.Set(key, (settings >> 3) & 1);
  for (IntKey key : {IntKey::EnableKDCGamma, IntKey::EnableK25Gamma, IntKey::EnableCRWGamma})
    g_options.Set(key, 1 + (settings >> 4) % 9);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > fuzzsupport::kMaxInput) return 0;
  const uint8_t camera = data[0] % 6;
  const uint8_t settings = data[1];
  std::vector<uint8_t> file(kCameraHeaderSize, 0);
  const size_t payload = size - 2;
  std::memcpy(file.data() + kThumbnailArea, data + 2, std::min(payload, kCameraHeaderSize - kThumbnailArea));
  PutIdentification(file, camera);
  file[707] = (settings >> 1) & 1;
  file[551] = (settings & 4) ? 0x40 : 0;
  file.insert(file.end(), data + 2, data + size);
  ChooseSettings(settings);
  // The built file may exceed the shared body's input limit by its header.
  return fuzzsupport::ReadThroughStream(file.data(), std::min(file.size(), fuzzsupport::kMaxInput),
                                        [](TPkgStream* stream, TImage& image, const TProfile&) {
                                          ReadCamera(stream, "fuzz.kdc", image, g_options);
                                        });
}
