#pragma once
// Helpers shared by the BMP, PCX and TGA tests: reading a file or a byte
// string with one of our readers, writing with one of our writers through a
// prepared ditherer, a progress hook that asks to stop, and a little-endian
// byte builder for handmade fixtures.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "app/profile.h"
#include "core/dither.h"
#include "core/image.h"
#include "core/progress.h"
#include "filepkg/filepkg.h"
#include "support/image_fixture.h"
#include "support/peer.h"

namespace rlecodecs {

using TReader = void (*)(TPkgStream*, TImage&, const TProfile&);
using TWriter = int (*)(const char*, TImage&, const TProfile&, TDither*);
using testsupport::TTestImage;

// A picture as the reader entry leaves it before calling a reader: a blank
// 1 x 1 picture, recognisable by its size.
inline std::unique_ptr<TTestImage> BlankImage() {
  auto holder = std::make_unique<TTestImage>();
  holder->image.Create(1, 1, 1, 1, 1, 1, 1, 1);
  return holder;
}

inline std::unique_ptr<TTestImage> ReadFile(TReader reader, const std::string& path,
                                            const TProfile& options = TProfile()) {
  auto holder = BlankImage();
  TPkgStream* stream = PkgOpen(path.c_str(), "rb");
  EXPECT_NE(stream, nullptr) << path;
  if (stream) {
    reader(stream, holder->image, options);
    PkgClose(stream, 0);
  }
  return holder;
}

// Reads bytes held in a scratch stream, as a reader meets data unpacked from
// an archive.
inline std::unique_ptr<TTestImage> ReadBytes(TReader reader, const std::vector<uint8_t>& bytes,
                                             const TProfile& options = TProfile()) {
  auto holder = BlankImage();
  TPkgStream* stream = PkgTempStream(32768, 2);
  EXPECT_NE(stream, nullptr);
  if (!stream) return holder;
  if (!bytes.empty()) {
    EXPECT_EQ(PkgWrite(bytes.data(), 1, bytes.size(), stream), bytes.size());
  }
  EXPECT_EQ(PkgSeek(stream, 0, 0), 0);
  reader(stream, holder->image, options);
  PkgClose(stream, 0);
  return holder;
}

// Writes through a ditherer prepared as the save command prepares it: the
// picture's palette with neutral tone.
inline int WriteFile(TWriter writer, TImage& image, const std::string& path, const TProfile& options = TProfile()) {
  TDither ditherer;
  TLogPalette palette;
  image.GetPalette(palette);
  ditherer.SetSourcePalette(image.BytesPerPixel() == 1 ? &palette : nullptr, TDitherTarget::Display,
                            TColourMode::Colour, TToneSettings{});
  return writer(path.c_str(), image, options, &ditherer);
}

// Row r of the picture as index bytes (8-bit pictures).
inline std::vector<uint8_t> IndexRow(const TImage& image, int32_t r) {
  const uint8_t* row = image.Row(r);
  return std::vector<uint8_t>(row, row + image.Width() * image.BytesPerPixel());
}

// Answers "stop" from the given call on while installed.
class TStopAfter {
public:
  explicit TStopAfter(int calls) {
    s_left = calls;
    SetProgressHook(&kHook);
  }
  ~TStopAfter() { SetProgressHook(nullptr); }

private:
  static int Progress(int) { return --s_left <= 0 ? 1 : 0; }
  static void Nothing() {}
  static inline int s_left = 0;
  static constexpr TProgressHook kHook{Nothing, Progress, Nothing};
};

// Little-endian byte strings for handmade files.
struct TBytes {
  std::vector<uint8_t> bytes;

  TBytes& U8(std::initializer_list<int> values) {
    for (int v : values) bytes.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  TBytes& U16(uint32_t v) { return U8({int(v & 0xFF), int((v >> 8) & 0xFF)}); }
  TBytes& U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
  TBytes& Repeat(int value, size_t count) {
    bytes.insert(bytes.end(), count, static_cast<uint8_t>(value));
    return *this;
  }
};

// Every prefix of a file must read without a fault and without touching
// memory outside the picture; the sanitizer build checks the latter.
inline void ReadEveryPrefix(TReader reader, const std::vector<uint8_t>& bytes) {
  for (size_t length = 0; length <= bytes.size(); ++length) {
    ReadBytes(reader, std::vector<uint8_t>(bytes.begin(), bytes.begin() + length));
  }
}

} // namespace rlecodecs
