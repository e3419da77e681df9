// The program as a process, on pictures it reads badly or not at all: big
// pictures are converted at their full size, or, when memory is short, not
// at all, leaving the old file; a metafile no player draws is not saved;
// help that no browser can show says so.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/peer.h"
#include "tools/tool_runner.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::RunOutput;
using testsupport::TTempDir;
using testsupport::WriteFileBytes;
using tooltest::Quoted;
using tooltest::TToolUser;

class ProgramReads : public ::testing::Test {
protected:
  // Two pictures of 10000 x 10000 pixels, made once by netpbm: a GIF and an
  // 8-bit BMP of the same pixels, and the hash of those pixels.
  static void SetUpTestSuite() {
    s_pictures = std::make_unique<TTempDir>();
    const std::string ramp = "pgmramp -diag 10000 10000 2>/dev/null | ";
    ASSERT_EQ(testsupport::Run(ramp + "pamtogif >" + Quoted(*s_pictures / "big.gif") + " 2>/dev/null"), 0);
    ASSERT_EQ(testsupport::Run(ramp + "ppmtobmp >" + Quoted(*s_pictures / "big.bmp") + " 2>/dev/null"), 0);
    s_hash = PixelHash("giftopnm", *s_pictures / "big.gif");
    ASSERT_EQ(PixelHash("bmptopnm", *s_pictures / "big.bmp"), s_hash);
  }
  static void TearDownTestSuite() { s_pictures.reset(); }

  // The pixels of a file as a peer decodes them, through md5sum.
  static std::string PixelHash(const std::string& peer, const std::string& path) {
    return RunOutput(peer + " " + Quoted(path) + " 2>/dev/null | ppmtoppm | md5sum");
  }

  static inline std::unique_ptr<TTempDir> s_pictures;
  static inline std::string s_hash;
  TTempDir m_dir;
  TToolUser m_user{ZER_PROGRAM};
};

// Converted both ways at full size, over the file of the new name that was
// there before.
TEST_F(ProgramReads, BigPicturesAreConvertedAtFullSize) {
  const struct {
    const char* source;
    const char* keyword;
    const char* target;
    const char* peer;
  } cases[] = {{"big.gif", "-ConvertToBMP", "big.bmp", "bmptopnm"},
               {"big.bmp", "-ConvertToGIF", "big.gif", "giftopnm"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keyword);
    const TTempDir dir;
    std::filesystem::copy_file(*s_pictures / c.source, dir / c.source);
    WriteFileBytes(dir / c.target, std::string("old"));
    const TToolUser::TRun run = m_user.Invoke(std::string(c.keyword) + " " + Quoted(dir / c.source));
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("Saved " + dir / c.source + " as " + dir / c.target), std::string::npos) << run.output;
    EXPECT_EQ(PixelHash(c.peer, dir / c.target), s_hash);
  }
}

// With too little memory for the whole picture the conversion fails and the
// file of the new name is left as it was, byte for byte.
TEST_F(ProgramReads, ShortMemoryLeavesTheOldFile) {
  std::filesystem::copy_file(*s_pictures / "big.gif", m_dir / "big.gif");
  WriteFileBytes(m_dir / "big.bmp", std::string("old picture"));
  const std::vector<uint8_t> old = ReadFileBytes(m_dir / "big.bmp");
  const TToolUser::TRun run =
      m_user.Invoke("-ConvertToBMP " + Quoted(m_dir / "big.gif"), 0, "ZERBALIN_PICTURE_MEMORY=50000000");
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_EQ(ReadFileBytes(m_dir / "big.bmp"), old);
  EXPECT_NE(run.output.find("Picture of 10000x10000 pixels held at 5000x5000: not enough memory"), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("Not saved: " + m_dir / "big.gif" + " could be held only reduced"), std::string::npos)
      << run.output;
}

// A placeable metafile no player draws: nothing is saved, the batch fails.
TEST_F(ProgramReads, UndrawnMetafileInABatchIsNotSaved) {
  // Key, handle, bounding box 0, 0, 16, 16, 96 units per inch, reserved and
  // checksum; then a metafile header and its end record.
  WriteFileBytes(m_dir / "drawing.wmf",
                 std::vector<uint8_t>{0xD7, 0xCD, 0xC6, 0x9A, 0, 0, 0, 0, 0, 0, 16, 0, 16, 0, 96, 0, 0, 0, 0, 0, 0,
                                      0,    1,    0,    9,    0, 0, 3, 12, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0});
  const TToolUser::TRun run = m_user.Invoke("-ConvertToBMP " + Quoted(m_dir / "drawing.wmf"));
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_FALSE(std::filesystem::exists(m_dir / "drawing.bmp"));
  EXPECT_NE(run.output.find("Could not load image " + m_dir / "drawing.wmf" + ": the picture could not be read"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(run.output.find("Loaded image"), std::string::npos) << run.output;
}

// Help (command 1001, run here as the action after the picture is shown)
// with no program on the path to open a browser with.
TEST_F(ProgramReads, HelpWithoutABrowserSaysSo) {
  ASSERT_EQ(testsupport::Run("convert -size 20x20 xc:red " + Quoted(m_dir / "a.gif")), 0);
  std::filesystem::create_directory(m_dir / "empty");
  const TToolUser::TRun run = m_user.Invoke("-ConvertToBMP -ImageDisplayEvent=1001 " + Quoted(m_dir / "a.gif"), 0,
                                            "PATH=" + Quoted(m_dir / "empty"));
  EXPECT_NE(run.output.find("Help is not available: no web browser could be started to show "), std::string::npos)
      << run.output;
}

} // namespace
