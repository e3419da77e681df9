// The GIF reader and writer. Files made by ImageMagick and giflib's samples
// are decoded and compared pixel for pixel with ImageMagick's decoding;
// handmade files cover the edge cases; every file the writer makes is read
// back by ImageMagick and giflib.
#include "formats/gif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "settings/profile.h"
#include "core/image.h"
#include "core/dither.h"
#include "core/progress.h"
#include "filepkg/filepkg.h"
#include "formats/comment_sink.h"
#include "formats/lzw.h"
#include "formats/codec_test_fixture.h"
#include "support/peer.h"

using namespace testsupport;

namespace {

const std::string kPeerGifs = std::string(ZER_TEST_DATA) + "/peer/gif/";
const std::string kOwnGifs = std::string(ZER_TEST_DATA) + "/gif/";

// The colour a handmade file gives palette entry i: distinct for all 256.
TPaletteEntry FixtureColour(int i) {
  return {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7), 0};
}

// Builds GIF files block by block.
class TGifFile {
public:
  TGifFile& Bytes(std::initializer_list<int> bytes) {
    for (int b : bytes) m_bytes.push_back(static_cast<uint8_t>(b));
    return *this;
  }
  TGifFile& U16(int value) { return Bytes({value & 0xFF, (value >> 8) & 0xFF}); }
  // exponent 1..8 writes a global table of 2^exponent entries; 0 none
  // (the packed byte then still declares 2 entries).
  TGifFile& Screen(int width, int height, int exponent, int background = 0, const char* signature = "GIF89a") {
    m_bytes.insert(m_bytes.end(), signature, signature + 6);
    U16(width).U16(height);
    m_exponent = std::max(exponent, 1);
    Bytes({(exponent > 0 ? 0x80 : 0) | 0x70 | (m_exponent - 1), background, 0});
    if (exponent > 0) Table(1 << exponent);
    return *this;
  }
  TGifFile& Table(int count) {
    for (int i = 0; i < count; ++i) {
      const TPaletteEntry c = FixtureColour(i);
      Bytes({c.red, c.green, c.blue});
    }
    return *this;
  }
  TGifFile& Control(int transparent) {
    return Bytes({0x21, 0xF9, 4, transparent >= 0 ? 1 : 0, 0, 0, std::max(transparent, 0), 0});
  }
  TGifFile& Comment(const std::string& text) {
    Bytes({0x21, 0xFE});
    for (size_t i = 0; i < text.size(); i += 255) {
      const size_t n = std::min<size_t>(255, text.size() - i);
      Bytes({static_cast<int>(n)});
      m_bytes.insert(m_bytes.end(), text.begin() + i, text.begin() + i + n);
    }
    return Bytes({0});
  }
  // The pixels in data order (pass order for an interlaced frame).
  TGifFile& Image(int left, int top, int width, int height, const std::vector<uint8_t>& pixels, int packed = 0,
                  int minCodeSize = 0) {
    Bytes({0x2C}).U16(left).U16(top).U16(width).U16(height).Bytes({packed});
    if (packed & 0x80) Table(2 << (packed & 7));
    const int codeSize = minCodeSize > 0 ? minCodeSize : std::max(2, m_exponent);
    Bytes({codeSize});
    TLzwEncoder encoder;
    encoder.Start(codeSize + 1, TLzwMode::Compress, &TGifFile::SubBlock, this);
    encoder.Write(pixels.data(), static_cast<int32_t>(pixels.size()));
    encoder.Finish();
    return Bytes({0});
  }
  TGifFile& Trailer() { return Bytes({0x3B}); }
  const std::vector<uint8_t>& Data() const { return m_bytes; }

private:
  static bool SubBlock(void* context, const uint8_t* data, int32_t length) {
    auto& self = *static_cast<TGifFile*>(context);
    self.m_bytes.push_back(static_cast<uint8_t>(length));
    self.m_bytes.insert(self.m_bytes.end(), data, data + length);
    return true;
  }

  std::vector<uint8_t> m_bytes;
  int m_exponent = 1;
};

std::vector<uint8_t> Sequence(int count, int modulo) {
  std::vector<uint8_t> pixels(count);
  for (int i = 0; i < count; ++i) pixels[i] = static_cast<uint8_t>(i % modulo);
  return pixels;
}

class GifTest : public ::testing::Test {
protected:
  void SetUp() override {
    CommentChar(0);
    m_options.Set(IntKey::BackgroundRed, kBackground[0]);
    m_options.Set(IntKey::BackgroundGreen, kBackground[1]);
    m_options.Set(IntKey::BackgroundBlue, kBackground[2]);
  }

  void ReadPath(const std::string& path) {
    TPkgStream* stream = PkgOpen(path.c_str(), "rb");
    ASSERT_NE(stream, nullptr) << path;
    ReadGif(stream, m_image, m_options);
    PkgClose(stream, 0);
  }
  // Starts from the blank picture the reader entry leaves, so what a case
  // shows is its own.
  void ReadBytes(const std::vector<uint8_t>& bytes) {
    m_image.Create(1, 1, 1, 1, 1, 1, 1, 0);
    const std::string path = m_dir / "in.gif";
    WriteFileBytes(path, bytes);
    ReadPath(path);
  }
  uint8_t Pixel(int x, int y) const { return m_image.Row(y)[x]; }
  // An 8-bit picture of count palette entries whose pixel (x, y) is
  // (x + 3y) mod count.
  void MakeIndexed(int width, int height, int count) {
    m_image.Create(0, width, height, 1, 1, 1, 1, 0);
    TLogPalette palette;
    palette.count = static_cast<uint16_t>(count);
    for (int i = 0; i < count; ++i) palette.entries[i] = FixtureColour(i);
    m_image.SetPalette(palette);
    for (int y = 0; y < height; ++y) {
      uint8_t* row = m_image.RowBuffer(0, y, width);
      for (int x = 0; x < width; ++x) row[x] = static_cast<uint8_t>((x + 3 * y) % count);
      m_image.PutRow(0, y, row, width);
    }
  }
  // A 24-bit picture of smooth colour gradients.
  void MakeTrueColour(int width, int height) {
    m_image.Create(0, width, height, 1, 1, 3, 1, 0);
    for (int y = 0; y < height; ++y) {
      uint8_t* row = m_image.RowBuffer(0, y, width);
      for (int x = 0; x < width; ++x) {
        row[x * 3] = static_cast<uint8_t>(x * 255 / width);
        row[x * 3 + 1] = static_cast<uint8_t>(y * 255 / height);
        row[x * 3 + 2] = static_cast<uint8_t>((x + y) * 127 / (width + height));
      }
      m_image.PutRow(0, y, row, width);
    }
  }
  std::string Write(TDither* ditherer = nullptr) {
    const std::string path = m_dir / "out.gif";
    EXPECT_EQ(WriteGif(path.c_str(), m_image, m_options, ditherer), 0);
    return path;
  }
  // What ImageMagick shows: every frame laid over the last at its offset,
  // transparent parts and the uncovered screen in our background colour.
  TRgbPicture PeerComposition(const std::string& path) {
    char background[64];
    std::snprintf(background, sizeof background, "-background 'rgb(%d,%d,%d)' -flatten", kBackground[0],
                  kBackground[1], kBackground[2]);
    return PeerDecode(path, background);
  }

  static constexpr int kBackground[3] = {12, 34, 56};
  TTempDir m_dir;
  TProfile m_options;
  TImage m_image{m_options.Ref(IntKey::ZoomMul), m_options.Ref(IntKey::ZoomDiv), m_options.Ref(IntKey::GIFOver),
                 m_options.Ref(IntKey::GIFDpi1),  m_options.Ref(IntKey::GIFDpi2), m_options.Ref(IntKey::GIFDpi3)};
};

// ---------------------------------------------------------------------------
// Reading files of other programs

TEST_F(GifTest, ReadsImageMagickFilesLikeImageMagick) {
  struct TCase {
    const char* name;
    const char* command; // makes OUT
  };
  const TCase cases[] = {
      {"GIF87a, 2 colours", "convert -size 37x23 pattern:checkerboard -colors 2 gif87:OUT"},
      {"4 colours, odd width", "convert -seed 4 -size 33x17 plasma: -colors 4 OUT"},
      {"16 colours", "convert -seed 1 -size 64x48 plasma: -colors 16 OUT"},
      {"256 colours", "convert -seed 2 -size 200x150 plasma: -colors 256 OUT"},
      {"interlaced", "convert -seed 3 -size 61x47 plasma: -colors 64 -interlace GIF OUT"},
      {"interlaced, 3 rows", "convert -size 5x3 gradient: -colors 8 -interlace GIF OUT"},
      {"transparent", "convert -seed 5 -size 40x30 plasma: -colors 8 -fill none -draw 'rectangle 5,5 20,20' OUT"},
      // Three frames over one global palette: the second at an offset with
      // a transparent colour, the third at the lower right.
      {"animation at offsets, transparent", "gifbuild '" ZER_TEST_DATA "/gif/anim_offsets_transparent.txt' >OUT"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = m_dir / "peer.gif";
    std::string command = c.command;
    command.replace(command.find("OUT"), 3, "'" + out + "'");
    for (size_t p = 0; (p = command.find_first_of("()", p)) != std::string::npos; p += 2) command.insert(p, "\\");
    ASSERT_EQ(testsupport::Run(command), 0) << command;
    ReadPath(out);
    EXPECT_EQ(CompareRgb(PeerComposition(out), ImageToRgb(m_image)), "");
  }
}

TEST_F(GifTest, ReadsGiflibSamplesLikeImageMagick) {
  // welcome2.gif is left out: its frames bring palettes of their own, and
  // the one palette of our picture recolours what earlier frames left.
  for (const char* name : {"fire.gif", "gifgrid.gif", "porsche.gif", "sample_1.gif", "sample_1_enlarged.gif",
                           "sample_1_trans.gif", "sample_1_trans_blue.gif", "sample_1_trans_red.gif",
                           "sample_2_animation.gif", "sample_2_animation_green.gif", "sample_2_green_large.gif",
                           "sample_2_green_yellow_diff.gif", "solid2.gif", "treescap-interlaced.gif",
                           "treescap.gif", "wedge.gif", "x-trans.gif"}) {
    SCOPED_TRACE(name);
    ReadPath(kPeerGifs + name);
    EXPECT_EQ(CompareRgb(PeerComposition(kPeerGifs + name), ImageToRgb(m_image)), "");
  }
}

TEST_F(GifTest, FramesWithOwnPalettesUseTheLastPaletteForTheWholePicture) {
  ReadPath(kPeerGifs + "welcome2.gif");
  EXPECT_EQ(m_image.Width(), 290);
  EXPECT_EQ(m_image.Height(), 48);
  // Where the last frame is opaque, the picture is that frame.
  const TRgbPicture peer = PeerDecode(kPeerGifs + "welcome2.gif[-1]", "-alpha off");
  const TRgbPicture ours = ImageToRgb(m_image);
  int equal = 0;
  for (size_t i = 0; i < ours.rgb.size(); i += 3)
    equal += std::equal(&ours.rgb[i], &ours.rgb[i] + 3, &peer.rgb[i]);
  EXPECT_GT(equal, 290 * 48 / 2);
}

// ---------------------------------------------------------------------------
// Handmade files

TEST_F(GifTest, InterlacedRowsArriveInPassOrder) {
  // One column of ten rows whose pixel is its place in the data.
  ReadBytes(TGifFile().Screen(1, 10, 4).Image(0, 0, 1, 10, Sequence(10, 10), 0x40).Trailer().Data());
  const int order[] = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
  for (int k = 0; k < 10; ++k) EXPECT_EQ(Pixel(0, order[k]), k) << "data row " << k;
}

TEST_F(GifTest, ShortInterlacedFramesSkipPassesBelowThem) {
  // Three rows: passes 1 and 2 start below the frame. A second frame lies
  // right below it, which a stray pass would overwrite.
  ReadBytes(TGifFile()
                .Screen(2, 6, 3)
                .Image(0, 3, 2, 3, {7, 7, 7, 7, 7, 7})
                .Image(0, 0, 2, 3, {1, 1, 2, 2, 3, 3}, 0x40)
                .Trailer()
                .Data());
  const int expected[6] = {1, 3, 2, 7, 7, 7};
  for (int y = 0; y < 6; ++y) EXPECT_EQ(Pixel(1, y), expected[y]) << "row " << y;
}

TEST_F(GifTest, EmptyScreenGrowsToTheFirstFrame) {
  ReadBytes(TGifFile().Screen(0, 0, 2).Image(0, 0, 20, 10, Sequence(200, 4)).Trailer().Data());
  EXPECT_EQ(m_image.Width(), 20);
  EXPECT_EQ(m_image.Height(), 16);
  EXPECT_EQ(Pixel(19, 9), 199 % 4);
  EXPECT_EQ(Pixel(5, 12), 0); // below the frame: the background index
}

TEST_F(GifTest, FirstFrameOutsideTheScreenEnlargesIt) {
  ReadBytes(TGifFile().Screen(8, 8, 2, 2).Image(6, 4, 5, 6, Sequence(30, 4)).Trailer().Data());
  EXPECT_EQ(m_image.Width(), 11);
  EXPECT_EQ(m_image.Height(), 10);
  EXPECT_EQ(Pixel(0, 0), 2);
  EXPECT_EQ(Pixel(10, 9), 29 % 4);
}

// Every screen the 16-bit fields can declare is read at its own size.
TEST_F(GifTest, FirstFrameOf65535ColumnsIsStoredWhole) {
  ReadBytes(TGifFile().Screen(16, 16, 2).Image(0, 0, 65535, 1, Sequence(65535, 3)).Trailer().Data());
  EXPECT_EQ(m_image.m_reduction, 1);
  ASSERT_EQ(m_image.Width(), 65535);
  ASSERT_EQ(m_image.Height(), 16);
  for (int x = 0; x < m_image.Width(); ++x) ASSERT_EQ(Pixel(x, 0), x % 3) << x;

  ReadBytes(TGifFile().Screen(4, 65535, 1).Image(0, 0, 1, 1, {1}).Data());
  EXPECT_EQ(m_image.Width(), 4);
  EXPECT_EQ(m_image.Height(), 65535);
  EXPECT_EQ(Pixel(0, 0), 1);
}

TEST_F(GifTest, LaterFrameOutsideTheScreenEndsReading) {
  ReadBytes(TGifFile()
                .Screen(8, 8, 2)
                .Image(0, 0, 8, 8, std::vector<uint8_t>(64, 1))
                .Image(4, 4, 5, 4, std::vector<uint8_t>(20, 2)) // one column too wide
                .Image(0, 0, 2, 2, std::vector<uint8_t>(4, 3))
                .Trailer()
                .Data());
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(Pixel(x, y), 1) << x << "," << y;
}

TEST_F(GifTest, LaterFramesComposeAndTransparentPixelsShowWhatLiesBelow) {
  ReadBytes(TGifFile()
                .Screen(4, 2, 2)
                .Image(0, 0, 4, 2, {1, 1, 1, 1, 1, 1, 1, 1})
                .Control(3)
                .Image(1, 0, 3, 2, {2, 3, 2, 3, 2, 3})
                .Image(0, 1, 1, 1, {0})
                .Trailer()
                .Data());
  const int expected[2][4] = {{1, 2, 1, 2}, {0, 1, 2, 1}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Pixel(x, y), expected[y][x]) << x << "," << y;
  // The control block applied to its frame only; the palette is the last
  // frame's, which has no transparent colour.
  EXPECT_EQ(m_image.Bitmap().colours[3].red, FixtureColour(3).red);
}

TEST_F(GifTest, TransparentColourTakesTheBackgroundAndFillsWhatIsNotDecoded) {
  std::vector<uint8_t> file = TGifFile().Screen(4, 4, 2).Control(2).Image(0, 0, 4, 4, Sequence(16, 4)).Data();
  file.resize(file.size() - 4); // cut the data short
  ReadBytes(file);
  const TRgbQuad entry = m_image.Bitmap().colours[2];
  EXPECT_EQ(entry.red, kBackground[0]);
  EXPECT_EQ(entry.green, kBackground[1]);
  EXPECT_EQ(entry.blue, kBackground[2]);
  EXPECT_EQ(Pixel(3, 3), 2);
  EXPECT_EQ(Pixel(1, 0), 1);
}

TEST_F(GifTest, NoGlobalTableGivesGreys) {
  ReadBytes(TGifFile().Screen(4, 1, 0).Image(0, 0, 4, 1, {0, 1, 1, 0}).Trailer().Data());
  EXPECT_EQ(m_image.Bitmap().colours[0].red, 0);
  EXPECT_EQ(m_image.Bitmap().colours[1].green, 255);
  EXPECT_EQ(Pixel(1, 0), 1);
}

TEST_F(GifTest, CommentsGoToTheCommentText) {
  const std::string text(300, 'c');
  ReadBytes(TGifFile().Screen(2, 2, 1).Comment(text).Image(0, 0, 2, 2, {1, 0, 0, 1}).Comment("!").Trailer().Data());
  EXPECT_EQ(CommentGetText(), text + "!");
}

TEST_F(GifTest, QuickLookStoresAReducedPicture) {
  m_options.Set(IntKey::QuickLook, 1);
  ReadBytes(TGifFile().Screen(512, 260, 8).Image(0, 0, 512, 260, Sequence(512 * 260, 251)).Trailer().Data());
  EXPECT_EQ(m_image.Width(), 128);
  EXPECT_EQ(m_image.Height(), 65);
  EXPECT_EQ(Pixel(3, 2), (8 * 512 + 12) % 251);
}

TEST_F(GifTest, ReducedPictureKeepsWhatLiesBelowTransparentPixels) {
  m_options.Set(IntKey::QuickLook, 1);
  std::vector<uint8_t> top(512 * 256, 5);
  for (int i = 0; i < 512 * 256; i += 3) top[i] = 9;
  ReadBytes(TGifFile()
                .Screen(512, 256, 4)
                .Image(0, 0, 512, 256, std::vector<uint8_t>(512 * 256, 1))
                .Control(5)
                .Image(0, 0, 512, 256, top)
                .Trailer()
                .Data());
  // Stored pixel (x, y) samples file pixel (4x, 4y).
  ASSERT_EQ(m_image.Width(), 128);
  for (int y = 0; y < m_image.Height(); ++y)
    for (int x = 0; x < m_image.Width(); ++x)
      ASSERT_EQ(Pixel(x, y), top[(4 * y) * 512 + 4 * x] == 9 ? 9 : 1) << x << "," << y;
}

TEST_F(GifTest, BadDataEndsReadingAndLeavesTheFill) {
  struct TCase {
    const char* name;
    std::vector<uint8_t> file;
    int width;
    int height;
  };
  std::vector<TCase> cases = {
      {"minimum code size 1", TGifFile().Screen(4, 1, 1, 0).Image(0, 0, 4, 1, {1, 1, 1, 1}, 0, 1).Data(), 4, 1},
      {"minimum code size 9", TGifFile().Screen(4, 1, 1, 0).Image(0, 0, 4, 1, {1, 1, 1, 1}, 0, 9).Data(), 4, 1},
      {"table longer than declared", TGifFile().Screen(4, 1, 1).Table(2).Image(0, 0, 4, 1, {1, 1, 1, 1}).Data(), 1,
       1},
  };
  // Clear, pixel 0, then code 7 while 6 is the next free one; a good frame
  // follows, which must not be read.
  TGifFile corrupt;
  corrupt.Screen(4, 1, 1).Bytes({0x2C, 0, 0, 0, 0, 4, 0, 1, 0, 0, 2, 2, 0xC4, 0x01, 0});
  corrupt.Image(0, 0, 4, 1, {1, 1, 1, 1});
  cases.push_back({"code above the next free one", corrupt.Data(), 4, 1});
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    ReadBytes(c.file);
    EXPECT_EQ(m_image.Width(), c.width);
    EXPECT_EQ(m_image.Height(), c.height);
    for (int x = 0; x < m_image.Width(); ++x) EXPECT_NE(Pixel(x, 0), 1);
  }
}

TEST_F(GifTest, FramesOfZeroSizeAreSkipped) {
  ReadBytes(TGifFile()
                .Screen(3, 1, 2)
                .Image(0, 0, 0, 0, {})
                .Image(1, 0, 0, 1, {})
                .Image(0, 0, 3, 1, {1, 2, 3})
                .Trailer()
                .Data());
  EXPECT_EQ(Pixel(0, 0), 1);
  EXPECT_EQ(Pixel(2, 0), 3);
}

TEST_F(GifTest, IndicesBeyondTheTableAreKept) {
  // A two-entry table with 8-bit codes.
  ReadBytes(TGifFile().Screen(3, 1, 1).Image(0, 0, 3, 1, {0, 1, 200}, 0, 8).Trailer().Data());
  EXPECT_EQ(Pixel(2, 0), 200);
  EXPECT_EQ(m_image.Bitmap().colours[1].red, FixtureColour(1).red);
}

TEST_F(GifTest, TruncatedFilesKeepWhatWasDecoded) {
  const std::vector<uint8_t> file = TGifFile()
                                        .Screen(16, 9, 3, 7)
                                        .Comment("x")
                                        .Control(-1)
                                        .Image(0, 0, 16, 9, Sequence(144, 7), 0x40)
                                        .Trailer()
                                        .Data();
  ReadBytes(file);
  std::vector<uint8_t> full;
  for (int y = 0; y < 9; ++y) full.insert(full.end(), m_image.Row(y), m_image.Row(y) + 16);
  for (size_t length = 0; length < file.size(); ++length) {
    SCOPED_TRACE(length);
    ReadBytes(std::vector<uint8_t>(file.begin(), file.begin() + length));
    if (m_image.Width() != 16) continue; // ended before the frame
    for (int y = 0; y < 9; ++y)
      for (int x = 0; x < 16; ++x) {
        const uint8_t p = Pixel(x, y);
        ASSERT_TRUE(p == full[y * 16 + x] || p == 7) << x << "," << y;
      }
  }
}

TEST_F(GifTest, AbortKeepsThePartialPicture) {
  static int s_rows;
  s_rows = 0;
  static const TProgressHook hook = {nullptr, [](int) { return ++s_rows >= 3 ? 1 : 0; }, nullptr};
  SetProgressHook(&hook);
  ReadBytes(TGifFile()
                .Screen(4, 8, 2, 3)
                .Image(0, 0, 4, 8, std::vector<uint8_t>(32, 1))
                .Image(0, 0, 1, 1, {2})
                .Trailer()
                .Data());
  SetProgressHook(nullptr);
  EXPECT_EQ(Pixel(0, 2), 1);
  EXPECT_EQ(Pixel(0, 3), 3);
  EXPECT_EQ(Pixel(0, 0), 1); // the next frame was not read
}

TEST_F(GifTest, ReadsFromTheStreamPosition) {
  std::vector<uint8_t> file(600, 'x');
  const std::vector<uint8_t> gif = TGifFile().Screen(2, 1, 1).Image(0, 0, 2, 1, {1, 0}).Trailer().Data();
  file.insert(file.end(), gif.begin(), gif.end());
  const std::string path = m_dir / "mail.txt";
  WriteFileBytes(path, file);
  TPkgStream* stream = PkgOpen(path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(PkgSeek(stream, 600, SEEK_SET), 0);
  ReadGif(stream, m_image, m_options);
  PkgClose(stream, 0);
  EXPECT_EQ(m_image.Width(), 2);
  EXPECT_EQ(Pixel(0, 0), 1);
}

// ---------------------------------------------------------------------------
// Writing

// giflib's decoding: gif2rgb writes the pixels as red, green, blue triples.
TRgbPicture GiflibDecode(const std::string& path, int width, int height) {
  TRgbPicture picture;
  if (Run("gif2rgb -1 -o '" + path + ".rgb' '" + path + "' 2>/dev/null") != 0) return picture;
  picture.rgb = ReadFileBytes(path + ".rgb");
  if (picture.rgb.size() == static_cast<size_t>(width) * height * 3) {
    picture.width = width;
    picture.height = height;
  }
  return picture;
}

TEST_F(GifTest, ImageMagickAndGiflibReadBackWhatWeWrite) {
  struct TCase {
    const char* name;
    int lzw;
    int interlaced;
    int transparent;
  };
  const TCase cases[] = {
      {"compressed", 1, 0, 0},
      {"uncompressed", 0, 0, 0},
      {"compressed, interlaced", 1, 1, 0},
      {"uncompressed, interlaced, transparent", 0, 1, 1},
      {"compressed, transparent", 1, 0, 1},
  };
  for (int colours : {2, 5, 16, 129, 256}) {
    MakeIndexed(203, 151, colours);
    const TRgbPicture expected = ImageToRgb(m_image);
    for (const TCase& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", colours " + std::to_string(colours));
      m_options.Set(IntKey::GIFLZWEnable, c.lzw);
      m_options.Set(IntKey::GIFInterlaced, c.interlaced);
      m_options.Set(IntKey::GIFTransparent, c.transparent);
      const std::string path = Write();
      EXPECT_EQ(CompareRgb(expected, PeerDecode(path, "-alpha off")), "");
      EXPECT_EQ(CompareRgb(expected, GiflibDecode(path, 203, 151)), "");
      const std::string dump = RunOutput("giftext '" + path + "'");
      EXPECT_NE(dump.find("GIF file terminated normally"), std::string::npos) << dump;
      EXPECT_EQ(dump.find("Image is Interlaced") != std::string::npos, c.interlaced == 1);
      const std::string transparency =
          "Transparent Index: " + std::to_string(m_image.BorderColour());
      EXPECT_EQ(dump.find(transparency) != std::string::npos, c.transparent == 1) << dump;
    }
  }
}

TEST_F(GifTest, TableAndCodeSizeFollowTheColourCount) {
  struct TCase {
    int colours;
    int lzw;
    int tableSize;
    int minCodeSize;
  };
  const TCase cases[] = {{2, 1, 2, 2}, {2, 0, 128, 7}, {3, 1, 4, 2}, {17, 1, 32, 5}, {17, 0, 128, 7}, {200, 0, 256, 8}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.colours) + " colours, lzw " + std::to_string(c.lzw));
    MakeIndexed(40, 30, c.colours);
    TLogPalette palette;
    m_image.GetPalette(palette);
    palette.count = static_cast<uint16_t>(c.colours);
    TDither ditherer;
    ditherer.SetSourcePalette(&palette, TDitherTarget::Display, TColourMode::Colour, TToneSettings{});
    m_options.Set(IntKey::GIFLZWEnable, c.lzw);
    const std::vector<uint8_t> file = ReadFileBytes(Write(&ditherer));
    ASSERT_GT(file.size(), 13u + 3 * c.tableSize + 11);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "GIF87a");
    EXPECT_EQ(2 << (file[10] & 7), c.tableSize);
    EXPECT_EQ(file[10] & 0x80, 0x80);
    const size_t descriptor = 13 + 3 * c.tableSize;
    ASSERT_EQ(file[descriptor], 0x2C);
    EXPECT_EQ(file[descriptor + 10], c.minCodeSize);
    // Literal codes cost a whole byte per pixel or more.
    if (c.lzw == 0) {
      EXPECT_GE(file.size(), 40u * 30u);
    }
    EXPECT_EQ(CompareRgb(ImageToRgb(m_image), PeerDecode(m_dir / "out.gif")), "");
  }
}

TEST_F(GifTest, CommentIsStoredInSubBlocks) {
  const std::string text = std::string(254, 'a') + "bc" + std::string(44, 'd');
  CommentText(text.c_str());
  MakeIndexed(8, 8, 4);
  const std::string path = Write();
  const std::vector<uint8_t> file = ReadFileBytes(path);
  const std::vector<uint8_t> expectedStart = {0x21, 0xFE, 255};
  const auto at = std::search(file.begin(), file.end(), expectedStart.begin(), expectedStart.end());
  ASSERT_NE(at, file.end());
  const size_t start = at - file.begin();
  EXPECT_EQ(file[start + 3 + 255], 45);
  EXPECT_EQ(file[start + 3 + 255 + 1 + 45], 0);
  EXPECT_EQ(RunOutput("identify -format '%c' '" + path + "'"), text);
  CommentChar(0);
  ReadPath(path);
  EXPECT_EQ(CommentGetText(), text);
}

// The mean colour of every size x size block.
TRgbPicture BlockAverages(const TRgbPicture& picture, int size) {
  TRgbPicture averages;
  averages.width = picture.width / size;
  averages.height = picture.height / size;
  for (int by = 0; by < averages.height; ++by)
    for (int bx = 0; bx < averages.width; ++bx)
      for (int channel = 0; channel < 3; ++channel) {
        int sum = 0;
        for (int y = by * size; y < (by + 1) * size; ++y)
          for (int x = bx * size; x < (bx + 1) * size; ++x) sum += picture.rgb[(y * picture.width + x) * 3 + channel];
        averages.rgb.push_back(static_cast<uint8_t>(sum / (size * size)));
      }
  return averages;
}

TEST_F(GifTest, TrueColourPicturesAreReducedToTheRequestedColours) {
  MakeTrueColour(160, 120);
  const TRgbPicture source = ImageToRgb(m_image);
  for (int colours : {16, 256}) {
    SCOPED_TRACE(colours);
    m_options.Set(IntKey::GIFColors, colours);
    const std::string path = Write();
    const std::string dump = RunOutput("giftext '" + path + "'");
    EXPECT_NE(dump.find("BitsPerPixel = " + std::to_string(colours == 16 ? 4 : 8)), std::string::npos) << dump;
    const TRgbPicture peer = PeerDecode(path);
    EXPECT_EQ(CompareRgb(peer, GiflibDecode(path, 160, 120)), "");
    // Diffusion trades per-pixel error for close local averages; with 16
    // colours median cut leaves the extremes of the gradients out of reach.
    EXPECT_LT(MeanError(BlockAverages(source, 8), BlockAverages(peer, 8)), colours == 16 ? 10.0 : 2.0);
  }
}

TEST(GifWriter, FailedWritesLeaveNoFile) { rlecodecs::ExpectFailedWritesLeaveNoFile(WriteGif); }

TEST_F(GifTest, WritesTheOrientedOutput) {
  MakeIndexed(30, 20, 7);
  m_options.Set(IntKey::Rotate, 1);
  const TRgbPicture peer = PeerDecode(Write());
  EXPECT_EQ(peer.width, 20);
  EXPECT_EQ(peer.height, 30);
}

} // namespace
