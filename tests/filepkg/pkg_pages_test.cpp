// The pictures inside multi-picture files as members: frames of GIF files,
// pages of TIFF files, Seattle Filmworks archives, and slide lists.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filepkg/pkg_test_support.h"
#include "formats/picture_io.h"
#include "core/image.h"
#include "settings/profile.h"
#include "support/peer.h"

using namespace pkgtest;

namespace {

const std::string kPeerTiff = ZER_TEST_DATA "/peer/tiff";

bool Opens(const std::string& name, const char* mode = "rb") {
  TPkgStream* stream = PkgOpen(name.c_str(), mode);
  PkgClose(stream, kPkgKeep);
  return stream != nullptr;
}

// The picture our reader entry reads from a package name, as red, green and
// blue pixels.
testsupport::TRgbPicture Decode(const std::string& name) {
  TProfile options;
  std::unique_ptr<TImage> image = NewImageFor(options);
  TReadOutcome outcome;
  ReadPicture(name.c_str(), *image, options, &outcome);
  return outcome == TReadOutcome::Complete ? testsupport::ImageToRgb(*image) : testsupport::TRgbPicture{};
}

class PkgPages : public testing::Test {
protected:
  void Make(const std::string& command) {
    ASSERT_EQ(testsupport::Run("cd '" + m_dir.Path() + "' && " + command), 0) << command;
  }
  TTempDir m_dir;
};

TEST_F(PkgPages, FramesOfAGifAreTheFileCutAfterEachFrame) {
  // Three frames of one colour map (+map): the reader draws every frame
  // with the picture's one palette.
  Make("convert -size 24x16 xc:red \\( -size 10x6 xc:lime -repage 24x16+5+4 \\) "
       "\\( -size 8x8 xc:blue -repage 24x16+12+6 \\) +map anim.gif && convert -size 8x8 xc:red single.gif");
  const std::string anim = m_dir / "anim.gif";
  EXPECT_EQ(ListNames(anim), (std::vector<std::string>{anim + "/frame001.gif", anim + "/frame002.gif",
                                                        anim + "/frame003.gif"}));
  for (int frame = 1; frame <= 3; ++frame) {
    SCOPED_TRACE(frame);
    testsupport::TRgbPicture expected =
        testsupport::PeerDecode(anim, "-coalesce -delete " + std::string(frame == 3 ? "0,1" : frame == 2 ? "0,2" : "1,2"));
    EXPECT_EQ(testsupport::CompareRgb(expected, Decode(anim + "/frame00" + std::to_string(frame) + ".gif")), "");
  }
  EXPECT_TRUE(Opens(m_dir / "ANIM.GIF/FRAME001.GIF"));
  for (const char* bad : {"frame000.gif", "frame004.gif", "frame4.gif", "frame001.gif/x"})
    EXPECT_FALSE(Opens(anim + "/" + bad)) << bad;
  EXPECT_FALSE(Opens(anim + "/frame001.gif", "wb")) << "frames are only read";
  EXPECT_FALSE(Opens(m_dir / "single.gif", "rd")) << "one frame is no container";
}

TEST_F(PkgPages, PagesOfATiffAreTheFileUnderThePagesName) {
  Make("convert -size 30x20 xc:red red.tif && convert -size 12x34 xc:blue blue.tif && "
       "tiffcp red.tif blue.tif two.tif");
  const std::string two = m_dir / "two.tif";
  EXPECT_EQ(ListNames(two), (std::vector<std::string>{two + "/page0001.tif", two + "/page0002.tif"}));
  EXPECT_EQ(testsupport::CompareRgb(testsupport::PeerDecode(m_dir / "blue.tif"), Decode(two + "/page0002.tif")), "");
  EXPECT_EQ(testsupport::CompareRgb(testsupport::PeerDecode(m_dir / "red.tif"), Decode(two + "/PAGE0001.TIF")), "");
  EXPECT_FALSE(Opens(two + "/page0003.tif"));
  EXPECT_FALSE(Opens(two + "/page0000.tif"));
  EXPECT_FALSE(Opens(m_dir / "red.tif", "rd")) << "one page is no container";
  // Directory chains that loop end the count instead of looping with it.
  for (const char* name : {"test_ifd_loop_to_first.tif", "test_ifd_loop_to_self.tif", "test_ifd_loop_subifd.tif"})
    ListNames(kPeerTiff + "/" + name);
  EXPECT_EQ(ListNames(kPeerTiff + "/test_two_ifds.tif").size(), 2u);
}

TEST_F(PkgPages, AWrittenPageIsAddedOrReplacedAndTheOthersKeepTheirBytes) {
  Make("convert -size 30x20 xc:red red.tif && convert -size 12x34 xc:blue blue.tif && "
       "convert -size 16x16 xc:lime -compress lzw lime.tif && tiffcp red.tif blue.tif little.tif && "
       "tiffcp -B red.tif blue.tif big.tif");
  const std::vector<uint8_t> page = ReadFile(m_dir / "lime.tif");
  auto writePage = [&](const std::string& name) {
    TPkgStream* stream = PkgOpen(name.c_str(), "wb");
    if (!stream) return -2;
    PkgWrite(page.data(), 1, page.size(), stream);
    return PkgClose(stream, kPkgKeep);
  };
  const testsupport::TRgbPicture lime = testsupport::PeerDecode(m_dir / "lime.tif");
  for (const char* file : {"little.tif", "big.tif"}) {
    SCOPED_TRACE(file);
    const std::string path = m_dir / file;
    const std::vector<uint8_t> before = ReadFile(path);
    ASSERT_EQ(writePage(path + "/page0003.tif"), 0);
    std::vector<uint8_t> after = ReadFile(path);
    ASSERT_GT(after.size(), before.size());
    size_t differing = 0;
    for (size_t i = 0; i < before.size(); ++i) differing += before[i] != after[i];
    EXPECT_LE(differing, 4u) << "only the link to the new page changes";
    EXPECT_EQ(ListNames(path).size(), 3u);
    EXPECT_EQ(testsupport::CompareRgb(lime, testsupport::PeerDecode(path + "[2]")), "");
    ASSERT_EQ(writePage(path + "/page0001.tif"), 0);
    EXPECT_EQ(testsupport::CompareRgb(lime, testsupport::PeerDecode(path + "[0]")), "");
    EXPECT_EQ(testsupport::CompareRgb(testsupport::PeerDecode(m_dir / "blue.tif"), testsupport::PeerDecode(path + "[1]")),
              "");
    EXPECT_EQ(testsupport::RunOutput("tiffinfo '" + path + "' 2>&1 | grep -ci 'error\\|warning'"), "0\n");
    EXPECT_EQ(writePage(path + "/page0005.tif"), -2) << "a page may be added only right after the last";
  }
}

TEST_F(PkgPages, SeattleFilmworksArchivesHoldNamedPictures) {
  // "SFW95B", then for each entry 272 bytes before its data: the name (32
  // bytes) at the start, and a trailer of 16 bytes at the end whose bytes 4
  // to 7 are the data's length.
  auto entry = [](const std::string& name, const std::string& data) {
    std::string header(272, '\0');
    header.replace(0, name.size(), name);
    uint32_t length = static_cast<uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) header[256 + 4 + i] = static_cast<char>(length >> (8 * i));
    return header + data;
  };
  std::string archive = "SFW95B" + std::string(292 - 272 - 6, '\0') + entry("PIC1.SFW", "first picture") +
                        entry("PIC2.SFW", "second");
  WriteFile(m_dir / "roll.pwp", archive);
  const std::string roll = m_dir / "roll.pwp";
  EXPECT_EQ(ListNames(roll), (std::vector<std::string>{roll + "/PIC1.SFW", roll + "/PIC2.SFW"}));
  TPkgStream* stream = PkgOpen((roll + "/pic2.sfw").c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(ReadAll(stream), (std::vector<uint8_t>{'s', 'e', 'c', 'o', 'n', 'd'}));
  PkgClose(stream, kPkgKeep);
  EXPECT_FALSE(Opens(roll + "/PIC3.SFW"));
  EXPECT_FALSE(Opens(roll + "/PIC1.SFW", "wb"));
}

TEST_F(PkgPages, SlideListsListTheirLinesAsWritten) {
  std::string list = "a.gif\r\n\n  pics/b.gif\n/abs/c.tif";
  list += '\0';
  list += "after nul\n" + std::string(600, 'x');
  WriteFile(m_dir / "show.sli", list);
  EXPECT_EQ(ListNames(m_dir / "SHOW.SLI"), (std::vector<std::string>{"a.gif", "  pics/b.gif", "/abs/c.tif",
                                                                      "after nul", std::string(511, 'x'),
                                                                      std::string(89, 'x')}));
  EXPECT_FALSE(Opens(m_dir / "show.sli/a.gif")) << "entries are opened by their own names";
  WriteFile(m_dir / "show.txt", "a.gif\n");
  EXPECT_FALSE(Opens(m_dir / "show.txt", "rd"));
}

} // namespace
