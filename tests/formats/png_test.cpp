// The PNG reader against the PngSuite (every colour type and bit depth, plain
// and interlaced, with transparency), decoded by netpbm's pngtopnm; reduced
// reading of interlaced files; text chunks; libpng's hostile files, damaged
// and short data and forged sizes; and the writer's files, read back by
// ImageMagick and checked by pngcheck.
#include "formats/png.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
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

const std::string kPeerPng = std::string(ZER_TEST_DATA) + "/peer/png/";

bool LogHas(const std::string& text) {
  const auto messages = LoggedMessages();
  return std::any_of(messages.begin(), messages.end(),
                     [&](const std::string& m) { return m.find(text) != std::string::npos; });
}

// pngtopnm's reading with transparent pixels mixed into white: it mixes
// into the background at the file's own sample depth, so only white (and
// black) come out the same at every depth.
TRgbPicture Pngtopnm(const std::string& path) {
  TTempDir dir;
  const std::string out = dir / "out.ppm";
  Run("pngtopnm -mix -background=rgb:ff/ff/ff '" + path + "' 2>/dev/null | ppmtoppm | pnmdepth 255 >'" + out + "'");
  return ReadPnm(out);
}

TProfile WhiteBackground() {
  TProfile options;
  options.Set(IntKey::BackgroundRed, 255);
  options.Set(IntKey::BackgroundGreen, 255);
  options.Set(IntKey::BackgroundBlue, 255);
  return options;
}

// Big-endian chunks of a handmade file, with their CRC.
struct TPngBytes {
  // Built from a string: a brace list here trips a false warning of GCC 12.
  TByteString bytes = FromText("\x89PNG\r\n\x1a\n");

  static TByteString FromText(std::string_view text) { return TByteString(text.begin(), text.end()); }

  static void Put32(TByteString& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
  }
  TPngBytes& Chunk(const char* type, const TByteString& data) {
    Put32(bytes, static_cast<uint32_t>(data.size()));
    TByteString body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    bytes.insert(bytes.end(), body.begin(), body.end());
    Put32(bytes, static_cast<uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
    return *this;
  }
  // Width, height, bit depth, colour type, no interlace.
  TPngBytes& Header(uint32_t width, uint32_t height, int depth, int colourType) {
    TByteString data;
    Put32(data, width);
    Put32(data, height);
    data.insert(data.end(), {static_cast<uint8_t>(depth), static_cast<uint8_t>(colourType), 0, 0, 0});
    return Chunk("IHDR", data);
  }
  // Rows of filter byte 0 and the given samples, compressed.
  TPngBytes& Data(const TByteString& rows) {
    TByteString packed(compressBound(static_cast<uLong>(rows.size())));
    uLongf size = static_cast<uLongf>(packed.size());
    compress(packed.data(), &size, rows.data(), static_cast<uLong>(rows.size()));
    packed.resize(size);
    return Chunk("IDAT", packed);
  }
  TPngBytes& End() { return Chunk("IEND", {}); }
};

TByteString Text(const std::string& text) { return TByteString(text.begin(), text.end()); }

// A 2 x 2 grey picture: levels 0, 85 / 170, 255.
TPngBytes SmallGrey() { return TPngBytes().Header(2, 2, 8, 0).Data({0, 0, 85, 0, 170, 255}); }

TEST(PngReader, PngSuiteDecodesLikePngtopnm) {
  const TProfile options = WhiteBackground();
  for (const auto& entry : std::filesystem::directory_iterator(kPeerPng + "pngsuite")) {
    const std::string path = entry.path().string();
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    ClearLoggedMessages();
    const auto read = ReadFile(ReadPng, path, options);
    EXPECT_EQ(read->outcome, TReadOutcome::Complete);
    // Colour type 0 (grey) and 3 (palette) without transparency stay 8-bit;
    // grey with a transparent level is mixed into the background colour.
    const bool indexed = name.find("3p") != std::string::npos ||
                         (name.find("0g") != std::string::npos && name.find("ftb") == std::string::npos);
    EXPECT_EQ(read->image.BytesPerPixel(), indexed ? 1 : 3);
    // 16-bit samples are cut, pngtopnm rounds; mixing rounds differently.
    EXPECT_EQ(CompareRgb(Pngtopnm(path), ImageToRgb(read->image), 1), "");
    EXPECT_TRUE(LoggedMessages().empty());
  }
}

// ImageMagick's files of every colour type it writes, plain and interlaced.
class PngFiles : public peerfiles::TPeerFilesTest<PngFiles> {
public:
  static constexpr const char* kSourceCommand = "convert -seed 9 -size 83x45 plasma:fractal -depth 8";
};

TEST_F(PngFiles, ImageMagickFilesDecodeLikePngtopnm) {
  struct TCase {
    const char* name;
    const char* command;
    int bytesPerPixel;
  };
  const TCase cases[] = {
      {"palette", "convert IN -colors 200 PNG8:OUT", 1},
      {"palette-16", "convert IN -colors 16 -define png:bit-depth=4 PNG8:OUT", 1},
      {"rgb", "convert IN PNG24:OUT", 3},
      {"rgba", "convert IN -alpha set -channel A -fx 'i/w' PNG32:OUT", 3},
      {"rgb-16", "convert IN -depth 16 PNG48:OUT", 3},
      {"rgba-16", "convert IN -depth 16 -alpha set -channel A -fx 'j/h' PNG64:OUT", 3},
      {"grey", "convert IN -colorspace gray -define png:color-type=0 OUT", 1},
      {"grey-alpha", "convert IN -colorspace gray -alpha set -channel A -fx 'i/w' -define png:color-type=4 OUT", 3},
      {"interlaced", "convert IN -interlace PNG PNG24:OUT", 3},
      {"interlaced-palette", "convert IN -colors 60 -interlace PNG PNG8:OUT", 1},
  };
  const TProfile options = WhiteBackground();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Make(std::string(c.name) + ".png", c.command);
    const auto read = ReadFile(ReadPng, path, options);
    EXPECT_EQ(read->outcome, TReadOutcome::Complete);
    EXPECT_EQ(read->image.BytesPerPixel(), c.bytesPerPixel);
    EXPECT_EQ(CompareRgb(Pngtopnm(path), ImageToRgb(read->image), 1), "");
  }
}

// The background colour settings show through a palette's transparent
// entries as through a GIF's transparent colour.
TEST(PngReader, TransparencyShowsTheBackgroundColour) {
  TProfile options;
  options.Set(IntKey::BackgroundRed, 10);
  options.Set(IntKey::BackgroundGreen, 20);
  options.Set(IntKey::BackgroundBlue, 30);
  // Palette: opaque red, fully transparent green, half-transparent blue.
  const TPngBytes file = TPngBytes()
                             .Header(3, 1, 8, 3)
                             .Chunk("PLTE", {255, 0, 0, 0, 255, 0, 0, 0, 255})
                             .Chunk("tRNS", {255, 0, 128})
                             .Data({0, 0, 1, 2})
                             .End();
  const auto read = ReadBytes(ReadPng, file.bytes, options);
  ASSERT_EQ(read->outcome, TReadOutcome::Complete);
  ASSERT_EQ(read->image.BytesPerPixel(), 1);
  const TRgbPicture expected{3, 1, {255, 0, 0, 10, 20, 30, 5, 10, 143}};
  EXPECT_EQ(CompareRgb(expected, ImageToRgb(read->image)), "");

  // Grey and alpha: the same mixing into a 24-bit picture.
  const TPngBytes greyAlpha = TPngBytes().Header(2, 1, 8, 4).Data({0, 200, 255, 100, 0}).End();
  const auto mixed = ReadBytes(ReadPng, greyAlpha.bytes, options);
  ASSERT_EQ(mixed->image.BytesPerPixel(), 3);
  EXPECT_EQ(CompareRgb(TRgbPicture{2, 1, {200, 200, 200, 10, 20, 30}}, ImageToRgb(mixed->image)), "");
}

// With QuickLook the reader keeps every reduction-th pixel of every
// reduction-th row, plain or interlaced, as the other readers do.
TEST(PngReader, ReducedReadingTakesEveryReductionthPixel) {
  TTempDir dir;
  for (const char* interlace : {"None", "PNG"}) {
    SCOPED_TRACE(interlace);
    const std::string path = dir / (std::string(interlace) + ".png");
    ASSERT_EQ(testsupport::Run(std::string("convert -seed 5 -size 403x261 plasma:fractal -depth 8 -interlace ") + interlace + " '" +
                  path + "'"),
              0);
    const auto whole = ReadFile(ReadPng, path);
    TProfile options;
    options.Set(IntKey::QuickLook, 1); // 403 / 128 = 3
    const auto reduced = ReadFile(ReadPng, path, options);
    ASSERT_EQ(reduced->outcome, TReadOutcome::Complete);
    EXPECT_EQ(CompareRgb(Pngtopnm(path), ImageToRgb(whole->image)), "");
    const TRgbPicture all = ImageToRgb(whole->image);
    TRgbPicture expected{134, 87, {}};
    for (int y = 0; y < expected.height; ++y)
      for (int x = 0; x < expected.width; ++x)
        for (int c = 0; c < 3; ++c) expected.rgb.push_back(all.rgb[(static_cast<size_t>(3 * y) * all.width + 3 * x) * 3 + c]);
    EXPECT_EQ(CompareRgb(expected, ImageToRgb(reduced->image)), "");
  }
}

TEST(PngReader, TextChunksBecomeTheComment) {
  const TPngBytes file = SmallGrey()
                             .Chunk("tEXt", Text(std::string("Title\0Roses", 11)))
                             .Chunk("zTXt", [] {
                               // Keyword, compression method 0, deflated text.
                               TByteString data = Text(std::string("Author\0\0", 8));
                               TByteString packed(64);
                               uLongf size = 64;
                               compress(packed.data(), &size, reinterpret_cast<const Bytef*>("Ann"), 3);
                               data.insert(data.end(), packed.begin(), packed.begin() + size);
                               return data;
                             }())
                             .Chunk("tEXt", Text(std::string("Comment\0in the garden", 21)))
                             .End();
  CommentChar(0);
  ReadBytes(ReadPng, file.bytes);
  EXPECT_EQ(CommentGetText(), "Title: Roses\nAuthor: Ann\nin the garden");
}

TEST(PngReader, PhysicalSizeGivesTheResolution) {
  // 11811 pixels per metre are 300 per inch; 3937 are 100.
  const TPngBytes file = TPngBytes()
                             .Header(2, 2, 8, 0)
                             .Chunk("pHYs", {0, 0, 0x2E, 0x23, 0, 0, 0x0F, 0x61, 1})
                             .Data({0, 0, 85, 0, 170, 255})
                             .End();
  const auto read = ReadBytes(ReadPng, file.bytes);
  EXPECT_EQ(read->image.m_xDpi, 300);
  EXPECT_EQ(read->image.m_yDpi, 100);
}

// libpng's hostile files (chunks declaring gigabytes, which must not be
// allocated, bad CRC and Adler
// sums, palette indices beyond the palette) and every damage of a small
// file: no crash, a clear outcome, and the library's complaint in the log.
TEST(PngReader, HostileFilesFailCleanly) {
  // In a child process, whose peak memory use shows what the files claimed.
  const int status = RunWithFileSizeLimit(1 << 20, [] {
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    for (const auto& entry : std::filesystem::directory_iterator(kPeerPng + "crashers")) {
      ClearLoggedMessages();
      const auto read = ReadFile(ReadPng, entry.path().string());
      if (read->outcome != TReadOutcome::Complete && !LogHas("PNG Error: ")) return 2;
      if (read->outcome == TReadOutcome::Stopped || read->outcome == TReadOutcome::CannotOpen) return 3;
    }
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    return after.ru_maxrss - before.ru_maxrss < 64 * 1024 ? 0 : 1;
  });
  EXPECT_EQ(status, 0) << "1: too much memory; 2: a failure without its reason in the log";
  ClearLoggedMessages();
  const auto badCrc = ReadFile(ReadPng, kPeerPng + "crashers/badcrc.png");
  EXPECT_EQ(badCrc->outcome, TReadOutcome::Partial);
  EXPECT_TRUE(LogHas("CRC error"));

  ReadEveryPrefix(ReadPng, ReadFileBytes(kPeerPng + "pngsuite/ibasn3p04.png"));
  const TByteString good = ReadFileBytes(kPeerPng + "pngsuite/basn6a08.png");
  for (size_t at = 8; at < good.size(); at += 7) {
    TByteString damaged = good;
    damaged[at] ^= 0x5A;
    ReadBytes(ReadPng, damaged);
  }
}

TEST(PngReader, ShortDataKeepsTheRowsRead) {
  const TByteString whole = ReadFileBytes(kPeerPng + "pngsuite/basn2c08.png");
  // The file's data ends inside its IDAT chunk.
  const auto read = ReadBytes(ReadPng, TByteString(whole.begin(), whole.begin() + whole.size() * 2 / 3));
  EXPECT_EQ(read->outcome, TReadOutcome::Partial);
  EXPECT_EQ(read->image.Width(), 32);
  // Without data no picture is made.
  const TByteString headerOnly = TPngBytes().Header(5, 5, 8, 2).bytes;
  EXPECT_EQ(ReadBytes(ReadPng, headerOnly)->outcome, TReadOutcome::Failed);
}

// A header declaring 100000 x 100000 pixels over a few bytes of data gets a
// reduced picture and ends where the data ends.
TEST(PngReader, ForgedHugeSizeCostsOnlyTheDataThere) {
  const TPngBytes file = TPngBytes().Header(100000, 100000, 8, 0).Data(TByteString(2002, 7)).End();
  const auto read = ReadBytes(ReadPng, file.bytes);
  EXPECT_EQ(read->outcome, TReadOutcome::Partial);
  EXPECT_LE(read->image.Width(), kMaxImageSide);
  EXPECT_TRUE(LogHas("PNG Error: "));
  // Wider than a file row may be: refused before any picture is made.
  const TPngBytes wide = TPngBytes().Header(kMaxFileRowPixels + 1, 1, 8, 0).Data({0, 0}).End();
  EXPECT_EQ(ReadBytes(ReadPng, wide.bytes)->outcome, TReadOutcome::Failed);
}

TEST(PngReader, StopEndsReadingAsStopped) {
  TStopAfter stop(3);
  EXPECT_EQ(ReadFile(ReadPng, kPeerPng + "pngsuite/ibasn2c08.png")->outcome, TReadOutcome::Stopped);
}

TEST(PngWriter, PeerReadsBackWhatWeWrite) {
  ExpectPeerReadsBackWhatWeWrite(WritePng, "png", [](const TByteString& bytes, int32_t bytesPerPixel) {
    TTempDir dir;
    WriteFileBytes(dir / "out.png", bytes);
    EXPECT_EQ(testsupport::Run("pngcheck -q '" + dir / "out.png" + "' >/dev/null"), 0);
    // IHDR's colour type: 3 palette, 2 RGB; bit depth 8.
    ASSERT_GT(bytes.size(), 26u);
    EXPECT_EQ(bytes[24], 8);
    EXPECT_EQ(bytes[25], bytesPerPixel == 1 ? 3 : 2);
  });
}

TEST(PngWriter, CommentAndResolutionComeBack) {
  TTestImage holder;
  MakeVariedPicture(holder.image);
  holder.image.m_xDpi = holder.image.m_yDpi = 300;
  TTempDir dir;
  CommentChar(0);
  CommentText("a rose");
  ASSERT_EQ(WriteFile(WritePng, holder.image, dir / "out.png"), kSaveWritten);
  CommentChar(0);
  const auto read = ReadFile(ReadPng, dir / "out.png");
  EXPECT_EQ(CommentGetText(), "a rose");
  EXPECT_EQ(read->image.m_xDpi, 300);
  EXPECT_EQ(CompareRgb(ImageToRgb(holder.image), ImageToRgb(read->image)), "");
  // The zlib header of the data: deflate with a 32 KiB window, level 6.
  const TByteString bytes = ReadFileBytes(dir / "out.png");
  const auto data = std::search(bytes.begin(), bytes.end(), std::begin("IDAT"), std::begin("IDAT") + 4);
  ASSERT_LT(data + 6, bytes.end());
  EXPECT_EQ(data[4], 0x78);
  EXPECT_EQ(data[5], 0x9C);
}

// Pictures above the limit are compressed a band of rows at a time; their
// files must be the same pictures. Both ways, several bands and IDAT chunks.
TEST(PngWriter, PicturesCompressedWholeOrInBandsReadBackEqual) {
  TTempDir dir;
  const std::string source = dir / "source.bmp";
  ASSERT_EQ(testsupport::Run("convert -size 1500x1000 -seed 5 plasma:fractal bmp3:'" + source + "'"), 0);
  const auto image = ReadFile(ReadBmp, source);
  for (const size_t limit : {kPngWholeDeflateBytes, size_t{0}}) {
    SCOPED_TRACE(limit);
    SetPngWholeDeflateLimit(limit);
    const std::string out = dir / "out.png";
    ASSERT_EQ(WriteFile(WritePng, image->image, out), kSaveWritten);
    EXPECT_EQ(testsupport::Run("pngcheck -q '" + out + "' >/dev/null"), 0);
    EXPECT_EQ(CompareRgb(PeerDecode(source), PeerDecode(out)), "");
  }
  SetPngWholeDeflateLimit(kPngWholeDeflateBytes);
}

TEST(PngWriter, FailedWritesLeaveNoFile) { ExpectFailedWritesLeaveNoFile(WritePng); }

} // namespace
