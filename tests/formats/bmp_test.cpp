// The BMP reader against files made by ImageMagick and netpbm and against the
// BMP suite's reference renderings, handmade files for run-length codes,
// masks and header kinds, packed bitmaps handed over by the image, and the
// writer's files read back by ImageMagick.
#include "formats/bmp.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "formats/codec_test_fixture.h"

namespace {

using namespace rlecodecs;
using namespace testsupport;

const std::string kSuite = std::string(ZER_TEST_DATA) + "/peer/bmpsuite/";

// A 40-byte-header BMP of the given rows (file order, padding included).
TBytes BmpFile(int32_t width, int32_t height, int bitCount, uint32_t compression,
               const std::vector<uint32_t>& colours, const std::vector<uint8_t>& data) {
  const uint32_t offset = 14 + 40 + 4 * static_cast<uint32_t>(colours.size());
  TBytes b;
  b.U8({'B', 'M'}).U32(offset + static_cast<uint32_t>(data.size())).U32(0).U32(offset);
  b.U32(40).U32(static_cast<uint32_t>(width)).U32(static_cast<uint32_t>(height)).U16(1).U16(bitCount);
  b.U32(compression).U32(0).U32(2835).U32(2835).U32(static_cast<uint32_t>(colours.size())).U32(0);
  for (uint32_t c : colours) b.U32(c);
  b.bytes.insert(b.bytes.end(), data.begin(), data.end());
  return b;
}

// Four-entry palette: black, red, green, blue (as 0x00RRGGBB).
const std::vector<uint32_t> kFourColours = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};

struct TPeerCase {
  const char* name;
  const char* command; // makes OUT from the rose picture
  int bitCount;
  int headerSize;
  int tolerance;
};

TEST(BmpReader, MatchesImageMagickOnPeerFiles) {
  const TPeerCase cases[] = {
      {"1 bit", "convert rose: -monochrome bmp3:OUT", 1, 40, 0},
      {"1 bit netpbm", "convert rose: -monochrome ppm:- | ppmtobmp -bpp=1 >OUT", 1, 40, 0},
      {"4 bits", "convert rose: -colors 16 -type palette bmp3:OUT", 4, 40, 0},
      {"4 bits OS/2 header", "convert rose: -colors 16 ppm:- | ppmtobmp -os2 >OUT", 4, 12, 0},
      {"8 bits", "convert rose: -colors 256 -type palette -compress none bmp3:OUT", 8, 40, 0},
      {"8 bits RLE8", "convert rose: -colors 256 -type palette -compress rle bmp3:OUT", 8, 40, 0},
      {"16 bits 565 bit fields", "convert rose: -define bmp:subtype=RGB565 OUT", 16, 124, 8},
      {"16 bits 555 bit fields", "convert rose: -define bmp:subtype=RGB555 OUT", 16, 124, 8},
      {"24 bits", "convert rose: bmp3:OUT", 24, 40, 0},
      {"24 bits 124-byte header", "convert rose: OUT", 24, 124, 0},
      {"32 bits bit fields", "convert rose: -alpha set OUT", 32, 124, 0},
  };
  TTempDir dir;
  for (const TPeerCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / "peer.bmp";
    const std::vector<uint8_t> bytes = MakePeerFile(c.command, path);
    ASSERT_FALSE(bytes.empty());
    ASSERT_EQ(bytes[14], c.headerSize);
    ASSERT_EQ(bytes[c.headerSize == 12 ? 24 : 28], c.bitCount);
    auto ours = ReadFile(ReadBmp, path);
    EXPECT_EQ(CompareRgb(PeerDecode(path), ImageToRgb(ours->image), c.tolerance), "");
    EXPECT_EQ(ours->image.BytesPerPixel(), c.bitCount > 8 ? 3 : 1);
  }
}

struct TSuiteCase {
  const char* file;      // below the suite's folder
  const char* reference; // none: ImageMagick's decoding of the file
  int tolerance;         // 5- and 6-bit channels are widened by shifting, not scaling
};

TEST(BmpReader, BmpSuiteFilesMatchTheirReferences) {
  const TSuiteCase cases[] = {
      {"g/pal1.bmp", "pal1.png", 0},         {"g/pal1wb.bmp", "pal1.png", 0},
      {"g/pal1bg.bmp", "pal1bg.png", 0},     {"g/pal4.bmp", "pal4.png", 0},
      {"g/pal4gs.bmp", "pal4gs.png", 0},     {"g/pal4rle.bmp", "pal4.png", 0},
      {"g/pal8.bmp", "pal8.png", 0},         {"g/pal8-0.bmp", "pal8.png", 0},
      {"g/pal8gs.bmp", "pal8gs.png", 0},     {"g/pal8os2.bmp", "pal8.png", 0},
      {"g/pal8rle.bmp", "pal8.png", 0},      {"g/pal8topdown.bmp", "pal8.png", 0},
      {"g/pal8v4.bmp", "pal8.png", 0},       {"g/pal8v5.bmp", "pal8.png", 0},
      {"g/pal8w124.bmp", "pal8w124.png", 0}, {"g/pal8w125.bmp", "pal8w125.png", 0},
      {"g/pal8w126.bmp", "pal8w126.png", 0}, {"g/rgb16.bmp", "rgb16.png", 8},
      {"g/rgb16bfdef.bmp", "rgb16.png", 8},  {"g/rgb16-565.bmp", "rgb16-565.png", 8},
      {"g/rgb16-565pal.bmp", "rgb16-565.png", 8}, {"g/rgb24.bmp", "rgb24.png", 0},
      {"g/rgb24pal.bmp", "rgb24.png", 0},    {"g/rgb32.bmp", "rgb24.png", 0},
      {"g/rgb32bf.bmp", "rgb24.png", 0},     {"g/rgb32bfdef.bmp", "rgb24.png", 0},
      // Run-length deltas and early ends leave index 0 where they skip.
      {"q/pal8rletrns.bmp", "pal8rletrns-0.png", 0}, {"q/pal4rletrns.bmp", "pal4rletrns-0.png", 0},
      {"q/pal8rlecut.bmp", "pal8rlecut-0.png", 0},   {"q/pal4rlecut.bmp", "pal4rlecut-0.png", 0},
      // A colour table longer than 2 to the bit count, and pixel data well
      // behind the table.
      {"q/pal8oversizepal.bmp", "pal8.png", 0},      {"q/pal8offs.bmp", "pal8.png", 0},
      // Information headers of 52 and 56 bytes carry their masks.
      {"q/rgb32h52.bmp", "rgb24.png", 0},            {"q/rgba32h56.bmp", nullptr, 0},
      // Channels of 8 bits in 16-bit pixels, and of 10 and 11 bits, which
      // keep their top 8 bits.
      {"b/rgb16-880.bmp", "rgb16-880.png", 0},       {"q/rgb32-111110.bmp", "rgb24.png", 1},
      // OS/2 2.x headers of 64 and 16 bytes, a 64-byte one whose file size
      // field is wrong (ImageMagick 6 reads the colours of the 64-byte ones
      // wrongly; the suite's reference holds), and a 66-byte header.
      {"q/pal8os2v2.bmp", "pal8.png", 0},            {"q/pal8os2v2-16.bmp", "pal8.png", 0},
      {"q/pal8os2v2-sz.bmp", "pal8.png", 0},         {"b/badheadersize.bmp", nullptr, 0},
  };
  for (const TSuiteCase& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = kSuite + c.file;
    auto ours = ReadFile(ReadBmp, path);
    EXPECT_EQ(ours->outcome, TReadOutcome::Complete);
    const TRgbPicture expected =
        c.reference ? PeerDecode(kSuite + "reference/" + c.reference) : PeerDecode(path, "-alpha off");
    EXPECT_EQ(CompareRgb(expected, ImageToRgb(ours->image), c.tolerance), "");
  }
}

// Whatever these hold, reading them must not fault; the sanitizer build
// checks every access.
TEST(BmpReader, QuestionableAndCorruptSuiteFilesNeverFault) {
  for (const char* folder : {"b", "q", "x"}) {
    for (const auto& entry : std::filesystem::directory_iterator(kSuite + folder)) {
      SCOPED_TRACE(entry.path().string());
      ReadFile(ReadBmp, entry.path().string());
    }
  }
}

TEST(BmpReader, TopDownBitmapIsReadTopRowFirst) {
  // Height -3: the first file row is the top row.
  const auto file = BmpFile(2, -3, 8, 0, kFourColours, {1, 2, 0, 0, 2, 3, 0, 0, 3, 1, 0, 0});
  auto ours = ReadBytes(ReadBmp, file.bytes);
  ASSERT_EQ(ours->image.Height(), 3);
  EXPECT_EQ(ours->image.EffectiveXDpi(), 72) << "2835 pixels per metre";
  EXPECT_EQ(IndexRow(ours->image, 0), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(IndexRow(ours->image, 2), (std::vector<uint8_t>{3, 1}));
}

TEST(BmpReader, RunLength8EndOfLineDeltaAndEndOfBitmap) {
  // Width 10, height 4, rows bottom first.
  const std::vector<uint8_t> codes = {
      0x03, 0x01, 0x00, 0x00,             // row 3: three pixels of 1, end of line
      0x00, 0x03, 0x02, 0x03, 0x01, 0x00, // row 2: absolute 2 3 1 and a pad byte,
      0x00, 0x02, 0x04, 0x01,             //        delta 4 right, 1 down
      0x02, 0x02, 0x00, 0x00,             // row 1 from column 7: two pixels of 2
      0x00, 0x01,                         // end of bitmap: row 0 stays 0
  };
  auto ours = ReadBytes(ReadBmp, BmpFile(10, 4, 8, 1, kFourColours, codes).bytes);
  EXPECT_EQ(IndexRow(ours->image, 3), (std::vector<uint8_t>{1, 1, 1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(IndexRow(ours->image, 2), (std::vector<uint8_t>{2, 3, 1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(IndexRow(ours->image, 1), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 2, 2, 0}));
  EXPECT_EQ(IndexRow(ours->image, 0), std::vector<uint8_t>(10, 0));
}

TEST(BmpReader, RunLength4AlternatesNibbles) {
  const std::vector<uint8_t> codes = {
      0x05, 0x12,                   // 1 2 1 2 1
      0x00, 0x03, 0x31, 0x20,       // absolute 3 1 2, two bytes (even, no pad)
      0x00, 0x00, 0x00, 0x01,       // end of line, end of bitmap
  };
  auto ours = ReadBytes(ReadBmp, BmpFile(9, 1, 4, 2, kFourColours, codes).bytes);
  EXPECT_EQ(IndexRow(ours->image, 0), (std::vector<uint8_t>{1, 2, 1, 2, 1, 3, 1, 2, 0}));
}

TEST(BmpReader, RunsPastTheRowOrThePictureAreCut) {
  const std::vector<uint8_t> codes = {
      0xFF, 0x02, 0x00, 0x00,             // row 2: 255 pixels into a row of 4
      0x00, 0x08, 1, 2, 3, 1, 2, 3, 1, 2, // row 1: more absolute pixels than it holds
      0x00, 0x02, 0xFF, 0xFF,             // delta far beyond the picture
  };
  auto ours = ReadBytes(ReadBmp, BmpFile(4, 3, 8, 1, kFourColours, codes).bytes);
  EXPECT_EQ(IndexRow(ours->image, 2), (std::vector<uint8_t>{2, 2, 2, 2}));
  EXPECT_EQ(IndexRow(ours->image, 1), (std::vector<uint8_t>{1, 2, 3, 1}));
  EXPECT_EQ(IndexRow(ours->image, 0), (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST(BmpReader, CompressionIsIgnoredAbove8Bits) {
  // 24 bits with compression 1: plain rows (one pixel, padded to 4 bytes).
  auto ours = ReadBytes(ReadBmp, BmpFile(1, 1, 24, 1, {}, {0x10, 0x20, 0x30, 0}).bytes);
  EXPECT_EQ(IndexRow(ours->image, 0), (std::vector<uint8_t>{0x10, 0x20, 0x30}));
}

TEST(BmpReader, SixteenBitsWithoutMasksAre555) {
  // 7FFF is white of 5 bits per channel; 7C00 pure red.
  auto ours = ReadBytes(ReadBmp, BmpFile(2, 1, 16, 0, {}, {0xFF, 0x7F, 0x00, 0x7C}).bytes);
  EXPECT_EQ(IndexRow(ours->image, 0), (std::vector<uint8_t>{248, 248, 248, 0, 0, 248}));
}

TEST(BmpReader, HeaderKindsAndSizes) {
  // A 108-byte header carries its own 565 masks. In a 64-byte (OS/2 2.x)
  // header compression 3 means Huffman-coded data, which is refused.
  TBytes v4;
  v4.U8({'B', 'M'}).U32(14 + 108 + 4).U32(0).U32(14 + 108);
  v4.U32(108).U32(2).U32(1).U16(1).U16(16).U32(3).U32(4).U32(0).U32(0).U32(0).U32(0);
  v4.U32(0xF800).U32(0x07E0).U32(0x001F).U32(0).Repeat(0, 108 - 56);
  v4.U16(0xFFFF).U16(0x07E0);
  auto ours = ReadBytes(ReadBmp, v4.bytes);
  EXPECT_EQ(IndexRow(ours->image, 0), (std::vector<uint8_t>{248, 252, 248, 0, 252, 0}));

  TBytes os2v2 = v4;
  os2v2.bytes[14] = 64;
  auto refused = ReadBytes(ReadBmp, os2v2.bytes);
  EXPECT_EQ(refused->image.Width(), 1);
  EXPECT_EQ(refused->outcome, TReadOutcome::Failed);

  // Sizes 0 and 65536 and a bit count of 2 leave the blank picture.
  for (auto [width, height, bits] : {std::tuple{0, 1, 8}, {1, 0, 8}, {65536, 1, 8}, {1, 65536, 8}, {1, 1, 2}}) {
    auto blank = ReadBytes(ReadBmp, BmpFile(width, height, bits, 0, kFourColours, {0, 0, 0, 0}).bytes);
    EXPECT_EQ(blank->image.Width(), 1);
    EXPECT_EQ(blank->image.Height(), 1);
  }
  // 65535 a side is a picture of that size, read as far as the data goes.
  for (auto [width, height] : {std::pair{65535, 1}, {1, 65535}}) {
    auto read = ReadBytes(ReadBmp, BmpFile(width, height, 8, 0, kFourColours, {0, 0, 0, 0}).bytes);
    EXPECT_EQ(read->image.Width(), width);
    EXPECT_EQ(read->image.Height(), height);
    EXPECT_EQ(read->outcome, TReadOutcome::Partial);
  }
}

TEST(BmpReader, TruncatedFilesAtEveryLength) {
  TTempDir dir;
  for (const char* command : {"convert rose: -resize 20x13 -colors 200 -type palette -compress rle bmp3:",
                              "convert rose: -resize 20x13 -define bmp:subtype=RGB565 bmp:"}) {
    const std::string path = dir / "cut.bmp";
    ASSERT_EQ(testsupport::Run(std::string(command) + "'" + path + "'"), 0);
    const auto bytes = ReadFileBytes(path);
    ReadEveryPrefix(ReadBmp, bytes);
    // A file cut half way through its pixels keeps the rows before the cut,
    // the bottom row first.
    const size_t dataOffset = bytes[10] | bytes[11] << 8;
    const size_t cut = (dataOffset + bytes.size()) / 2;
    auto whole = ReadBytes(ReadBmp, bytes);
    auto half = ReadBytes(ReadBmp, std::vector<uint8_t>(bytes.begin(), bytes.begin() + cut));
    EXPECT_EQ(half->outcome, TReadOutcome::Partial);
    EXPECT_EQ(IndexRow(half->image, 12), IndexRow(whole->image, 12));
    EXPECT_NE(ImageToRgb(half->image).rgb, ImageToRgb(whole->image).rgb);
  }
}

TEST(BmpReader, QuickLookReducesTheStoredPicture) {
  TProfile options;
  options.Set(IntKey::QuickLook, 1);
  std::vector<uint8_t> rows(300 * 260, 1);
  auto ours = ReadBytes(ReadBmp, BmpFile(300, 260, 8, 0, kFourColours, rows).bytes, options);
  EXPECT_EQ(ours->image.Width(), 150);
  EXPECT_EQ(ours->image.Height(), 130);
}

TEST(BmpReader, StopsWhenProgressAsksTo) {
  std::vector<uint8_t> rows(4 * 10, 1);
  TStopAfter stop(3);
  auto ours = ReadBytes(ReadBmp, BmpFile(4, 10, 8, 0, kFourColours, rows).bytes);
  EXPECT_EQ(ours->outcome, TReadOutcome::Stopped);
  EXPECT_EQ(IndexRow(ours->image, 9), std::vector<uint8_t>(4, 1));
  EXPECT_EQ(IndexRow(ours->image, 7), std::vector<uint8_t>(4, 1));
  EXPECT_EQ(IndexRow(ours->image, 6), std::vector<uint8_t>(4, 0));
}

TDib SmallDib(int32_t width, int32_t height, int32_t bitCount, int32_t compression, std::vector<uint8_t> bits) {
  TDib dib;
  dib.width = width;
  dib.height = height;
  dib.bitCount = bitCount;
  dib.compression = compression;
  dib.colourCount = 4;
  dib.colours[1] = {0, 0, 255, 0};
  dib.colours[2] = {0, 255, 0, 0};
  dib.bits.assign(bits.begin(), bits.end());
  return dib;
}

TEST(BmpReader, AdoptedBitmapsOfOtherKindsAreDecoded) {
  TTestImage holder;
  // RLE8: one row of 1 1 2, end of bitmap.
  holder.image.AdoptBitmap(std::make_unique<TDib>(SmallDib(3, 1, 8, 1, {2, 1, 1, 2, 0, 1})));
  EXPECT_EQ(IndexRow(holder.image, 0), (std::vector<uint8_t>{1, 1, 2}));
  EXPECT_EQ(holder.image.Bitmap().colours[1].red, 255);

  // Top-down 4-bit rows.
  holder.image.AdoptBitmap(std::make_unique<TDib>(SmallDib(2, -2, 4, 0, {0x12, 0, 0, 0, 0x21, 0, 0, 0})));
  EXPECT_EQ(IndexRow(holder.image, 0), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(IndexRow(holder.image, 1), (std::vector<uint8_t>{2, 1}));

  // 16-bit bit fields 565.
  TDib fields = SmallDib(1, 1, 16, 3, {0x1F, 0x00, 0, 0});
  fields.masks = {0xF800, 0x07E0, 0x001F, 0};
  holder.image.AdoptBitmap(std::make_unique<TDib>(fields));
  EXPECT_EQ(IndexRow(holder.image, 0), (std::vector<uint8_t>{248, 0, 0}));
}

TEST(BmpWriter, ImageMagickReadsBackWhatWeWrite) {
  ExpectPeerReadsBackWhatWeWrite(WriteBmp, "bmp", [](const std::vector<uint8_t>& file, int32_t bytesPerPixel) {
    EXPECT_EQ(file[28], bytesPerPixel * 8);
  });
}

TEST(BmpWriter, HeaderAndPaletteFields) {
  auto image = BlankImage();
  image->image.Create(1, 3, 2, 254, 254, 1, 1, 7);
  TTempDir dir;
  ASSERT_EQ(WriteFile(WriteBmp, image->image, dir / "h.bmp"), 0);
  const auto bytes = ReadFileBytes(dir / "h.bmp");
  const uint32_t entries = 256;
  ASSERT_EQ(bytes.size(), 54 + 4 * entries + 2 * 4);
  EXPECT_EQ(bytes[10] | bytes[11] << 8, 54 + 4 * entries);
  EXPECT_EQ(bytes[38] | bytes[39] << 8, 10000) << "254 dpi in pixels per metre";
  EXPECT_EQ(bytes[54 + 4 * 7], 7) << "grey palette entry 7";
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 8, bytes.end()), (std::vector<uint8_t>{7, 7, 7, 0, 7, 7, 7, 0}));
}

TEST(BmpWriter, FailedWritesLeaveNoFile) { ExpectFailedWritesLeaveNoFile(WriteBmp); }

// A 2 x 2 picture, red and green above blue and white, 24-bit or indexed.
void FourColourPicture(TImage& image, int32_t bytesPerPixel) {
  image.Create(1, 2, 2, 1, 1, bytesPerPixel, 1, 0);
  if (bytesPerPixel == 3) {
    const uint8_t rows[2][6] = {{0, 0, 255, 0, 255, 0}, {255, 0, 0, 255, 255, 255}};
    for (int32_t y = 0; y < 2; ++y) image.PutRow(0, y, rows[y], 2);
    return;
  }
  image.SetPalette(MakePalette({{255, 0, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 0}, {255, 255, 255, 0}}));
  const uint8_t rows[2][2] = {{0, 1}, {2, 3}};
  for (int32_t y = 0; y < 2; ++y) image.PutRow(0, y, rows[y], 2);
}

// What a 6 x 4 screen shows of that picture: scaled to 4 x 4, centred, black
// on either side.
TRgbPicture FourColoursOnScreen() {
  TRgbPicture screen{6, 4, {}};
  const uint8_t colours[2][2][3] = {{{255, 0, 0}, {0, 255, 0}}, {{0, 0, 255}, {255, 255, 255}}};
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) {
      const uint8_t black[3] = {0, 0, 0};
      const uint8_t* c = x == 0 || x == 5 ? black : colours[y / 2][(x - 1) / 2];
      screen.rgb.insert(screen.rgb.end(), c, c + 3);
    }
  }
  return screen;
}

TEST(BmpWriter, DeviceFormWritesTheScreenAsTheDisplayShowsIt) {
  // A display palette holding the picture's colours and black, in another
  // order than the picture's, so indices must be mapped.
  const TLogPalette display =
      MakePalette({{255, 255, 255, 0}, {0, 0, 255, 0}, {0, 0, 0, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}});
  struct TCase {
    int32_t pictureBytes;
    int32_t displayBits;
    int expectedBitCount;
  } cases[] = {{3, 24, 24}, {1, 24, 24}, {3, 8, 8}, {1, 8, 8}, {1, 4, 8}};
  TTempDir dir;
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.pictureBytes << " bytes per pixel on " << c.displayBits << " bits");
    TTestImage holder;
    FourColourPicture(holder.image, c.pictureBytes);
    const std::string path = dir / "screen.bmp";
    ASSERT_EQ(WriteBmpForDevice(path.c_str(), holder.image, nullptr, {6, 4, c.displayBits, &display}), kSaveWritten);
    const std::vector<uint8_t> file = ReadFileBytes(path);
    ASSERT_GT(file.size(), 54u);
    EXPECT_EQ(file[28], c.expectedBitCount);
    EXPECT_EQ(file[46], c.expectedBitCount == 8 ? 5 : 0) << "colours used";
    EXPECT_EQ(RunOutput("identify -format '%w %h' '" + path + "'"), "6 4");
    EXPECT_EQ(CompareRgb(FourColoursOnScreen(), PeerDecode(path)), "");
  }
}

TEST(BmpWriter, DeviceFormRefusesAScreenWithoutPixels) {
  TTestImage holder;
  FourColourPicture(holder.image, 3);
  TTempDir dir;
  const std::string path = dir / "none.bmp";
  EXPECT_EQ(WriteBmpForDevice(path.c_str(), holder.image, nullptr, {0, 768, 24, nullptr}), kSaveFailed);
  EXPECT_FALSE(std::filesystem::exists(path));
}

} // namespace
