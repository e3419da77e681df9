// The PCX reader against files made by netpbm and ImageMagick, handmade files
// for the palette rules and the run-length state, and the writer's coding and
// files read back by ImageMagick.
#include "formats/pcx.h"

#include <gtest/gtest.h>

#include "formats/codec_test_fixture.h"
#include "formats/run_length.h"

namespace {

using namespace rlecodecs;
using namespace testsupport;

// A PCX header followed by the given data.
TBytes PcxFile(int version, int bits, int planes, int width, int height, int bytesPerLine,
               const std::vector<uint8_t>& data, int headerPaletteByte = 0) {
  TBytes b;
  b.U8({10, version, 1, bits}).U16(0).U16(0).U16(width - 1).U16(height - 1).U16(300).U16(300);
  b.Repeat(headerPaletteByte, 48).U8({0, planes}).U16(bytesPerLine).U16(1).Repeat(0, 58);
  b.bytes.insert(b.bytes.end(), data.begin(), data.end());
  return b;
}

TEST(PcxReader, MatchesImageMagickOnPeerFiles) {
  const struct {
    const char* name;
    const char* command; // makes OUT from the rose picture
    int bits;
    int planes;
    bool decodeWithNetpbm = false; // ImageMagick shows this one inverted
  } cases[] = {
      {"1 bit", "convert rose: -monochrome pbm:- | ppmtopcx >OUT", 1, 1, true},
      {"16 colours in 4 planes", "convert rose: -colors 16 ppm:- | ppmtopcx >OUT", 1, 4},
      {"16 colours packed", "convert rose: -colors 16 ppm:- | ppmtopcx -packed >OUT", 4, 1},
      {"4 colours packed", "convert rose: -colors 4 ppm:- | ppmtopcx -packed >OUT", 2, 1},
      {"256 colours", "convert rose: -colors 200 ppm:- | ppmtopcx -8bit >OUT", 8, 1},
      {"24 bits", "convert rose: ppm:- | ppmtopcx -24bit >OUT", 8, 3},
      {"256 colours ImageMagick", "convert rose: -colors 256 -type palette pcx:OUT", 8, 1},
      {"24 bits ImageMagick", "convert rose: pcx:OUT", 8, 3},
  };
  TTempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / "peer.pcx";
    const std::vector<uint8_t> bytes = MakePeerFile(c.command, path);
    ASSERT_FALSE(bytes.empty());
    ASSERT_EQ(bytes[3], c.bits);
    ASSERT_EQ(bytes[65], c.planes);
    auto ours = ReadFile(ReadPcx, path);
    const std::string netpbmPath = dir / "netpbm.ppm";
    if (c.decodeWithNetpbm) {
      ASSERT_EQ(testsupport::Run("pcxtoppm '" + path + "' >'" + netpbmPath + "'"), 0);
    }
    const TRgbPicture expected = c.decodeWithNetpbm ? ReadPnm(netpbmPath) : PeerDecode(path);
    EXPECT_EQ(CompareRgb(expected, ImageToRgb(ours->image)), "");
    EXPECT_EQ(ours->image.BytesPerPixel(), c.bits * c.planes > 23 ? 3 : 1);
  }
}

TEST(PcxReader, PaletteRules) {
  const auto colour = [](const TImage& image, int index) {
    const TRgbQuad& e = image.Bitmap().colours[static_cast<size_t>(index)];
    return std::vector<int>{e.red, e.green, e.blue};
  };
  // 16 colours, one packed row of index 1 and 2: version 3 ignores a filled
  // header palette, version 5 uses it.
  const std::vector<uint8_t> row = {0x12};
  auto version3 = ReadBytes(ReadPcx, PcxFile(3, 4, 1, 2, 1, 1, row, 0x40).bytes);
  EXPECT_EQ(IndexRow(version3->image, 0), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(version3->image.EffectiveYDpi(), 300);
  EXPECT_EQ(colour(version3->image, 1), (std::vector<int>{255, 0, 0}));
  EXPECT_EQ(colour(version3->image, 11), (std::vector<int>{0, 0, 170}));
  auto version5 = ReadBytes(ReadPcx, PcxFile(5, 4, 1, 2, 1, 1, row, 0x40).bytes);
  EXPECT_EQ(colour(version5->image, 1), (std::vector<int>{0x40, 0x40, 0x40}));

  // 256 colours: the trailing palette, or a grey ramp when it is all zero.
  TBytes withPalette = PcxFile(5, 8, 1, 1, 1, 1, {0x07});
  withPalette.U8({0x0C}).Repeat(0, 7 * 3).U8({1, 2, 3}).Repeat(0, 248 * 3);
  EXPECT_EQ(colour(ReadBytes(ReadPcx, withPalette.bytes)->image, 7), (std::vector<int>{1, 2, 3}));
  TBytes zeroPalette = PcxFile(5, 8, 1, 1, 1, 1, {0x07});
  zeroPalette.U8({0x0C}).Repeat(0, 768);
  EXPECT_EQ(colour(ReadBytes(ReadPcx, zeroPalette.bytes)->image, 7), (std::vector<int>{7, 7, 7}));

  // Two colours are black and white whatever the header holds.
  auto twoColours = ReadBytes(ReadPcx, PcxFile(5, 1, 1, 8, 1, 2, {0x0F, 0}, 0x40).bytes);
  EXPECT_EQ(IndexRow(twoColours->image, 0), (std::vector<uint8_t>{0, 0, 0, 0, 1, 1, 1, 1}));
  EXPECT_EQ(colour(twoColours->image, 1), (std::vector<int>{255, 255, 255}));
}

TEST(PcxReader, RunsCrossPlanesAndRowsAndMissingDataIsZero) {
  // 2 x 2, 24 bits in three planes of 2 bytes: a run of 5 covers the red and
  // green planes of row 0 and the first byte of its blue plane, a run of 3
  // the second blue byte and row 1's red plane; the file then ends, so row
  // 1's green and blue planes are zero.
  const std::vector<uint8_t> data = {0xC5, 0x10, 0xC3, 0x20};
  auto ours = ReadBytes(ReadPcx, PcxFile(5, 8, 3, 2, 2, 2, data).bytes);
  EXPECT_EQ(IndexRow(ours->image, 0), (std::vector<uint8_t>{0x10, 0x10, 0x10, 0x20, 0x10, 0x10}));
  EXPECT_EQ(IndexRow(ours->image, 1), (std::vector<uint8_t>{0, 0, 0x20, 0, 0, 0x20}));

  // A run of 63 for a picture of one pixel ends with the picture.
  auto single = ReadBytes(ReadPcx, PcxFile(5, 8, 1, 1, 1, 1, {0xFF, 0x07}).bytes);
  EXPECT_EQ(IndexRow(single->image, 0), (std::vector<uint8_t>{0x07}));
}

TEST(PcxReader, PlanesOfOneBitMakeTheIndex) {
  // 4 pixels in 3 planes of 1010, 1100 and 0011 (C0 hex coded as a run of
  // one): plane i gives bit i.
  const std::vector<uint8_t> data = {0xA0, 0xC1, 0xC0, 0x30};
  auto ours = ReadBytes(ReadPcx, PcxFile(5, 1, 3, 4, 1, 1, data).bytes);
  EXPECT_EQ(IndexRow(ours->image, 0), (std::vector<uint8_t>{3, 2, 5, 4}));
}

// Besides layouts the reader does not know, headers declaring more lines
// than three bytes of runs could hold are refused: the missing data would
// otherwise be made up as zeros, for up to 65536 x 65536 pixels.
TEST(PcxReader, RejectedHeadersLeaveTheBlankPicture) {
  const struct {
    int bits, planes, width, height, bytesPerLine;
  } cases[] = {
      {8, 1, 8193, 1, 8193}, {8, 1, 1, 8193, 1}, {8, 1, 0, 1, 1}, {8, 1, 1, 0, 1},
      {8, 1, 65535, 1, 1},   {8, 2, 4, 1, 4},    {4, 2, 4, 1, 4}, {1, 9, 4, 1, 4},
      {3, 1, 4, 1, 4},       {8, 1, 4, 1, 0},    {8, 3, 65535, 65535, 65535},
  };
  for (const auto& c : cases) {
    auto ours = ReadBytes(ReadPcx, PcxFile(5, c.bits, c.planes, c.width, c.height, c.bytesPerLine, {1, 2, 3}).bytes);
    EXPECT_EQ(ours->image.Width(), 1);
    EXPECT_EQ(ours->image.Height(), 1);
  }
}

TEST(PcxReader, WidePicturesAreReadWhole) {
  // Two lines of 8193 and of 65535 pixels, in runs of 63 of the value 7.
  for (int width : {8193, 65535}) {
    std::vector<uint8_t> runs;
    for (int done = 0; done < 2 * width; done += 63) runs.insert(runs.end(), {0xFF, 7});
    auto ours = ReadBytes(ReadPcx, PcxFile(5, 8, 1, width, 2, width, runs).bytes);
    EXPECT_EQ(ours->image.Width(), width);
    EXPECT_EQ(ours->image.Height(), 2);
    EXPECT_EQ(IndexRow(ours->image, 0), std::vector<uint8_t>(static_cast<size_t>(width), 7));
  }
}

TEST(PcxReader, ShortLinesAndTruncatedFiles) {
  // Lines of 2 bytes for a width of 4: the rest of each row is zero.
  auto ours = ReadBytes(ReadPcx, PcxFile(5, 8, 1, 4, 1, 2, {9, 9}).bytes);
  EXPECT_EQ(IndexRow(ours->image, 0), (std::vector<uint8_t>{9, 9, 0, 0}));

  TTempDir dir;
  for (const char* command : {"convert rose: -resize 20x13 -colors 200 ppm:- | ppmtopcx -8bit",
                              "convert rose: -resize 20x13 ppm:- | ppmtopcx -24bit"}) {
    const std::string path = dir / "cut.pcx";
    ASSERT_EQ(testsupport::Run(std::string(command) + " >'" + path + "' 2>/dev/null"), 0);
    ReadEveryPrefix(ReadPcx, ReadFileBytes(path));
  }
}

TEST(PcxWriter, RunLengthCoding) {
  const struct {
    const char* name;
    std::vector<uint8_t> row;
    std::vector<uint8_t> coded;
  } cases[] = {
      {"70 bytes of 5", std::vector<uint8_t>(70, 5), {0xFF, 5, 0xC7, 5}},
      {"a single C8", {0xC8}, {0xC1, 0xC8}},
      {"single bytes below C0", {1, 2, 2, 0xBF}, {1, 0xC2, 2, 0xBF}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> out(2 * c.row.size());
    out.resize(PcxEncodePlane(c.row.data(), c.row.size(), out.data()));
    EXPECT_EQ(out, c.coded);
  }
}

TEST(PcxWriter, HeaderRowsAndTrailingPalette) {
  // A 70 x 2 picture of index 5 with the grey palette, at 200 dpi.
  TTestImage holder;
  holder.image.Create(2, 70, 2, 200, 200, 1, 1, 5);
  TTempDir dir;
  ASSERT_EQ(WriteFile(WritePcx, holder.image, dir / "w.pcx"), 0);
  const auto bytes = ReadFileBytes(dir / "w.pcx");
  ASSERT_EQ(bytes.size(), 128 + 2 * 4 + 769);
  const std::vector<uint8_t> head(bytes.begin(), bytes.begin() + 16);
  EXPECT_EQ(head, (std::vector<uint8_t>{10, 5, 1, 8, 0, 0, 0, 0, 69, 0, 1, 0, 200, 0, 200, 0}));
  EXPECT_EQ(bytes[65], 1);
  EXPECT_EQ(bytes[66], 70);
  EXPECT_EQ(bytes[68], 1);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 128, bytes.begin() + 132), (std::vector<uint8_t>{0xFF, 5, 0xC7, 5}));
  EXPECT_EQ(bytes[128 + 8], 0x0C);
  EXPECT_EQ(bytes[128 + 8 + 1 + 3 * 200], 200) << "grey palette entry 200";
}

TEST(PcxWriter, ImageMagickReadsBackWhatWeWrite) {
  ExpectPeerReadsBackWhatWeWrite(WritePcx, "pcx", [](const std::vector<uint8_t>& file, int32_t bytesPerPixel) {
    EXPECT_EQ(file[65], bytesPerPixel);
    EXPECT_EQ(file[file.size() - 769] == 0x0C, bytesPerPixel == 1);
  });
}

TEST(PcxWriter, FailedWritesLeaveNoFile) { ExpectFailedWritesLeaveNoFile(WritePcx); }

} // namespace
