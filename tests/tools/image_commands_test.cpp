// zerbalin-tool decode and convert, checked against ImageMagick's reading of
// the same files.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "support/peer.h"
#include "tools/tool_runner.h"

using namespace testsupport;

namespace {

class ImageCommandsTest : public ::testing::Test {
protected:
  void SetUp() override {
    // A 24-bit picture of 200 colours: few enough for the palette formats to
    // keep every colour, varied enough to show a misplaced pixel.
    m_source = m_dir / "source.bmp";
    ASSERT_EQ(testsupport::Run("convert -size 37x23 plasma:red-blue -seed 5 -colors 200 -type TrueColor BMP3:'" + m_source +
                  "' 2>/dev/null"),
              0);
    m_expected = PeerDecode(m_source);
    ASSERT_EQ(m_expected.width, 37);
  }

  std::string Tool(const std::string& arguments) const { return m_user.Command(arguments); }

  tooltest::TToolUser m_user;
  TTempDir m_dir;
  std::string m_source;
  TRgbPicture m_expected;
};

TEST_F(ImageCommandsTest, DecodePrintsTheFormatAndWritesThePicture) {
  const std::string out = m_dir / "out.ppm";
  EXPECT_EQ(RunOutput(Tool("decode '" + m_source + "' '" + out + "'")), "bmp\n");
  EXPECT_EQ(CompareRgb(m_expected, ReadPnm(out)), "");
}

// With "-" the picture is all that reaches standard output; the format word
// goes to standard error.
TEST_F(ImageCommandsTest, DecodeToStandardOutput) {
  const std::string out = m_dir / "out.ppm";
  const std::string word = m_dir / "word.txt";
  EXPECT_EQ(testsupport::Run(Tool("decode '" + m_source + "' - >'" + out + "' 2>'" + word + "'")), 0);
  EXPECT_EQ(CompareRgb(m_expected, ReadPnm(out)), "");
  EXPECT_EQ(ReadFileBytes(word), (std::vector<uint8_t>{'b', 'm', 'p', '\n'}));
}

TEST_F(ImageCommandsTest, DecodeFailsOnUnknownContent) {
  const std::string text = m_dir / "notes.txt";
  WriteFileBytes(text, std::string(300, 'x'));
  const std::string out = m_dir / "out.ppm";
  EXPECT_EQ(RunOutput(Tool("decode '" + text + "' '" + out + "' 2>/dev/null")), "???\n");
  EXPECT_EQ(testsupport::Run(Tool("decode '" + text + "' '" + out + "' 2>/dev/null")), 1);
  EXPECT_EQ(testsupport::Run(Tool("decode '" + (m_dir / "missing.gif") + "' '" + out + "' 2>/dev/null")), 1);
}

// A read that gives no picture writes nothing: an existing OUT keeps its
// bytes, an unreadable file converted onto itself stays as it was, and the
// message says what went wrong.
TEST_F(ImageCommandsTest, NothingReadLeavesTheOutputAsItWas) {
  const std::string missing = m_dir / "missing.gif";
  const std::string text = m_dir / "notes.bmp";
  const std::string out = m_dir / "out.ppm";
  const std::string kText(300, 'x');
  WriteFileBytes(text, kText);
  const struct {
    std::string arguments;
    std::string message;
  } kCases[] = {
      {"decode '" + missing + "' '" + out + "'", "cannot open " + missing},
      {"decode '" + text + "' '" + out + "'", text + ": not a picture this program reads"},
      {"convert '" + missing + "' '" + out + "'", "cannot open " + missing},
      {"convert '" + text + "' '" + text + "'", text + ": not a picture this program reads"},
  };
  for (const auto& c : kCases) {
    WriteFileBytes(out, "kept");
    EXPECT_NE(RunOutput(Tool(c.arguments + " 2>&1")).find("zerbalin-tool: " + c.message + "\n"), std::string::npos)
        << c.arguments;
    EXPECT_EQ(testsupport::Run(Tool(c.arguments + " 2>/dev/null >/dev/null")), 1) << c.arguments;
    EXPECT_EQ(ReadFileBytes(out), std::vector<uint8_t>({'k', 'e', 'p', 't'})) << c.arguments;
    EXPECT_EQ(ReadFileBytes(text), std::vector<uint8_t>(kText.begin(), kText.end())) << c.arguments;
  }
}

// Every written format, read back by ImageMagick. Lossless formats must give
// the source back exactly; GIF goes through colour reduction and is held to a
// mean error; JPEG to what ImageMagick's own encoder loses at the same quality
// (75, the default), with a tenth to spare.
constexpr double kExact = 0;
constexpr double kAsPeerJpeg = -1;

struct TWrittenFormat {
  const char* extension;
  double meanError; // kExact, kAsPeerJpeg, or the largest mean error allowed
};

void PrintTo(const TWrittenFormat& format, std::ostream* out) { *out << format.extension; }

class ConvertTest : public ImageCommandsTest, public ::testing::WithParamInterface<TWrittenFormat> {};

TEST_P(ConvertTest, WritesAFilePeersRead) {
  const TWrittenFormat& format = GetParam();
  double limit = format.meanError;
  if (limit == kAsPeerJpeg) {
    const std::string peerJpeg = m_dir / "peer.jpg";
    ASSERT_EQ(testsupport::Run("convert '" + m_source + "' -quality 75 '" + peerJpeg + "'"), 0);
    limit = MeanError(m_expected, PeerDecode(peerJpeg)) * 1.1;
  }
  const std::string out = m_dir / (std::string("out.") + format.extension);
  ASSERT_EQ(testsupport::Run(Tool("convert '" + m_source + "' '" + out + "'")), 0);
  const TRgbPicture back = PeerDecode(out);
  if (limit == kExact)
    EXPECT_EQ(CompareRgb(m_expected, back), "");
  else
    EXPECT_LE(MeanError(m_expected, back), limit);
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, ConvertTest,
                         ::testing::Values(TWrittenFormat{"bmp", kExact}, TWrittenFormat{"pcx", kExact},
                                           TWrittenFormat{"tga", kExact}, TWrittenFormat{"tif", kExact},
                                           TWrittenFormat{"gif", 3}, TWrittenFormat{"jpg", kAsPeerJpeg}),
                         [](const ::testing::TestParamInfo<TWrittenFormat>& info) {
                           return std::string(info.param.extension);
                         });

// A picture of 16 palette colours keeps its colours in every lossless
// format, and the tone settings given as switches reach the written file.
TEST_F(ImageCommandsTest, ConvertKeepsThePaletteOfAnIndexedPicture) {
  const std::string source = m_dir / "indexed.bmp";
  ASSERT_EQ(testsupport::Run("convert -size 40x30 gradient:red-blue -colors 16 -type Palette BMP3:'" + source + "'"), 0);
  const TRgbPicture expected = PeerDecode(source);
  ASSERT_EQ(expected.width, 40);
  for (const char* extension : {"bmp", "pcx", "tga", "tif", "gif"}) {
    const std::string out = m_dir / (std::string("indexed.") + extension);
    ASSERT_EQ(testsupport::Run(Tool("convert '" + source + "' '" + out + "'")), 0) << extension;
    EXPECT_EQ(CompareRgb(expected, PeerDecode(out)), "") << extension;
  }
  const std::string inverted = m_dir / "inverted.bmp";
  ASSERT_EQ(testsupport::Run(Tool("convert '" + source + "' '" + inverted + "' -Invert")), 0);
  EXPECT_EQ(CompareRgb(PeerDecode(source, "-negate"), PeerDecode(inverted)), "");
}

TEST_F(ImageCommandsTest, ConvertAppliesSettingsSwitches) {
  // No extension: SaveAsIndex 2 picks BMP. A bare -Rotate means 1, which
  // exchanges rows and columns; the output size then doubles the picture.
  const std::string out = m_dir / "plain";
  ASSERT_EQ(testsupport::Run(Tool("convert '" + m_source + "' '" + out + "' -SaveAs=2 -Rotate -OutputWidth=46 -OutputHeight=74")),
            0);
  const TRgbPicture back = PeerDecode(out);
  EXPECT_EQ(back.width, 46);
  EXPECT_EQ(back.height, 74);

  // An extension of no format this program writes leaves the choice to
  // SaveAsIndex too: 3 is PCX.
  const std::string webp = m_dir / "x.webp";
  ASSERT_EQ(testsupport::Run(Tool("convert '" + m_source + "' '" + webp + "' -SaveAs=3")), 0);
  const std::vector<uint8_t> bytes = ReadFileBytes(webp);
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(bytes[0], 0x0A);

  // The viewer's settings file counts as well, and switches come after it.
  m_user.WriteSettings("SaveAsIndex=3\n");
  const std::string fromFile = m_dir / "from-file";
  ASSERT_EQ(testsupport::Run(Tool("convert '" + m_source + "' '" + fromFile + "'")), 0);
  EXPECT_EQ(RunOutput("identify -format %m '" + fromFile + "'"), "PCX");
  const std::string overridden = m_dir / "overridden";
  ASSERT_EQ(testsupport::Run(Tool("convert '" + m_source + "' '" + overridden + "' -SaveAs=4")), 0);
  // TGA files carry no signature: ImageMagick must be told the format.
  EXPECT_EQ(CompareRgb(m_expected, PeerDecode("tga:" + overridden)), "");
}

TEST_F(ImageCommandsTest, ConvertFailures) {
  EXPECT_EQ(testsupport::Run(Tool("convert '" + m_source + "' '" + (m_dir / "x.bmp") + "' -NoSuchSetting=3 2>/dev/null")), 1);
  EXPECT_EQ(testsupport::Run(Tool("convert '" + m_source + "' '" + (m_dir / "x.bmp") + "' -OutputWidth=abc 2>/dev/null")), 1);
  EXPECT_FALSE(std::filesystem::exists(m_dir / "x.bmp"));
  EXPECT_EQ(testsupport::Run(Tool("convert '" + m_source + "' /proc/no/such/dir/x.bmp 2>/dev/null")), 1);
  EXPECT_EQ(testsupport::Run(Tool("convert '" + m_source + "' 2>/dev/null")), 1);
}

} // namespace
