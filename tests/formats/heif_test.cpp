// The HEIF reader against HEIC and AVIF files made by heif-enc (lossy,
// lossless, with alpha, with more than 8 bits) and libheif's example,
// decoded by heif-convert; the EXIF description; and short, damaged and
// forged files, among them one whose primary picture is missing.
#include "formats/heif.h"

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

const std::string kPeerHeif = std::string(ZER_TEST_DATA) + "/peer/heif/";

bool LogHas(const std::string& text) {
  const auto messages = LoggedMessages();
  return std::any_of(messages.begin(), messages.end(),
                     [&](const std::string& m) { return m.find(text) != std::string::npos; });
}

// heif-convert's reading of the primary picture, through ImageMagick.
TRgbPicture HeifConvert(const std::string& path, const std::string& convertOptions = "") {
  TTempDir dir;
  Run("heif-convert '" + path + "' '" + dir / "out.png" + "' >/dev/null 2>&1");
  return PeerDecode(dir / "out.png", convertOptions);
}

// The box of the given type: the offset of its first data byte.
size_t BoxData(const TByteString& bytes, const char* type) {
  const auto at = std::search(bytes.begin(), bytes.end(), type, type + 4);
  return at == bytes.end() ? 0 : static_cast<size_t>(at - bytes.begin()) + 4;
}

void Put32(TByteString& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

class HeifFiles : public peerfiles::TPeerFilesTest<HeifFiles> {
public:
  static constexpr const char* kSourceCommand = "convert -seed 3 -size 97x61 plasma:fractal -depth 8";

  // heif-enc reads PNG files; an 8-bit one gives 8-bit samples.
  static std::string Encode(const std::string& name, const std::string& options, const std::string& extra = "") {
    return Make(name, "convert IN " + extra + " -depth 8 png:OUT.png && heif-enc " + options + " OUT.png -o OUT");
  }
};

TEST_F(HeifFiles, FilesDecodeLikeHeifConvert) {
  struct TCase {
    const char* name;
    const char* options;
  };
  const TCase cases[] = {
      {"lossy.heic", "-q 50"},
      {"lossless.heic", "-L"},
      {"lossy.avif", "-A -q 50"},
      {"lossless.avif", "-A -L"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Encode(c.name, c.options);
    const auto read = ReadFile(ReadHeif, path);
    EXPECT_EQ(read->outcome, TReadOutcome::Complete);
    EXPECT_EQ(CompareRgb(HeifConvert(path), ImageToRgb(read->image)), "");
  }
  const auto example = ReadFile(ReadHeif, kPeerHeif + "example.avif");
  EXPECT_EQ(CompareRgb(HeifConvert(kPeerHeif + "example.avif"), ImageToRgb(example->image)), "");
  EXPECT_TRUE(LoggedMessages().empty());
}

TEST_F(HeifFiles, AlphaIsLaidOverTheBackgroundColour) {
  TProfile options;
  options.Set(IntKey::BackgroundRed, 10);
  options.Set(IntKey::BackgroundGreen, 200);
  options.Set(IntKey::BackgroundBlue, 30);
  const std::string alpha = "\\( -size 61x97 gradient:white-black -rotate 90 \\) -alpha off -compose copyopacity -composite";
  const std::pair<const char*, const char*> files[] = {{"alpha.heic", "-q 90"}, {"alpha.avif", "-A -q 90"}};
  for (const auto& [name, encoding] : files) {
    SCOPED_TRACE(name);
    const std::string path = Encode(name, encoding, alpha);
    const auto read = ReadFile(ReadHeif, path, options);
    EXPECT_EQ(read->outcome, TReadOutcome::Complete);
    EXPECT_EQ(CompareRgb(HeifConvert(path, "-background 'rgb(10,200,30)' -flatten"), ImageToRgb(read->image), 1), "");
  }
}

// Samples of 10 bits are cut to 8 (ImageMagick rounds them).
TEST_F(HeifFiles, DeepSamplesAreCutTo8Bits) {
  const std::string path = Make("deep.heic", "convert IN -depth 16 png:OUT.png && heif-enc -q 60 OUT.png -o OUT");
  const auto read = ReadFile(ReadHeif, path);
  EXPECT_EQ(read->outcome, TReadOutcome::Complete);
  EXPECT_EQ(CompareRgb(HeifConvert(path), ImageToRgb(read->image), 1), "");
}

TEST_F(HeifFiles, ExifDescriptionBecomesTheComment) {
  const std::string path = Encode("described.heic", "-q 50");
  ASSERT_EQ(testsupport::Run("exiftool -q -overwrite_original -ImageDescription='a plasma' '" + path + "'"), 0);
  ReadFile(ReadHeif, path);
  EXPECT_EQ(CommentGetText(), "a plasma");
}

// Short and damaged files read without a fault; a file whose primary
// picture is missing, or whose picture is beyond the size limit, is refused
// with the library's reason in the log.
TEST_F(HeifFiles, BadFilesFailCleanly) {
  const TByteString whole = ReadFileBytes(Encode("small.heic", "-q 30", "-crop 29x17+0+0"));
  for (size_t length = 0; length < whole.size(); length += 3) {
    ReadBytes(ReadHeif, TByteString(whole.begin(), whole.begin() + length));
  }
  for (size_t at = 0; at < whole.size(); at += 5) {
    TByteString damaged = whole;
    damaged[at] ^= 0xA5;
    ReadBytes(ReadHeif, damaged);
  }
  ReadFile(ReadHeif, kPeerHeif + "region-mask-missing-refs.heic");
  ReadFile(ReadHeif, kPeerHeif + "simple_osm_tile_alpha.avif");

  // pitm: version and flags (4), the primary item's id (16 bits).
  TByteString noPrimary = whole;
  const size_t pitm = BoxData(noPrimary, "pitm");
  ASSERT_NE(pitm, 0u);
  noPrimary[pitm + 4] = 0x77;
  noPrimary[pitm + 5] = 0x77;
  // ispe: version and flags (4), width (4), height (4).
  TByteString huge = whole;
  const size_t ispe = BoxData(huge, "ispe");
  ASSERT_NE(ispe, 0u);
  Put32(huge, ispe + 4, 100000);
  Put32(huge, ispe + 8, 100000);
  for (const TByteString* file : {&noPrimary, &huge}) {
    ClearLoggedMessages();
    const auto read = ReadBytes(ReadHeif, *file);
    EXPECT_EQ(read->outcome, TReadOutcome::Failed);
    EXPECT_EQ(read->image.Width(), 1);
    EXPECT_TRUE(LogHas("HEIF Error: "));
  }
}

TEST(HeifReader, StopEndsReadingAsStopped) {
  TStopAfter stop(1);
  EXPECT_EQ(ReadFile(ReadHeif, kPeerHeif + "example.avif")->outcome, TReadOutcome::Stopped);
}

} // namespace
