// The TGA reader against files made by ImageMagick and netpbm, handmade files
// for pixel encodings, colour maps, row order and run-length packets, and the
// writer's packets and files read back by ImageMagick.
#include "formats/tga.h"

#include <gtest/gtest.h>

#include "formats/comment_sink.h"
#include "formats/codec_test_fixture.h"
#include "formats/run_length.h"

namespace {

using namespace rlecodecs;
using namespace testsupport;

// An 18-byte TGA header, then the given bytes (identification, map, pixels).
TBytes TgaFile(int colourMapType, int imageType, int mapFirst, int mapLength, int mapBits, int width, int height,
               int depth, int descriptor, const std::vector<uint8_t>& rest, int idLength = 0) {
  TBytes b;
  b.U8({idLength, colourMapType, imageType}).U16(mapFirst).U16(mapLength).U8({mapBits});
  b.U16(0).U16(0).U16(width).U16(height).U8({depth, descriptor});
  b.bytes.insert(b.bytes.end(), rest.begin(), rest.end());
  return b;
}

TEST(TgaReader, MatchesImageMagickOnPeerFiles) {
  const struct {
    const char* name;
    const char* command; // makes OUT from the rose picture
    int imageType;
    int descriptor;
  } cases[] = {
      {"type 1", "convert rose: -colors 256 -type palette tga:OUT", 1, 0},
      {"type 2", "convert rose: tga:OUT", 2, 0},
      {"type 2 top first", "convert rose: -orient TopLeft tga:OUT", 2, 0x20},
      {"type 2 with alpha", "convert rose: -alpha set tga:OUT", 2, 0x08},
      {"type 3", "convert rose: -colorspace gray tga:OUT", 3, 0},
      {"type 9", "convert rose: -colors 200 ppm:- | ppmtotga -cmap >OUT", 9, 0},
      {"type 9 top first", "convert rose: -colors 256 -type palette -compress rle -orient TopLeft tga:OUT", 9, 0x20},
      {"type 10", "convert rose: -compress rle tga:OUT", 10, 0},
      {"type 10 top first", "convert rose: -orient TopLeft -compress rle tga:OUT", 10, 0x20},
      {"type 10 netpbm", "convert rose: ppm:- | ppmtotga -rgb >OUT", 10, 0},
      {"type 11", "convert rose: -colorspace gray -compress rle tga:OUT", 11, 0},
      {"type 11 top first", "convert rose: -colorspace gray -compress rle -orient TopLeft tga:OUT", 11, 0x20},
  };
  TTempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / "peer.tga";
    const std::vector<uint8_t> bytes = MakePeerFile(c.command, path);
    ASSERT_FALSE(bytes.empty());
    ASSERT_EQ(bytes[2], c.imageType);
    ASSERT_EQ(bytes[17], c.descriptor);
    auto ours = ReadFile(ReadTga, path);
    // ImageMagick keeps the file's row order and only records the origin.
    EXPECT_EQ(CompareRgb(PeerDecode(path, "-auto-orient"), ImageToRgb(ours->image)), "");
    EXPECT_EQ(ours->image.BytesPerPixel(), bytes[16] == 8 ? 1 : 3);
  }
}

TEST(TgaReader, PixelEncodingsAndColourMaps) {
  // 16 bits: 7FFF is white of 5 bits per channel, 001F pure blue.
  auto sixteen = ReadBytes(ReadTga, TgaFile(0, 2, 0, 0, 0, 2, 1, 16, 0x20, {0xFF, 0x7F, 0x1F, 0x00}).bytes);
  EXPECT_EQ(IndexRow(sixteen->image, 0), (std::vector<uint8_t>{248, 248, 248, 248, 0, 0}));

  // Grey 8 bits: indices into a grey palette.
  auto grey = ReadBytes(ReadTga, TgaFile(0, 3, 0, 0, 0, 2, 1, 8, 0x20, {0x10, 0x80}).bytes);
  EXPECT_EQ(IndexRow(grey->image, 0), (std::vector<uint8_t>{0x10, 0x80}));
  EXPECT_EQ(grey->image.Bitmap().colours[0x80].green, 0x80);

  // A colour map of 2 entries of 16 bits starting at 5; entries outside it
  // keep the identity ramp.
  auto mapped = ReadBytes(ReadTga, TgaFile(1, 1, 5, 2, 16, 2, 1, 8, 0x20, {0x00, 0x7C, 0xE0, 0x03, 5, 6}).bytes);
  const auto& colours = mapped->image.Bitmap().colours;
  EXPECT_EQ(IndexRow(mapped->image, 0), (std::vector<uint8_t>{5, 6}));
  EXPECT_EQ((std::vector<int>{colours[5].red, colours[5].green, colours[5].blue}), (std::vector<int>{248, 0, 0}));
  EXPECT_EQ((std::vector<int>{colours[6].red, colours[6].green, colours[6].blue}), (std::vector<int>{0, 248, 0}));
  EXPECT_EQ(colours[7].blue, 7);

  // 16-bit indices into a 24-bit map; an index beyond the map's room is black.
  auto wide = ReadBytes(ReadTga, TgaFile(1, 1, 300, 1, 24, 2, 1, 16, 0x20,
                                         {0x01, 0x02, 0x03, 0x2C, 0x01, 0xFF, 0xFF}).bytes);
  EXPECT_EQ(IndexRow(wide->image, 0), (std::vector<uint8_t>{1, 2, 3, 0, 0, 0}));
}

TEST(TgaReader, IdentificationGoesToTheComments) {
  CommentChar(0);
  ReadBytes(ReadTga, TgaFile(0, 3, 0, 0, 0, 1, 1, 8, 0, {'h', 0, 'i', 7}, 3).bytes);
  EXPECT_EQ(CommentGetText(), "hi");
}

TEST(TgaReader, RowOrderAndInterleaving) {
  const std::vector<uint8_t> rows = {0, 1, 2, 3, 4, 5, 6};
  const struct {
    int descriptor;
    std::vector<uint8_t> pictureRows; // the file row each picture row shows
  } cases[] = {
      {0x00, {6, 5, 4, 3, 2, 1, 0}},
      {0x20, {0, 1, 2, 3, 4, 5, 6}},
      {0x60, {0, 4, 1, 5, 2, 6, 3}}, // by two: 0 2 4 6, then 1 3 5
      {0xA0, {0, 2, 4, 6, 1, 3, 5}}, // by four: 0 4, 1 5, 2 6, 3
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.descriptor);
    auto ours = ReadBytes(ReadTga, TgaFile(0, 3, 0, 0, 0, 1, 7, 8, c.descriptor, rows).bytes);
    std::vector<uint8_t> shown;
    for (int r = 0; r < 7; ++r) shown.push_back(IndexRow(ours->image, r)[0]);
    EXPECT_EQ(shown, c.pictureRows);
  }
}

TEST(TgaReader, PacketsCrossRowsAndMissingDataIsFF) {
  // 3 x 2 grey: a run of 4 crosses into row 1, a literal of 1 follows; the
  // last pixel is missing.
  const std::vector<uint8_t> packets = {0x83, 0x11, 0x00, 0x22};
  auto ours = ReadBytes(ReadTga, TgaFile(0, 11, 0, 0, 0, 3, 2, 8, 0x20, packets).bytes);
  EXPECT_EQ(IndexRow(ours->image, 0), (std::vector<uint8_t>{0x11, 0x11, 0x11}));
  EXPECT_EQ(IndexRow(ours->image, 1), (std::vector<uint8_t>{0x11, 0x22, 0xFF}));

  // Packets of 128 pixels for a picture of two end with the picture.
  std::vector<uint8_t> literal = {0x7F};
  for (int i = 1; i <= 128; ++i) literal.push_back(static_cast<uint8_t>(i));
  for (const auto& [name, data, pixels] :
       {std::tuple{"run", std::vector<uint8_t>{0xFF, 0x33}, std::vector<uint8_t>{0x33, 0x33}},
        std::tuple{"literal", literal, std::vector<uint8_t>{1, 2}}}) {
    SCOPED_TRACE(name);
    auto longPacket = ReadBytes(ReadTga, TgaFile(0, 11, 0, 0, 0, 2, 1, 8, 0x20, data).bytes);
    EXPECT_EQ(IndexRow(longPacket->image, 0), pixels);
  }

  TTempDir dir;
  for (const char* command : {"convert rose: -resize 20x13 -colors 200 -type palette -compress rle tga:",
                              "convert rose: -resize 20x13 tga:"}) {
    const std::string path = dir / "cut.tga";
    ASSERT_EQ(testsupport::Run(std::string(command) + "'" + path + "'"), 0);
    ReadEveryPrefix(ReadTga, ReadFileBytes(path));
  }
}

// Besides kinds and depths the reader does not know, headers declaring more
// pixels than three bytes of packets could hold are refused: the missing
// data would otherwise be made up as bytes FF hex, for up to 65535 x 65535
// pixels.
TEST(TgaReader, RejectedHeadersLeaveTheBlankPicture) {
  const struct {
    int mapType, imageType, mapFirst, mapLength, mapBits, width, height, depth;
  } cases[] = {
      {2, 2, 0, 0, 0, 4, 4, 24},    {0, 4, 0, 0, 0, 4, 4, 24},      {0, 2, 0, 0, 0, 0, 4, 24},
      {0, 2, 0, 0, 0, 4, 0, 24},    {0, 2, 0, 0, 0, 8193, 4, 24},   {0, 2, 0, 0, 0, 65535, 65535, 24},
      {0, 2, 0, 0, 0, 4, 4, 12},    {1, 1, 8000, 193, 24, 4, 4, 8}, {1, 1, 0, 4, 12, 4, 4, 8},
  };
  for (const auto& c : cases) {
    auto ours = ReadBytes(ReadTga, TgaFile(c.mapType, c.imageType, c.mapFirst, c.mapLength, c.mapBits, c.width,
                                           c.height, c.depth, 0, {1, 2, 3})
                                       .bytes);
    EXPECT_EQ(ours->image.Width(), 1);
    EXPECT_EQ(ours->image.Height(), 1);
  }
}

TEST(TgaReader, WidePicturesAreReadWhole) {
  // Type 10, 24 bits: runs of 128 pixels of one colour.
  for (int width : {8193, 65535}) {
    std::vector<uint8_t> packets;
    for (int done = 0; done < width; done += 128) packets.insert(packets.end(), {0xFF, 1, 2, 3});
    auto ours = ReadBytes(ReadTga, TgaFile(0, 10, 0, 0, 0, width, 1, 24, 0x20, packets).bytes);
    EXPECT_EQ(ours->image.Width(), width);
    EXPECT_EQ(ours->outcome, TReadOutcome::Complete);
    const std::vector<uint8_t> row = IndexRow(ours->image, 0);
    EXPECT_EQ(std::vector<uint8_t>(row.end() - 3, row.end()), (std::vector<uint8_t>{1, 2, 3}));
  }
}

TEST(TgaWriter, RunLengthPackets) {
  const struct {
    const char* name;
    std::vector<uint8_t> pixels;
    size_t pixelBytes;
    std::vector<uint8_t> coded;
  } cases[] = {
      {"A A A B C C", {0xA, 0xA, 0xA, 0xB, 0xC, 0xC}, 1, {0x82, 0xA, 0x00, 0xB, 0x81, 0xC}},
      {"literal ends before a run", {1, 2, 3, 3}, 1, {0x01, 1, 2, 0x81, 3}},
      {"three-byte pixels", {1, 2, 3, 1, 2, 3, 4, 5, 6}, 3, {0x81, 1, 2, 3, 0x00, 4, 5, 6}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t count = c.pixels.size() / c.pixelBytes;
    std::vector<uint8_t> out(count * (c.pixelBytes + 1));
    out.resize(TgaEncodeRow(c.pixels.data(), count, c.pixelBytes, out.data()));
    EXPECT_EQ(out, c.coded);
  }
  // 300 equal pixels: runs of 128, 128 and 44.
  const std::vector<uint8_t> same(300, 9);
  std::vector<uint8_t> out(600);
  out.resize(TgaEncodeRow(same.data(), same.size(), 1, out.data()));
  EXPECT_EQ(out, (std::vector<uint8_t>{0xFF, 9, 0xFF, 9, 0xAB, 9}));
  // 200 different pixels: literals of 128 and 72.
  std::vector<uint8_t> ramp(200);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = static_cast<uint8_t>(i);
  out.assign(400, 0);
  out.resize(TgaEncodeRow(ramp.data(), ramp.size(), 1, out.data()));
  ASSERT_EQ(out.size(), 202u);
  EXPECT_EQ(out[0], 127);
  EXPECT_EQ(out[129], 71);
}

TEST(TgaWriter, HeaderColourMapAndPackets) {
  TTestImage holder;
  holder.image.Create(3, 2, 1, 1, 1, 1, 1, 4);
  TTempDir dir;
  ASSERT_EQ(WriteFile(WriteTga, holder.image, dir / "w.tga"), 0);
  const auto bytes = ReadFileBytes(dir / "w.tga");
  const std::vector<uint8_t> head(bytes.begin(), bytes.begin() + 18);
  EXPECT_EQ(head, (std::vector<uint8_t>{0, 1, 9, 0, 0, 0, 1, 24, 0, 0, 0, 0, 2, 0, 1, 0, 8, 0x20}));
  ASSERT_EQ(bytes.size(), 18 + 768 + 2);
  EXPECT_EQ(bytes[18 + 3 * 4], 4);
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 2, bytes.end()), (std::vector<uint8_t>{0x81, 4}));
}

TEST(TgaWriter, ImageMagickReadsBackWhatWeWrite) {
  ExpectPeerReadsBackWhatWeWrite(WriteTga, "tga", [](const std::vector<uint8_t>& file, int32_t bytesPerPixel) {
    EXPECT_EQ(file[2], bytesPerPixel == 1 ? 9 : 10);
    EXPECT_EQ(file[16], bytesPerPixel * 8);
  });
}

TEST(TgaWriter, FailedWritesLeaveNoFile) { ExpectFailedWritesLeaveNoFile(WriteTga); }

} // namespace
