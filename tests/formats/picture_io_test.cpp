#include "formats/picture_io.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "settings/profile.h"
#include "core/dither.h"
#include "core/image.h"
#include "core/log_sink.h"
#include "core/progress.h"
#include "filepkg/filepkg.h"
#include "formats/codec_test_fixture.h"
#include "formats/comment_sink.h"
#include "support/peer.h"

using namespace testsupport;

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Concat(std::initializer_list<TBytes> parts) {
  TBytes all;
  for (const TBytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TBytes Text(size_t count) {
  TBytes text(count);
  for (size_t i = 0; i < count; ++i) text[i] = (i % 64 == 63) ? '\n' : static_cast<uint8_t>('a' + i % 26);
  return text;
}

// Bytes padded with zeros to at least size.
TBytes Padded(TBytes bytes, size_t size = 64) {
  if (bytes.size() < size) bytes.resize(size);
  return bytes;
}

// A 40-byte-header BMP file header: "BM", sizes, then the information
// header whose length is byte 14.
TBytes BmpHeader(uint8_t infoLength) {
  TBytes bytes = Padded({'B', 'M'});
  bytes[10] = 54;           // pixel data offset
  bytes[14] = infoLength;   // information header length
  return bytes;
}

class PictureIoTest : public ::testing::Test {
protected:
  std::string Write(const TBytes& bytes) {
    const std::string path = m_dir / ("f" + std::to_string(m_count++));
    WriteFileBytes(path, bytes);
    return path;
  }

  std::string Read(const std::string& path) { return ReadPicture(path.c_str(), *m_image, m_options, &m_outcome); }

  void ExpectWhite(int width, int height) {
    ASSERT_EQ(m_image->Width(), width);
    ASSERT_EQ(m_image->Height(), height);
    TRgbPicture white{width, height, TBytes(static_cast<size_t>(width) * height * 3, 255)};
    EXPECT_EQ(CompareRgb(white, ImageToRgb(*m_image)), "");
  }

  TTempDir m_dir;
  int m_count = 0;
  TProfile m_options;
  std::unique_ptr<TImage> m_image = NewImageFor(m_options);
  TReadOutcome m_outcome = TReadOutcome::Complete;
};

struct TDetectCase {
  const char* what;
  TBytes bytes;
  const char* result;
};

TEST_F(PictureIoTest, DetectsEachSignatureInItsOrder) {
  const TDetectCase cases[] = {
      {"GIF87a", Padded({'G', 'I', 'F', '8', '7', 'a'}), "gif"},
      {"GIF89a behind 600 bytes of text", Concat({Text(600), Padded({'G', 'I', 'F', '8', '9', 'a'})}), "gif"},
      {"GIF behind 1023 bytes", Concat({Text(1023), Padded({'G', 'I', 'F', '8', '9', 'a'})}), "gif"},
      {"GIF behind 1024 bytes is past the search", Concat({Text(1024), Padded({'G', 'I', 'F', '8', '9', 'a'})}), "???"},
      {"GIF88a", Padded({'G', 'I', 'F', '8', '8', 'a'}), "???"},
      {"JFIF start", Padded({0xFF, 0xD8, 0xFF, 0xE0}), "jpg"},
      {"JPEG behind a mail header", Concat({Text(100), Padded({0xFF, 0xD8, 0xFF})}), "jpg"},
      {"07 20 MM behind data", Concat({Text(7), Padded({0x07, 0x20, 0x4D, 0x4D})}), "jpg"},
      {"SFW94A behind data", Concat({Text(5), Padded({'S', 'F', 'W', '9', '4', 'A'})}), "jpg"},
      {"80 3E 44 53 at the start", Padded({0x80, 0x3E, 0x44, 0x53}), "jpg"},
      {"80 3E 44 53 only at the start", Concat({Text(3), Padded({0x80, 0x3E, 0x44, 0x53})}), "???"},
      {"BM with header length 44 hex", BmpHeader(0x44), "jpg"},
      {"BM with header length 40", BmpHeader(40), "bmp"},
      {"BMP header behind 600 bytes of text", Concat({Text(600), BmpHeader(40)}), "???"},
      {"II 2A 00", Padded({'I', 'I', 0x2A, 0x00}), "tif"},
      {"MM 00 2A", Padded({'M', 'M', 0x00, 0x2A}), "tif"},
      {"MM 00 with any fourth byte", Padded({'M', 'M', 0x00, 0x99}), "tif"},
      {"II 1A with HEAPCCDR (camera file)",
       Padded({'I', 'I', 0x1A, 0x00, 0x00, 0x00, 'H', 'E', 'A', 'P', 'C', 'C', 'D', 'R'}), "tif"},
      {"II 1A without HEAPCCDR", Padded({'I', 'I', 0x1A, 0x00, 0x00, 0x00, 'H', 'E', 'A', 'P'}), "???"},
      {"II 2B 00 (BigTIFF) is not read", Padded({'I', 'I', 0x2B, 0x00}), "???"},
      {"TIFF only at the start", Concat({Text(9), Padded({'I', 'I', 0x2A, 0x00})}), "???"},
      {"PCX version 5", Padded({0x0A, 0x05, 0x01, 0x08}), "pcx"},
      {"PCX version 0", Padded({0x0A, 0x00, 0x01, 0x08}), "pcx"},
      {"PCX version 1 falls to the TGA test", Padded({0x0A, 0x01, 0x01, 0x08}), "tga"},
      {"PCX version 1, no TGA type", Padded({0x0A, 0x01, 0x04, 0x08}), "???"},
      {"TGA colour-map type 1, type 2", Padded({0x00, 0x01, 0x02}), "tga"},
      {"TGA colour-map type 80 hex, type 11", Padded({0x00, 0x80, 0x0B}), "tga"},
      {"TGA colour-map type 2 is not", Padded({0x00, 0x02, 0x02}), "???"},
      {"TGA image type 4 is not", Padded({0x00, 0x00, 0x04}), "???"},
      {"TGA type 1 without a colour map", Padded({0x00, 0x00, 0x01}), "tga"},
      {"icon directory is no TGA", Padded({0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x20, 0x20}), "???"},
      {"cursor directory is no TGA", Padded({0x00, 0x00, 0x02, 0x00, 0x02, 0x00, 0x10, 0x10}), "???"},
      {"placeable metafile", Padded({0xD7, 0xCD, 0xC6, 0x9A}), "wmf"},
      {"plain metafile", Padded({0x02, 0x00, 0x12, 0x00}), "wmf"},
      {"PNG signature", Padded({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}), "png"},
      {"PNG only at the start", Concat({Text(4), Padded({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})}), "???"},
      {"RIFF WEBP", Padded({'R', 'I', 'F', 'F', 0, 1, 0, 0, 'W', 'E', 'B', 'P'}), "webp"},
      {"RIFF WAVE is not", Padded({'R', 'I', 'F', 'F', 0, 1, 0, 0, 'W', 'A', 'V', 'E'}), "???"},
      {"ftyp heic", Padded({0, 0, 0, 24, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c'}), "heif"},
      {"ftyp heix", Padded({0, 0, 0, 24, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'x'}), "heif"},
      {"ftyp mif1", Padded({0, 0, 0, 24, 'f', 't', 'y', 'p', 'm', 'i', 'f', '1'}), "heif"},
      {"ftyp msf1", Padded({0, 0, 0, 24, 'f', 't', 'y', 'p', 'm', 's', 'f', '1'}), "heif"},
      // A box of 258 bytes: as a TGA header, colour-map type 0 and type 1.
      {"ftyp avif never falls to the TGA test", Padded({0, 0, 1, 2, 'f', 't', 'y', 'p', 'a', 'v', 'i', 'f'}), "heif"},
      {"ftyp of another brand", Padded({0, 0, 0, 24, 'f', 't', 'y', 'p', 'm', 'p', '4', '2'}), "???"},
      {"text only", Text(3000), "???"},
      {"empty file", {}, "???"},
  };
  for (const TDetectCase& c : cases) {
    EXPECT_EQ(Read(Write(c.bytes)), c.result) << c.what;
  }
}

// GIF and JPEG data are found behind foreign bytes, and their readers start
// at the signature: the picture equals that of the plain file.
TEST_F(PictureIoTest, PicturesBehindForeignDataReadLikeThePlainFile) {
  for (const std::string extension : {"gif", "jpg"}) {
    SCOPED_TRACE(extension);
    const std::string plain = m_dir / ("plain." + extension);
    ASSERT_EQ(testsupport::Run("convert -size 21x13 plasma:red-green -seed 7 -colors 64 '" + plain + "'"), 0);
    EXPECT_EQ(Read(plain), extension);
    const TRgbPicture expected = ImageToRgb(*m_image);
    ASSERT_EQ(expected.width, 21);
    EXPECT_EQ(Read(Write(Concat({Text(600), ReadFileBytes(plain)}))), extension);
    EXPECT_EQ(CompareRgb(expected, ImageToRgb(*m_image)), "");
  }
}

struct TOutcomeCase {
  std::string what;
  std::string path;
  std::string result;
  TReadOutcome outcome;
  const char* logged = nullptr; // a text the log must hold afterwards
};

// A copy of bytes with every byte from 40 to 60 percent of the way set to
// FF hex.
TBytes Damaged(TBytes bytes) {
  std::fill(bytes.begin() + bytes.size() * 4 / 10, bytes.begin() + bytes.size() * 6 / 10, 0xFF);
  return bytes;
}

// The reader entry says how much it read: whole files, copies cut at 60
// percent of their bytes or damaged in the middle (their rows so far are
// kept), files whose header the reader refuses, files it recognises but
// cannot decode, bytes of no format and names that cannot be opened.
TEST_F(PictureIoTest, OutcomeSaysHowMuchWasRead) {
  std::vector<TOutcomeCase> cases;
  for (const std::string extension : {"gif", "jpg", "bmp", "pcx", "tga", "tif"}) {
    const std::string whole = m_dir / ("whole." + extension);
    ASSERT_EQ(testsupport::Run("convert rose: -compress lzw -define tiff:rows-per-strip=4 '" + whole + "'"), 0);
    const TBytes bytes = ReadFileBytes(whole);
    cases.push_back({"whole " + extension, whole, extension, TReadOutcome::Complete});
    // libtiff wants the directory, which ImageMagick writes at the end.
    const TBytes shortened = extension == "tif" ? Damaged(bytes) : TBytes(bytes.begin(), bytes.begin() + bytes.size() * 6 / 10);
    cases.push_back({"cut " + extension, Write(shortened), extension, TReadOutcome::Partial});
  }
  TBytes badBmp = BmpHeader(40);
  badBmp[28] = 2; // bit count
  TBytes bigGif = Padded({'G', 'I', 'F', '8', '9', 'a', 0x01, 0x21, 0x01, 0x00}); // 8449 wide
  const std::string peerJpeg = std::string(ZER_TEST_DATA) + "/peer/jpeg/";
  const std::string icon = m_dir / "rose.ico";
  ASSERT_EQ(testsupport::Run("convert rose: -resize 32x32 '" + icon + "'"), 0);
  TBytes art = Padded({'J', 'G'});
  art[12] = art[14] = 8;
  const TOutcomeCase more[] = {
      {"BMP of 2 bits a pixel", Write(badBmp), "bmp", TReadOutcome::Failed},
      {"GIF screen 8449 wide without a frame", Write(bigGif), "gif", TReadOutcome::Failed},
      {"GIF without a frame", Write({'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, 0x3B}), "gif", TReadOutcome::Failed},
      {"JPEG start and nothing more", Write(Padded({0xFF, 0xD8, 0xFF})), "jpg", TReadOutcome::Failed},
      {"TIFF without a directory", Write(Padded({'I', 'I', 0x2A, 0x00})), "tif", TReadOutcome::Failed},
      {"12-bit JPEG", peerJpeg + "monkey12.jpg", "jpg", TReadOutcome::Failed, "precision 12"},
      {"icon", icon, "???", TReadOutcome::NotPicture, "Icon and cursor files are not read"},
      {"art picture is not decoded", Write(art), "art", TReadOutcome::Failed},
      {"metafile without a player", Write(Padded({0xD7, 0xCD, 0xC6, 0x9A})), "wmf", TReadOutcome::Failed},
      {"text", Write(Text(3000)), "???", TReadOutcome::NotPicture},
      {"missing name", m_dir / "missing.gif", "???", TReadOutcome::CannotOpen},
  };
  cases.insert(cases.end(), std::begin(more), std::end(more));
  for (const TOutcomeCase& c : cases) {
    SCOPED_TRACE(c.what);
    ClearLoggedMessages();
    EXPECT_EQ(Read(c.path), c.result);
    EXPECT_EQ(m_outcome, c.outcome);
    if (c.logged) {
      const std::vector<std::string> log = LoggedMessages();
      EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) { return line.find(c.logged) != std::string::npos; }))
          << testing::PrintToString(log);
    }
  }
}

// Answers "stop" whenever a package layer asks through AbortProc (percent
// -1), and never to the codecs' own reports.
class TStopPackageWork {
public:
  TStopPackageWork() { SetProgressHook(&kHook); }
  ~TStopPackageWork() { SetProgressHook(nullptr); }

private:
  static int Progress(int percent) { return percent < 0 ? 1 : 0; }
  static void Nothing() {}
  static constexpr TProgressHook kHook{Nothing, Progress, Nothing};
};

// A stop the progress hook answers, whether a codec asks or the package
// asks while it looks for more data, is a stop: the rows so far stay.
TEST_F(PictureIoTest, StoppedReadIsNoFailure) {
  for (const std::string extension : {"gif", "jpg", "bmp", "pcx", "tga", "tif"}) {
    SCOPED_TRACE(extension);
    const std::string path = m_dir / ("whole." + extension);
    ASSERT_EQ(testsupport::Run("convert rose: '" + path + "'"), 0);
    {
      rlecodecs::TStopAfter stop(3);
      EXPECT_EQ(Read(path), extension);
    }
    EXPECT_EQ(m_outcome, TReadOutcome::Stopped);
    EXPECT_EQ(m_image->Width(), 70);
  }
  const std::string whole = m_dir / "whole.bmp";

  // The package is asked for more data once a read goes beyond the bytes it
  // knows of, at the latest at the end of a cut file.
  const TBytes bytes = ReadFileBytes(whole);
  const std::string cut = Write(TBytes(bytes.begin(), bytes.begin() + bytes.size() / 2));
  {
    TStopPackageWork stop;
    EXPECT_EQ(Read(cut), "bmp");
  }
  EXPECT_EQ(m_outcome, TReadOutcome::Stopped);
}

TEST_F(PictureIoTest, UnreadableNamesLeaveTheBlankPicture) {
  BlankPicture(*m_image, 40, 30);
  EXPECT_EQ(Read(Write({})), "???");
  ExpectWhite(1, 1);

  BlankPicture(*m_image, 40, 30);
  EXPECT_EQ(Read(m_dir / "missing.gif"), "???");
  ExpectWhite(1, 1);
}

TEST_F(PictureIoTest, ArtHeaderGivesAWhitePictureOfItsSize) {
  TBytes art = Padded({'J', 'G'});
  art[12] = 0x20; // height, little-endian: 32
  art[13] = 0x00;
  art[14] = 0x40; // width, little-endian: 320
  art[15] = 0x01;
  EXPECT_EQ(Read(Write(art)), "art");
  ExpectWhite(320, 32);

  // Sizes are clamped into 1..65535.
  art[12] = art[13] = 0x00;
  art[14] = art[15] = 0xFF;
  EXPECT_EQ(Read(Write(art)), "art");
  EXPECT_EQ(m_image->Width(), 65535);
  EXPECT_EQ(m_image->Height(), 1);
}

TEST_F(PictureIoTest, ReadingClearsTheCommentText) {
  CommentText("left over from the last picture");
  Read(Write(Text(50)));
  EXPECT_EQ(CommentGetText(), "");
}

// What the metafile player and the progress hook saw during one read.
struct TMetafileProbe {
  int begins = 0;
  int ends = 0;
  std::vector<int> percents;
  bool abortProcSet = false;
  bool abortAsksProgress = false;
  TMetafile metafile;
};
TMetafileProbe g_probe;

std::unique_ptr<TDib> ProbeRenderer(const TMetafile& metafile) {
  g_probe.metafile = metafile;
  g_probe.abortProcSet = PkgGetPtr("AbortProc") != nullptr;
  const size_t reports = g_probe.percents.size();
  PkgAbortRequested(); // must come back as Progress(-1)
  g_probe.abortAsksProgress = g_probe.percents.size() == reports + 1 && g_probe.percents.back() == -1;
  auto dib = std::make_unique<TDib>();
  dib->width = 3;
  dib->height = 2;
  dib->bitCount = 24;
  dib->bits.assign(static_cast<size_t>(dib->Stride()) * 2, 0x80);
  return dib;
}

const TProgressHook kProbeHook{
    [] { ++g_probe.begins; },
    [](int percent) {
      g_probe.percents.push_back(percent);
      return 0;
    },
    [] { ++g_probe.ends; },
};

TEST_F(PictureIoTest, PlaceableMetafileGoesToThePlayerWithItsHeader) {
  g_probe = {};
  SetProgressHook(&kProbeHook);
  SetMetafileRenderer(ProbeRenderer);
  // Key, handle, box (-10, 20, 300, 400), 1440 units per inch, reserved,
  // checksum, then the metafile records.
  const TBytes file = {0xD7, 0xCD, 0xC6, 0x9A, 0, 0, 0xF6, 0xFF, 20, 0, 0x2C, 0x01, 0x90, 0x01,
                       0xA0, 0x05, 0, 0, 0, 0, 0, 0, 1, 0, 9, 0, 0, 3, 7, 7};
  EXPECT_EQ(Read(Write(file)), "wmf");
  SetMetafileRenderer(nullptr);
  SetProgressHook(nullptr);

  EXPECT_EQ(g_probe.metafile.left, -10);
  EXPECT_EQ(g_probe.metafile.top, 20);
  EXPECT_EQ(g_probe.metafile.right, 300);
  EXPECT_EQ(g_probe.metafile.bottom, 400);
  EXPECT_EQ(g_probe.metafile.unitsPerInch, 1440);
  EXPECT_EQ(g_probe.metafile.data, TBytes(file.begin() + 22, file.end()));
  EXPECT_TRUE(g_probe.abortProcSet);
  EXPECT_TRUE(g_probe.abortAsksProgress);
  ASSERT_FALSE(g_probe.percents.empty());
  EXPECT_EQ(g_probe.percents.front(), 0);
  EXPECT_EQ(g_probe.begins, 1);
  EXPECT_EQ(g_probe.ends, 1);
  EXPECT_EQ(PkgGetPtr("AbortProc"), nullptr);
  EXPECT_EQ(m_image->Width(), 3);
  EXPECT_EQ(m_image->Height(), 2);
}

TEST_F(PictureIoTest, PlainMetafileDataStartsAtTheFirstByte) {
  g_probe = {};
  SetMetafileRenderer(ProbeRenderer);
  const TBytes file = Padded({0x02, 0x00, 0x12, 0x00}, 40);
  EXPECT_EQ(Read(Write(file)), "wmf");
  SetMetafileRenderer(nullptr);
  EXPECT_EQ(g_probe.metafile.data, file);
  EXPECT_EQ(g_probe.metafile.unitsPerInch, 0);
}

TEST_F(PictureIoTest, MetafileWithoutPlayerKeepsTheBlankPicture) {
  EXPECT_EQ(Read(Write(Padded({0xD7, 0xCD, 0xC6, 0x9A}))), "wmf");
  ExpectWhite(1, 1);
}

TEST(PictureIoSave, ExtensionDecidesOverTheCode) {
  const struct {
    const char* path;
    int32_t type;
  } cases[] = {
      {"a/b.GIF", 1}, {"x.bmp", 2}, {"x.Pcx", 3}, {"x.tga", 4}, {"x.JPG", 5}, {"x.tif", 6},
      {"x.tiff", 0},  {"x.jpeg", 0}, {"x.png", 0}, {"noext", 0}, {"dir.jpg/name", 0}, {"dir.gif\\name", 0},
      {".gif", 1},
  };
  for (const auto& c : cases) EXPECT_EQ(FileTypeFromExtension(c.path), c.type) << c.path;
}

// A save the user stops says so, and leaves the old file byte for byte and
// nothing beside it.
TEST(PictureIoSave, StoppedSaveKeepsTheOldFile) {
  TTempDir dir;
  TProfile options;
  testsupport::TTestImage holder;
  rlecodecs::MakeVariedPicture(holder.image);
  const TBytes old = {'o', 'l', 'd'};
  for (const char* extension : {"gif", "bmp", "pcx", "tga", "jpg", "tif", "png"}) {
    SCOPED_TRACE(extension);
    const std::string path = dir / (std::string("picture.") + extension);
    WriteFileBytes(path, old);
    TDither ditherer;
    {
      rlecodecs::TStopAfter stop(5);
      EXPECT_EQ(SavePicture(path.c_str(), 0, holder.image, options, &ditherer), kSaveStopped);
    }
    EXPECT_EQ(ReadFileBytes(path), old);
    std::filesystem::remove(path);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
  }
}

// ".png" writes PNG whatever the code; without that extension the six
// codes keep their meaning.
TEST(PictureIoSave, PngExtensionWritesPng) {
  TTempDir dir;
  TProfile options;
  std::unique_ptr<TImage> image = NewImageFor(options);
  BlankPicture(*image, 8, 8);
  TDither ditherer;
  for (const char* name : {"a.png", "b.PNG"}) {
    const std::string path = dir / name;
    ASSERT_EQ(SavePicture(path.c_str(), 1, *image, options, &ditherer), kSaveWritten);
    const TBytes bytes = ReadFileBytes(path);
    ASSERT_GE(bytes.size(), 8u);
    EXPECT_EQ(TBytes(bytes.begin(), bytes.begin() + 4), (TBytes{0x89, 'P', 'N', 'G'})) << name;
    EXPECT_EQ(ReadPicture(path.c_str(), *image, options), std::string("png"));
  }
  const std::string png = dir / "c.png.gif";
  ASSERT_EQ(SavePicture(png.c_str(), 0, *image, options, &ditherer), kSaveWritten);
  EXPECT_EQ(ReadFileBytes(png)[0], 'G');
}

TEST(PictureIoSave, UnknownCodeWritesNothing) {
  TTempDir dir;
  TProfile options;
  std::unique_ptr<TImage> image = NewImageFor(options);
  BlankPicture(*image, 8, 8);
  for (int32_t code : {0, 7, -1, 99}) {
    const std::string path = dir / ("out" + std::to_string(code));
    EXPECT_EQ(SavePicture(path.c_str(), code, *image, options, nullptr), kSaveFailed) << code;
    EXPECT_FALSE(std::filesystem::exists(path)) << code;
  }
}

TEST(PictureIoSave, WriterChosenByExtensionThenCode) {
  TTempDir dir;
  TProfile options;
  std::unique_ptr<TImage> image = NewImageFor(options);
  BlankPicture(*image, 8, 8);
  TDither ditherer;
  const std::string jpeg = dir / "out.JPG";
  const std::string pcx = dir / "out";
  EXPECT_EQ(SavePicture(jpeg.c_str(), kFileTypeGif, *image, options, &ditherer), 0);
  EXPECT_EQ(SavePicture(pcx.c_str(), kFileTypePcx, *image, options, &ditherer), 0);
  const TBytes jpegBytes = ReadFileBytes(jpeg);
  const TBytes pcxBytes = ReadFileBytes(pcx);
  ASSERT_GE(jpegBytes.size(), 3u);
  ASSERT_GE(pcxBytes.size(), 128u);
  EXPECT_EQ(TBytes(jpegBytes.begin(), jpegBytes.begin() + 3), (TBytes{0xFF, 0xD8, 0xFF}));
  EXPECT_EQ(pcxBytes[0], 0x0A);
}

// A ditherer that was never given the picture's palette (one prepared for a
// 24-bit picture, or a fresh one) knows no colours of an 8-bit picture: the
// writers then take the picture's own palette, so colours are kept.
TEST(PictureIoSave, IndexedPictureKeepsItsColoursWithAnUnpreparedDitherer) {
  TTempDir dir;
  TProfile options;
  std::unique_ptr<TImage> image = NewImageFor(options);
  image->Create(1, 4, 2, 1, 1, 1, 1, 0);
  TLogPalette palette;
  palette.count = 4;
  palette.entries[0] = {200, 10, 10, 0};
  palette.entries[1] = {10, 200, 10, 0};
  palette.entries[2] = {10, 10, 200, 0};
  palette.entries[3] = {250, 250, 0, 0};
  image->SetPalette(palette);
  const uint8_t rows[2][4] = {{0, 1, 2, 3}, {3, 2, 1, 0}};
  for (int y = 0; y < 2; ++y) image->PutRow(0, y, rows[y], 4);
  const TRgbPicture expected = ImageToRgb(*image);
  for (const char* extension : {"bmp", "pcx", "tga", "tif", "gif"}) {
    TDither ditherer;
    const std::string path = dir / (std::string("out.") + extension);
    ASSERT_EQ(SavePicture(path.c_str(), kFileTypeBmp, *image, options, &ditherer), 0) << extension;
    EXPECT_EQ(CompareRgb(expected, PeerDecode(path)), "") << extension;
  }
}

} // namespace
