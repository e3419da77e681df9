#pragma once
// Helpers shared by the codec tests: reading a file or a byte string with
// one of our readers, writing with one of our writers through a prepared
// ditherer, the failed-write checks, a progress hook that asks to stop, and a
// little-endian byte builder for handmade fixtures.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "settings/profile.h"
#include "core/dither.h"
#include "core/image.h"
#include "core/progress.h"
#include "filepkg/filepkg.h"
#include "formats/bmp.h"
#include "formats/codec_results.h"
#include "support/image_fixture.h"
#include "support/peer.h"

namespace rlecodecs {

using TReader = TReadOutcome (*)(TPkgStream*, TImage&, const TProfile&);
using TWriter = int (*)(const char*, TImage&, const TProfile&, TDither*);
using testsupport::TTestImage;

// A picture a reader filled, with the reader's answer.
struct TReadImage : TTestImage {
  TReadOutcome outcome = TReadOutcome::CannotOpen;
};

// A picture as the reader entry leaves it before calling a reader: a blank
// 1 x 1 picture, recognisable by its size.
inline std::unique_ptr<TReadImage> BlankImage() {
  auto holder = std::make_unique<TReadImage>();
  holder->image.Create(1, 1, 1, 1, 1, 1, 1, 1);
  return holder;
}

inline std::unique_ptr<TReadImage> ReadFile(TReader reader, const std::string& path,
                                            const TProfile& options = TProfile()) {
  auto holder = BlankImage();
  TPkgStream* stream = PkgOpen(path.c_str(), "rb");
  EXPECT_NE(stream, nullptr) << path;
  if (stream) {
    holder->outcome = reader(stream, holder->image, options);
    PkgClose(stream, 0);
  }
  return holder;
}

// Reads bytes held in a scratch stream, as a reader meets data unpacked from
// an archive.
inline std::unique_ptr<TReadImage> ReadBytes(TReader reader, const std::vector<uint8_t>& bytes,
                                             const TProfile& options = TProfile()) {
  auto holder = BlankImage();
  TPkgStream* stream = PkgTempStream(32768, 2);
  EXPECT_NE(stream, nullptr);
  if (!stream) return holder;
  if (!bytes.empty()) {
    EXPECT_EQ(PkgWrite(bytes.data(), 1, bytes.size(), stream), bytes.size());
  }
  EXPECT_EQ(PkgSeek(stream, 0, 0), 0);
  holder->outcome = reader(stream, holder->image, options);
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

// Runs a peer command in which OUT stands for the file it makes at path;
// returns the file's bytes, none when the command failed.
inline std::vector<uint8_t> MakePeerFile(std::string command, const std::string& path) {
  command.replace(command.find("OUT"), 3, "'" + path + "'");
  if (testsupport::Run(command + " 2>/dev/null") != 0) return {};
  return testsupport::ReadFileBytes(path);
}

// Every second pixel of every second row, as nearest-neighbour scaling to
// half size takes them.
inline testsupport::TRgbPicture HalfSize(const testsupport::TRgbPicture& picture) {
  testsupport::TRgbPicture half;
  half.width = picture.width / 2;
  half.height = picture.height / 2;
  for (int y = 0; y < half.height; ++y) {
    for (int x = 0; x < half.width; ++x) {
      const uint8_t* p = &picture.rgb[(static_cast<size_t>(2 * y) * picture.width + 2 * x) * 3];
      half.rgb.insert(half.rgb.end(), p, p + 3);
    }
  }
  return half;
}

// Saves the rose, read from files ImageMagick made, as an 8-bit and a 24-bit
// picture: as is, turned a quarter, flipped, and at half width. ImageMagick's
// reading of each file must match its own transformation of the source.
// checkFile sees every written file with the picture's bytes per pixel.
inline void ExpectPeerReadsBackWhatWeWrite(
    TWriter writer, const std::string& extension,
    const std::function<void(const std::vector<uint8_t>&, int32_t)>& checkFile) {
  struct TCase {
    const char* name;
    int rotate;
    int outputWidth;
    const char* peerTransform; // none: half size
  };
  const TCase cases[] = {
      {"as is", 0, 0, ""},
      {"quarter turn", 3, 0, "-rotate 90"},
      {"flipped", 4, 0, "-flip"},
      {"half width", 0, 35, nullptr},
  };
  testsupport::TTempDir dir;
  for (const char* source : {"-colors 256 -type palette -compress none bmp3:", "bmp3:"}) {
    const std::string sourcePath = dir / "source.bmp";
    ASSERT_EQ(testsupport::Run(std::string("convert rose: ") + source + "'" + sourcePath + "'"), 0);
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(source) + c.name);
      auto image = ReadFile(ReadBmp, sourcePath);
      TProfile options;
      options.Set(IntKey::Rotate, c.rotate);
      options.Set(IntKey::OutputWidth, c.outputWidth);
      const std::string out = dir / ("out." + extension);
      ASSERT_EQ(WriteFile(writer, image->image, out, options), 0);
      const testsupport::TRgbPicture expected = c.peerTransform
                                                    ? testsupport::PeerDecode(sourcePath, c.peerTransform)
                                                    : HalfSize(testsupport::PeerDecode(sourcePath));
      EXPECT_EQ(testsupport::CompareRgb(expected, testsupport::PeerDecode(out)), "");
      checkFile(testsupport::ReadFileBytes(out), image->image.BytesPerPixel());
    }
  }
}

// A 24-bit picture of 400 x 300 pixels that vary enough for every writer's
// file of it to take tens of kilobytes.
inline void MakeVariedPicture(TImage& image) {
  constexpr int32_t kWidth = 400;
  constexpr int32_t kHeight = 300;
  image.Create(1, kWidth, kHeight, 1, 1, 3, 1, 0);
  for (int32_t y = 0; y < kHeight; ++y) {
    uint8_t* row = image.RowBuffer(0, y, kWidth);
    for (int32_t x = 0; x < 3 * kWidth; ++x) row[x] = static_cast<uint8_t>((x * 7 + y * 13) ^ (x * y));
    image.PutRow(0, y, row, kWidth);
  }
}

// A write the user stops answers that it was stopped; a write the file
// system refuses part-way and a file that cannot be created fail. None
// leaves a file behind.
inline void ExpectFailedWritesLeaveNoFile(TWriter writer) {
  TTestImage holder;
  MakeVariedPicture(holder.image);
  testsupport::TTempDir dir;
  {
    TStopAfter stop(5);
    EXPECT_EQ(WriteFile(writer, holder.image, dir / "stopped"), kSaveStopped);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "stopped"));

  // A child process whose files may not grow beyond 4 KiB reports through
  // its exit status whether the writer failed.
  const std::string limited = dir / "limited";
  EXPECT_EQ(testsupport::RunWithFileSizeLimit(4096, [&] { return WriteFile(writer, holder.image, limited) == kSaveFailed ? 0 : 1; }), 0)
      << "a short file was reported as saved";
  EXPECT_FALSE(std::filesystem::exists(limited));

  // A plain file where a folder should be.
  testsupport::WriteFileBytes(dir / "plain", std::string("x"));
  EXPECT_EQ(WriteFile(writer, holder.image, dir / "plain/out"), kSaveFailed);
}

} // namespace rlecodecs
