// The WebP reader against files made by cwebp, img2webp and webpmux,
// decoded by dwebp (lossy and lossless, reduced size) and by ImageMagick
// where alpha meets the background; animations; the EXIF description; and
// short, damaged and forged files.
#include "formats/webp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "settings/profile.h"
#include "core/image.h"
#include "core/log_sink.h"
#include "formats/codec_test_fixture.h"
#include "formats/comment_sink.h"
#include "formats/peer_files_fixture.h"
#include "support/peer.h"

namespace {

using namespace testsupport;
using namespace rlecodecs;
using TByteString = std::vector<uint8_t>;

const std::string kPeerWebp = std::string(ZER_TEST_DATA) + "/peer/webp/";

TRgbPicture Dwebp(const std::string& path, const std::string& options = "") {
  TTempDir dir;
  Run("dwebp -quiet " + options + " '" + path + "' -ppm -o '" + dir / "out.ppm" + "'");
  return ReadPnm(dir / "out.ppm");
}

bool LogHas(const std::string& text) {
  const auto messages = LoggedMessages();
  return std::any_of(messages.begin(), messages.end(),
                     [&](const std::string& m) { return m.find(text) != std::string::npos; });
}

// A detailed picture of odd size, so that partial macroblocks and
// subsampled edges are exercised.
class WebpFiles : public peerfiles::TPeerFilesTest<WebpFiles> {
public:
  static constexpr const char* kSourceCommand = "convert -seed 3 -size 97x61 plasma:fractal";

  // The source with an opacity falling from left to right.
  static std::string TransparentSource() {
    return Make("alpha.png", "convert IN \\( -size 61x97 gradient:white-black -rotate 90 \\) -alpha off "
                             "-compose copyopacity -composite OUT");
  }
};

TEST_F(WebpFiles, FilesDecodeLikeDwebp) {
  struct TCase {
    const char* name;
    const char* command;
  };
  const TCase cases[] = {
      {"lossy", "cwebp -quiet -q 80 IN -o OUT"},
      {"lossy-low", "cwebp -quiet -q 5 -sns 100 IN -o OUT"},
      {"lossless", "cwebp -quiet -lossless IN -o OUT"},
      {"near-lossless", "cwebp -quiet -near_lossless 40 IN -o OUT"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Make(std::string(c.name) + ".webp", c.command);
    const auto read = ReadFile(ReadWebp, path);
    EXPECT_EQ(read->outcome, TReadOutcome::Complete);
    EXPECT_EQ(read->image.BytesPerPixel(), 3);
    EXPECT_EQ(CompareRgb(Dwebp(path), ImageToRgb(read->image)), "");
  }
  const auto lossless = ReadFile(ReadWebp, *s_dir / "lossless.webp");
  EXPECT_EQ(CompareRgb(ReadPnm(Source()), ImageToRgb(lossless->image)), "");
  const auto libraryFile = ReadFile(ReadWebp, kPeerWebp + "test.webp");
  EXPECT_EQ(CompareRgb(Dwebp(kPeerWebp + "test.webp"), ImageToRgb(libraryFile->image)), "");
  EXPECT_TRUE(LoggedMessages().empty());
}

TEST_F(WebpFiles, AlphaIsLaidOverTheBackgroundColour) {
  const std::string source = TransparentSource();
  TProfile options;
  options.Set(IntKey::BackgroundRed, 10);
  options.Set(IntKey::BackgroundGreen, 200);
  options.Set(IntKey::BackgroundBlue, 30);
  for (const char* command : {"cwebp -quiet -lossless", "cwebp -quiet -q 90 -alpha_q 100"}) {
    SCOPED_TRACE(command);
    const std::string path = *s_dir / "alpha.webp";
    ASSERT_EQ(testsupport::Run(std::string(command) + " '" + source + "' -o '" + path + "'"), 0);
    const auto read = ReadFile(ReadWebp, path, options);
    EXPECT_EQ(read->outcome, TReadOutcome::Complete);
    // ImageMagick mixes with its own rounding.
    EXPECT_EQ(CompareRgb(PeerDecode(path, "-background 'rgb(10,200,30)' -flatten"), ImageToRgb(read->image), 1), "");
  }
}

TEST_F(WebpFiles, AnimationGivesItsFirstFrame) {
  const std::string second = Make("second.ppm", "convert IN -negate OUT");
  const std::string path = Make("animation.webp", "img2webp -lossless -d 100 IN " + second + " -o OUT");
  const auto read = ReadFile(ReadWebp, path);
  EXPECT_EQ(read->outcome, TReadOutcome::Complete);
  EXPECT_EQ(CompareRgb(ReadPnm(Source()), ImageToRgb(read->image)), "");
}

TEST_F(WebpFiles, ExifDescriptionBecomesTheComment) {
  const std::string jpeg = Make("described.jpg", "convert IN OUT");
  ASSERT_EQ(testsupport::Run("exiftool -q -overwrite_original -ImageDescription='a plasma' '" + jpeg + "'"), 0);
  const std::string exif = Make("exif.bin", "exiftool -b -Exif " + jpeg + " >OUT");
  const std::string plain = Make("plain.webp", "cwebp -quiet IN -o OUT");
  const std::string path = Make("described.webp", "webpmux -set exif " + exif + " " + plain + " -o OUT");
  ReadFile(ReadWebp, path);
  EXPECT_EQ(CommentGetText(), "a plasma");
}

// QuickLook decodes at the reduced size through the library's scaler, as
// dwebp's resizing does.
TEST_F(WebpFiles, QuickLookDecodesAtTheReducedSize) {
  const std::string path = Make("large.webp", "convert -size 300x200 gradient:red-blue ppm:- | cwebp -quiet -o OUT -- -");
  TProfile options;
  options.Set(IntKey::QuickLook, 1); // 300 / 128 = 2
  const auto read = ReadFile(ReadWebp, path, options);
  EXPECT_EQ(read->image.Width(), 150);
  EXPECT_EQ(read->image.Height(), 100);
  EXPECT_EQ(CompareRgb(Dwebp(path, "-resize 150 100"), ImageToRgb(read->image)), "");
}

// Every prefix and many damaged copies read without a fault; a file cut in
// its picture data keeps the rows decoded and says why.
TEST_F(WebpFiles, ShortAndDamagedFilesFailCleanly) {
  for (const char* options : {"-q 80", "-lossless"}) {
    SCOPED_TRACE(options);
    const std::string path =
        Make("damaged.webp", std::string("convert IN -crop 29x17+0+0 ppm:- | cwebp -quiet ") + options + " -o OUT -- -");
    const TByteString whole = ReadFileBytes(path);
    ReadEveryPrefix(ReadWebp, whole);
    for (size_t at = 12; at < whole.size(); at += 7) {
      TByteString damaged = whole;
      damaged[at] ^= 0xA5;
      ReadBytes(ReadWebp, damaged);
    }
    ClearLoggedMessages();
    const auto cut = ReadBytes(ReadWebp, TByteString(whole.begin(), whole.begin() + whole.size() * 3 / 4));
    EXPECT_EQ(cut->outcome, TReadOutcome::Partial);
    EXPECT_TRUE(LogHas("WebP Error: "));
  }
  EXPECT_EQ(ReadBytes(ReadWebp, {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'E', 'B', 'P'})->outcome, TReadOutcome::Failed);
}

// Headers declaring the largest pictures the format allows over a few bytes
// of data.
TEST(WebpReader, ForgedLargestSizeEndsWithTheData) {
  TBytes file;
  file.U8({'R', 'I', 'F', 'F'}).U32(4 + 8 + 25).U8({'W', 'E', 'B', 'P', 'V', 'P', '8', 'L'}).U32(25);
  // Signature 2F hex, then 14 bits width - 1, 14 bits height - 1, no alpha,
  // version 0.
  file.U8({0x2F}).U32(0x3FFF | 0x3FFFu << 14).Repeat(0x55, 20);
  const auto read = ReadBytes(ReadWebp, file.bytes);
  EXPECT_TRUE(read->outcome == TReadOutcome::Partial || read->outcome == TReadOutcome::Failed);
  EXPECT_LE(read->image.Width(), kMaxImageSide);

  // An animation on a canvas of 16384 x 16384 pixels: VP8X with the
  // animation flag (02 hex), canvas width - 1 and height - 1 in 24 bits each,
  // then ANIM (background colour, loop count). With less memory to spare
  // than its canvases need, it is refused before any canvas is composed.
  const TPictureBudget budget(int64_t{1} << 30);
  TBytes animation;
  animation.U8({'R', 'I', 'F', 'F'}).U32(4 + 18 + 14).U8({'W', 'E', 'B', 'P', 'V', 'P', '8', 'X'}).U32(10);
  animation.U8({0x02, 0, 0, 0, 0xFF, 0x3F, 0, 0xFF, 0x3F, 0});
  animation.U8({'A', 'N', 'I', 'M'}).U32(6).U32(0).U16(0);
  ClearLoggedMessages();
  EXPECT_EQ(ReadBytes(ReadWebp, animation.bytes)->outcome, TReadOutcome::Failed);
  EXPECT_TRUE(LogHas("16384 x 16384"));
}

TEST(WebpReader, StopEndsReadingAsStopped) {
  TStopAfter stop(2);
  EXPECT_EQ(ReadFile(ReadWebp, kPeerWebp + "test.webp")->outcome, TReadOutcome::Stopped);
}

} // namespace
