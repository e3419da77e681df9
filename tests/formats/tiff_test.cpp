// The TIFF adapter against files made by ImageMagick and tiffcp, decoded by
// ImageMagick (or libtiff's tiff2rgba); the libtiff test suite with its
// references; small files written here with libtiff for the value
// conversions, pages, refusals and damaged data; and the writer's files
// checked with tiffdump and read back by ImageMagick.
#include "formats/tiff.h"

#include <tiffio.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include "settings/profile.h"
#include "core/image.h"
#include "core/log_sink.h"
#include "filepkg/filepkg.h"
#include "formats/comment_sink.h"
#include "formats/peer_files_fixture.h"
#include "formats/picture_io.h"
#include "formats/codec_test_fixture.h"
#include "support/peer.h"

namespace {

using namespace testsupport;
using TBytes = std::vector<uint8_t>;

const std::string kPeerTiff = std::string(ZER_TEST_DATA) + "/peer/tiff/";

bool LogHas(const std::string& text) {
  const auto messages = LoggedMessages();
  return std::any_of(messages.begin(), messages.end(),
                     [&](const std::string& m) { return m.find(text) != std::string::npos; });
}

// One page of a handmade file: its tags and the bytes of its rows as
// TIFFWriteScanline takes them (one plane after the other when separate).
struct TPage {
  uint32_t width = 1;
  uint32_t height = 1;
  uint16_t bits = 8;
  uint16_t samples = 1;
  uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t planar = PLANARCONFIG_CONTIG;
  TBytes rows;
  std::function<void(TIFF*)> tags = {}; // further tags
};

void WriteTiffPages(const std::string& path, const std::vector<TPage>& pages) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tif, nullptr);
  for (const TPage& page : pages) {
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, page.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, page.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, page.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, page.planar);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1u);
    if (page.tags) page.tags(tif);
    const bool separate = page.planar == PLANARCONFIG_SEPARATE;
    const tmsize_t line = TIFFScanlineSize(tif);
    const int planes = separate ? page.samples : 1;
    ASSERT_EQ(page.rows.size(), static_cast<size_t>(line) * page.height * planes);
    TBytes copy = page.rows;
    for (int s = 0; s < planes; ++s)
      for (uint32_t y = 0; y < page.height; ++y)
        ASSERT_EQ(TIFFWriteScanline(tif, copy.data() + (s * page.height + y) * line, y, static_cast<uint16_t>(s)), 1);
    TIFFWriteDirectory(tif);
  }
  TIFFClose(tif);
}

TBytes Le16Values(std::initializer_list<uint16_t> values) {
  TBytes bytes;
  for (uint16_t v : values) {
    bytes.push_back(static_cast<uint8_t>(v));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
  }
  return bytes;
}

// 32-bit floating-point samples in the machine's byte order, as libtiff
// writes them.
TBytes FloatValues(std::initializer_list<float> values) {
  TBytes bytes;
  for (float v : values) {
    uint8_t raw[4];
    std::memcpy(raw, &v, 4);
    bytes.insert(bytes.end(), raw, raw + 4);
  }
  return bytes;
}

void FloatSamples(TIFF* tif) { TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP); }

class TiffTest : public peerfiles::TPeerFilesTest<TiffTest> {
public:
  static constexpr const char* kSourceCommand = "convert -seed 5 -size 161x97 plasma:fractal -depth 8";

protected:
  std::string Handmade(const std::string& name, const std::vector<TPage>& pages) {
    const std::string path = *s_dir / name;
    WriteTiffPages(path, pages);
    return path;
  }
  // Reads the file at path through ReadTiff, naming it pageName for the
  // page selection; the picture starts as a 1 x 1 marker picture of type 0.
  void Read(const std::string& path, const std::string& pageName = "") {
    m_image.Create(0, 1, 1, 1, 1, 1, 1, 0);
    TPkgStream* stream = PkgOpen(path.c_str(), "rb");
    ASSERT_NE(stream, nullptr) << path;
    m_outcome = ReadTiff(stream, (pageName.empty() ? path : pageName).c_str(), m_image, m_options);
    PkgClose(stream, 0);
  }
  bool MadePicture() const { return m_image.m_fileType == 5; }
  TReadOutcome m_outcome = TReadOutcome::CannotOpen;
  // Pixel (x, y) as red, green, blue.
  std::array<int, 3> Rgb(int x, int y) const {
    const TRgbPicture picture = ImageToRgb(m_image);
    const uint8_t* p = &picture.rgb[(static_cast<size_t>(y) * picture.width + x) * 3];
    return {p[0], p[1], p[2]};
  }

  TProfile m_options;
  std::unique_ptr<TImage> m_imageOwner = NewImageFor(m_options);
  TImage& m_image = *m_imageOwner;
};

TEST_F(TiffTest, PeerFilesMatchImageMagick) {
  struct TCase {
    const char* name;
    const char* command;
    int tolerance; // colour maps are shifted to 8 bits, ImageMagick rounds; CMYK formulas differ by one
  };
  const TCase cases[] = {
      {"none", "convert IN -compress none OUT", 0},
      {"lzw", "convert IN -compress lzw OUT", 0},
      {"deflate", "convert IN -compress zip OUT", 0},
      {"packbits", "convert IN -compress rle OUT", 0},
      {"jpeg", "convert IN -compress jpeg OUT", 0},
      {"lzw-predictor-strips", "convert IN -compress none IN.tif && tiffcp -c lzw:2 -r 7 IN.tif OUT", 0},
      {"planes", "convert IN -compress none IN.tif && tiffcp -p separate IN.tif OUT", 0},
      {"tiles", "convert IN -compress none IN.tif && tiffcp -t -w 32 -l 48 -c zip IN.tif OUT", 0},
      {"grey8", "convert IN -colorspace gray -depth 8 OUT", 0},
      {"grey4", "convert IN -colorspace gray -depth 4 OUT", 0},
      {"grey16", "convert IN -colorspace gray -depth 16 -compress lzw OUT", 0},
      {"miniswhite", "convert IN -colorspace gray -define tiff:photometric=min-is-white OUT", 0},
      {"rgb16", "convert IN -depth 16 OUT", 0},
      {"palette", "convert IN -colors 200 -type palette OUT", 1},
      {"palette4", "convert IN -colors 16 -type palette -depth 4 OUT", 1},
      {"fax3", "convert IN -monochrome -compress fax OUT", 0},
      {"fax4", "convert IN -monochrome -compress group4 OUT", 0},
      {"fax4-miniswhite", "convert IN -monochrome -define tiff:photometric=min-is-white -compress group4 OUT", 0},
      {"cmyk", "convert IN -colorspace cmyk OUT", 2},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Make(std::string(c.name) + ".tif", c.command);
    Read(path);
    ASSERT_TRUE(MadePicture());
    EXPECT_EQ(CompareRgb(PeerDecode(path, "-colorspace sRGB"), ImageToRgb(m_image), c.tolerance), "");
  }
}

TEST_F(TiffTest, SamplesAndPhotometricDecideThePictureLayout) {
  struct TCase {
    const char* command;
    int bytesPerPixel;
    int white; // the palette entry that is white in an 8-bit picture
  };
  const TCase cases[] = {
      {"convert IN -monochrome -compress group4 OUT", 1, 0}, // written as min-is-white
      {"convert IN -colorspace gray -depth 4 OUT", 1, 15},
      {"convert IN -colorspace gray -depth 16 OUT", 1, 255},
      {"convert IN -compress lzw OUT", 3, 0},
      {"convert IN -colorspace cmyk OUT", 3, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.command);
    Read(Make("layout.tif", c.command));
    EXPECT_EQ(m_image.BytesPerPixel(), c.bytesPerPixel);
    if (c.bytesPerPixel == 3) continue;
    const TRgbQuad& white = m_image.Bitmap().colours[c.white];
    EXPECT_EQ(white.red + white.green + white.blue, 3 * 255);
  }
}

TEST_F(TiffTest, LibtiffSuiteMatchesItsReferences) {
  const std::pair<const char*, const char*> withReference[] = {
      {"rgb-3c-8b.tiff", "rgb-3c-8b.ppm"},
      {"rgb-3c-16b.tiff", "rgb-3c-16b.ppm"},
      {"minisblack-1c-8b.tiff", "minisblack-1c-8b.pgm"},
      {"miniswhite-1c-1b.tiff", "miniswhite-1c-1b.pbm"},
  };
  for (const auto& [file, reference] : withReference) {
    SCOPED_TRACE(file);
    Read(kPeerTiff + file);
    // 16-bit samples are scaled down with truncation, the reference rounds.
    EXPECT_EQ(CompareRgb(ReadPnm(kPeerTiff + reference), ImageToRgb(m_image), 1), "");
  }
  // Old-style JPEG files as libtiff itself turns them into RGB.
  TTempDir dir;
  for (const char* file : {"ojpeg_zackthecat_subsamp22_single_strip.tiff", "ojpeg_chewey_subsamp21_multi_strip.tiff",
                           "quad-tile.jpg.tiff", "palette-1c-4b.tiff", "lzw-single-strip.tiff"}) {
    SCOPED_TRACE(file);
    ASSERT_EQ(testsupport::Run("tiff2rgba -c none '" + kPeerTiff + file + "' " + (dir / "rgba.tif") + " 2>/dev/null"), 0);
    Read(kPeerTiff + file);
    EXPECT_EQ(CompareRgb(PeerDecode(dir / "rgba.tif", "-alpha off"), ImageToRgb(m_image), 1), "");
  }
}

// Grey with alpha in separate PackBits planes, whose alpha is left out, and
// floating-point samples. ImageMagick puts the grey plane of the first file
// into red and blue and the alpha into green, so red is compared. The other
// files carry no range for their values, which run from 74 to 255; the reader
// scales them from the lowest to the highest, and ImageMagick is told that
// range before it reads (it takes 0 to 1 otherwise).
TEST_F(TiffTest, SuiteFilesImageMagickReadsAreRead) {
  const std::pair<const char*, const char*> cases[] = {
      {"minisblack-2c-8b-alpha.tiff", "'IN' -channel R -separate"},
      {"test_float64_predictor2_le_lzw.tif", "-define quantum:minimum=74 -define quantum:maximum=255 'IN'"},
      {"test_float64_predictor2_be_lzw.tif", "-define quantum:minimum=74 -define quantum:maximum=255 'IN'"},
  };
  for (const auto& [file, peerCommand] : cases) {
    SCOPED_TRACE(file);
    const std::string path = kPeerTiff + file;
    Read(path);
    EXPECT_EQ(m_outcome, TReadOutcome::Complete);
    EXPECT_EQ(m_image.BytesPerPixel(), 1);
    std::string command = std::string("convert ") + peerCommand + " -depth 8 OUT";
    command.replace(command.find("IN"), 2, path);
    // ImageMagick rounds the scaled values, we truncate.
    EXPECT_EQ(CompareRgb(ReadPnm(Make(std::string(file) + ".pgm", command)), ImageToRgb(m_image), 1), "");
  }
}

TEST_F(TiffTest, EverySuiteFileReadsWithoutHarm) {
  // Among them directory chains that loop back to themselves and to the
  // first directory, floating-point and two-sample files.
  for (const auto& entry : std::filesystem::directory_iterator(kPeerTiff)) {
    const std::string path = entry.path().string();
    if (entry.path().extension() != ".tif" && entry.path().extension() != ".tiff") continue;
    SCOPED_TRACE(path);
    EXPECT_STREQ(ReadPicture(path.c_str(), m_image, m_options), "tif");
    TPkgStream* stream = PkgOpen(path.c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    EXPECT_GE(TiffPageCount(stream), 1);
    PkgClose(stream, 0);
  }
}

TEST_F(TiffTest, SampleValuesBecomePictureBytes) {
  struct TCase {
    const char* name;
    TPage page;
    std::vector<std::array<int, 3>> expected; // red, green, blue of each pixel
  };
  const TCase cases[] = {
      {"cmyk", {2, 1, 8, 4, PHOTOMETRIC_SEPARATED, PLANARCONFIG_CONTIG, {0, 0, 0, 255, 255, 0, 0, 0}, {}},
       {{0, 0, 0}, {0, 254, 254}}},
      {"grey16-range",
       {3, 1, 16, 1, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, Le16Values({2000, 500, 3500}),
        [](TIFF* tif) {
          TIFFSetField(tif, TIFFTAG_MINSAMPLEVALUE, uint16_t{1000});
          TIFFSetField(tif, TIFFTAG_MAXSAMPLEVALUE, uint16_t{3000});
        }},
       {{127, 127, 127}, {0, 0, 0}, {255, 255, 255}}},
      // An empty range is taken as the whole range instead of dividing by zero.
      {"grey16-empty-range",
       {2, 1, 16, 1, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, Le16Values({65535, 257}),
        [](TIFF* tif) {
          TIFFSetField(tif, TIFFTAG_MINSAMPLEVALUE, uint16_t{7});
          TIFFSetField(tif, TIFFTAG_MAXSAMPLEVALUE, uint16_t{7});
        }},
       {{255, 255, 255}, {1, 1, 1}}},
      {"rgb16", {1, 1, 16, 3, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, Le16Values({65535, 0, 32896}), {}},
       {{255, 0, 128}}},
      // Colour samples of fewer than 8 bits are scaled to the whole range.
      {"rgb4", {2, 1, 4, 3, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, {0xF0, 0x5A, 0x31}, {}},
       {{255, 0, 85}, {170, 51, 17}}},
      {"rgb2", {1, 1, 2, 3, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, {0b11011000}, {}}, {{255, 85, 170}}},
      {"rgba", {1, 1, 8, 4, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, {10, 20, 30, 40},
                [](TIFF* tif) {
                  const uint16_t extra[] = {EXTRASAMPLE_UNSPECIFIED};
                  TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
                }},
       {{10, 20, 30}}},
      {"rgb-planes", {2, 1, 8, 3, PHOTOMETRIC_RGB, PLANARCONFIG_SEPARATE, {1, 2, 3, 4, 5, 6}, {}},
       {{1, 3, 5}, {2, 4, 6}}},
      {"grey12", {2, 1, 12, 1, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, {0xFF, 0xF8, 0x00}, {}},
       {{255, 255, 255}, {127, 127, 127}}},
      {"grey2-miniswhite", {4, 1, 2, 1, PHOTOMETRIC_MINISWHITE, PLANARCONFIG_CONTIG, {0b00011011}, {}},
       {{255, 255, 255}, {170, 170, 170}, {85, 85, 85}, {0, 0, 0}}},
      {"palette2",
       {3, 1, 2, 1, PHOTOMETRIC_PALETTE, PLANARCONFIG_CONTIG, {0b11100100},
        [](TIFF* tif) {
          static uint16_t red[4] = {0xFFFF, 0x1234, 0, 0x8000}, green[4] = {0, 0xFF00, 0, 0x80FF},
                          blue[4] = {0, 0, 0xFFFF, 0x7FFF};
          TIFFSetField(tif, TIFFTAG_COLORMAP, red, green, blue);
        }},
       {{128, 128, 127}, {0, 0, 255}, {18, 255, 0}}},
      // Floating-point samples are scaled from the range the file declares,
      // else from their own lowest to their highest value; not a number is 0.
      {"float-declared-range",
       {4, 1, 32, 1, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, FloatValues({0.5f, 1.0f, 2.0f, 0.0f}),
        [](TIFF* tif) {
          FloatSamples(tif);
          TIFFSetField(tif, TIFFTAG_SMINSAMPLEVALUE, 0.5);
          TIFFSetField(tif, TIFFTAG_SMAXSAMPLEVALUE, 1.5);
        }},
       {{0, 0, 0}, {127, 127, 127}, {255, 255, 255}, {0, 0, 0}}},
      {"float-own-range",
       {3, 1, 32, 1, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, FloatValues({-2.0f, 6.0f, NAN}), FloatSamples},
       {{0, 0, 0}, {255, 255, 255}, {0, 0, 0}}},
      {"grey-alpha", {2, 1, 8, 2, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, {10, 255, 20, 0},
                      [](TIFF* tif) {
                        const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
                        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
                      }},
       {{10, 10, 10}, {20, 20, 20}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    Read(Handmade(std::string(c.name) + ".tif", {c.page}));
    ASSERT_TRUE(MadePicture());
    ASSERT_EQ(m_image.Width(), static_cast<int>(c.expected.size()));
    for (size_t x = 0; x < c.expected.size(); ++x) EXPECT_EQ(Rgb(static_cast<int>(x), 0), c.expected[x]) << x;
  }
}

TEST_F(TiffTest, ResolutionFollowsItsUnit) {
  struct TCase {
    float x;
    float y; // 0: no YResolution tag
    uint16_t unit; // 0: no ResolutionUnit tag
    int xDpi;
    int yDpi;
  };
  const TCase cases[] = {
      {100, 0, RESUNIT_CENTIMETER, 254, 254},
      {300, 150.4f, RESUNIT_INCH, 300, 150},
      {72.5f, 0, 0, 73, 73},
      {300, 300, RESUNIT_NONE, 1, 1},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.x);
    TPage page;
    page.rows = {0};
    page.tags = [&c](TIFF* tif) {
      TIFFSetField(tif, TIFFTAG_XRESOLUTION, c.x);
      if (c.y > 0) TIFFSetField(tif, TIFFTAG_YRESOLUTION, c.y);
      if (c.unit) TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, c.unit);
    };
    Read(Handmade("dpi.tif", {page}));
    EXPECT_EQ(m_image.m_xDpi, c.xDpi);
    EXPECT_EQ(m_image.m_yDpi, c.yDpi);
  }
}

TEST_F(TiffTest, DescriptionBecomesTheComment) {
  CommentText("old text");
  TPage page;
  page.rows = {0};
  page.tags = [](TIFF* tif) { TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, "A field\nof tulips"); };
  Read(Handmade("described.tif", {page}));
  EXPECT_EQ(CommentGetText(), "A field\nof tulips");
  Read(Handmade("plain.tif", {TPage{.rows = {0}}}));
  EXPECT_EQ(CommentGetText(), "");
}

TEST_F(TiffTest, PageSuffixSelectsTheDirectory) {
  const std::string path = Handmade("pages.tif", {TPage{.width = 1, .rows = {10}}, TPage{.width = 2, .rows = {20, 30}}});
  struct TCase {
    std::string name;
    int width; // 0: no picture
  };
  const TCase cases[] = {
      {path, 1},
      {path + "/page0001.tif", 1},
      {path + "/page0002.tif", 2},
      {path + "\\PAGE0002.TIF", 2},
      {path + "/page0003.tif", 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    Read(path, c.name);
    EXPECT_EQ(MadePicture(), c.width > 0);
    if (c.width) {
      EXPECT_EQ(m_image.Width(), c.width);
    }
  }
  TPkgStream* stream = PkgOpen(path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(TiffPageCount(stream), 2);
  PkgClose(stream, 0);
}

TEST_F(TiffTest, PagesOfAPeerMultiPageFile) {
  const std::string path = Make("pages-peer.tif", "convert IN \\( IN -negate -resize 50% \\) -compress lzw OUT");
  for (int page : {1, 2}) {
    SCOPED_TRACE(page);
    Read(path, path + "/page000" + std::to_string(page) + ".tif");
    ASSERT_TRUE(MadePicture());
    EXPECT_EQ(CompareRgb(PeerDecode(path + "[" + std::to_string(page - 1) + "]"), ImageToRgb(m_image)), "");
  }
}

TEST_F(TiffTest, PageOfName) {
  const std::pair<const char*, int> cases[] = {
      {"a.tif/page0003.tif", 3},      {"dir/a.TIF\\Page9999.Tif", 9999}, {"a.tif/page0000.tif", 0},
      {"a.tif/page003.tif", 0},       {"a.gif/page0003.tif", 0},         {"a.tif/page00x3.tif", 0},
      {"a.tif/page0003.tiff", 0},     {"page0003.tif", 0},               {"", 0},
  };
  for (const auto& [name, page] : cases) EXPECT_EQ(TiffPageOfName(name), page) << name;
}

TEST_F(TiffTest, UnusableTagsMakeNoPicture) {
  const TPage cases[] = {
      {.width = kMaxImageSide + 1, .rows = TBytes(kMaxImageSide + 1)},
      {.width = 2, .samples = 2, .photometric = PHOTOMETRIC_RGB, .rows = {1, 2, 3, 4}},
      {.width = 3, .bits = 32, .rows = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
  };
  for (const TPage& page : cases) {
    SCOPED_TRACE(page.width);
    Read(Handmade("refused.tif", {page}));
    EXPECT_FALSE(MadePicture());
    EXPECT_EQ(m_outcome, TReadOutcome::Failed);
  }
}

// A header declaring a picture of 8192 x 4000000000 in a few bytes.
TEST_F(TiffTest, HugeDeclaredSizeIsRefused) {
  const TBytes file = {
      'I', 'I', 42, 0, 8, 0, 0, 0, // header, directory at 8
      6, 0,                        // six entries
      0x00, 0x01, 4, 0, 1, 0, 0, 0, 0x00, 0x20, 0, 0,       // ImageWidth 8192
      0x01, 0x01, 4, 0, 1, 0, 0, 0, 0x00, 0x28, 0x6B, 0xEE, // ImageLength 4000000000
      0x06, 0x01, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0,             // Photometric 1
      0x11, 0x01, 4, 0, 1, 0, 0, 0, 8, 0, 0, 0,             // StripOffsets 8
      0x16, 0x01, 4, 0, 1, 0, 0, 0, 0x00, 0x28, 0x6B, 0xEE, // RowsPerStrip
      0x17, 0x01, 4, 0, 1, 0, 0, 0, 100, 0, 0, 0,           // StripByteCounts 100
      0, 0, 0, 0,                                           // no next directory
  };
  TTempDir dir;
  WriteFileBytes(dir / "huge.tif", file);
  Read(dir / "huge.tif");
  EXPECT_FALSE(MadePicture());
  EXPECT_TRUE(LogHas("TIFF Error: ")) << testing::PrintToString(LoggedMessages());
}

TEST_F(TiffTest, LibraryComplaintsGoToTheLog) {
  TPage page;
  page.rows = {0};
  page.tags = [](TIFF* tif) {
    static const TIFFFieldInfo kPrivate[] = {{65000, 1, 1, TIFF_SHORT, FIELD_CUSTOM, 1, 0, const_cast<char*>("Private")}};
    TIFFMergeFieldInfo(tif, kPrivate, 1);
    TIFFSetField(tif, 65000, uint16_t{7});
  };
  Read(Handmade("private-tag.tif", {page}));
  const auto messages = LoggedMessages();
  const auto warning = std::find_if(messages.begin(), messages.end(),
                                    [](const std::string& m) { return m.rfind("TIFF Warning: TIFFReadDirectory:", 0) == 0; });
  ASSERT_NE(warning, messages.end()) << testing::PrintToString(messages);
  EXPECT_EQ(warning->back(), '.');
}

TEST_F(TiffTest, QuickLookReducesLargePictures) {
  m_options.Set(IntKey::QuickLook, 1);
  const std::string path = Make("big.tif", "convert -size 600x300 gradient: -compress lzw OUT");
  Read(path);
  EXPECT_EQ(m_image.m_reduction, 4);
  EXPECT_EQ(m_image.Width(), 150);
  EXPECT_EQ(m_image.Height(), 75);
  // Every fourth pixel of every fourth row.
  const TRgbPicture peer = PeerDecode(path, "-colorspace sRGB -type TrueColor");
  TRgbPicture expected{150, 75, {}};
  for (int y = 0; y < 300; y += 4)
    for (int x = 0; x < 600; x += 4)
      expected.rgb.insert(expected.rgb.end(), peer.rgb.begin() + (y * 600 + x) * 3, peer.rgb.begin() + (y * 600 + x) * 3 + 3);
  EXPECT_EQ(CompareRgb(expected, ImageToRgb(m_image)), "");
}

TEST_F(TiffTest, ShortFilesKeepTheRowsTheyHold) {
  const std::string path = Make("strips.tif", "convert IN -compress none IN.tif && tiffcp -r 1 IN.tif OUT");
  Read(path);
  const TRgbPicture full = ImageToRgb(m_image);
  TBytes bytes = ReadFileBytes(path);
  // tiffcp puts the pixel data first: rows of 161 x 3 bytes from offset 8.
  const size_t rowBytes = 161 * 3;
  for (size_t rows : {0, 1, 50, 96}) {
    SCOPED_TRACE(rows);
    TBytes cut = bytes;
    // The directory stays; the pixel data after the kept rows is gone.
    std::fill(cut.begin() + 8 + rows * rowBytes, cut.begin() + 8 + 97 * rowBytes, 0);
    TTempDir dir;
    WriteFileBytes(dir / "cut.tif", cut);
    Read(dir / "cut.tif");
    const TRgbPicture got = ImageToRgb(m_image);
    EXPECT_TRUE(std::equal(full.rgb.begin(), full.rgb.begin() + rows * rowBytes, got.rgb.begin()));
  }
  // Cut at every length in steps: never a crash, never a wrong size, and
  // libtiff's complaint in the log.
  for (size_t length = 0; length < bytes.size(); length += 997) {
    TTempDir dir;
    WriteFileBytes(dir / "short.tif", TBytes(bytes.begin(), bytes.begin() + length));
    ClearLoggedMessages();
    Read(dir / "short.tif");
    EXPECT_TRUE(LogHas("TIFF Error: ")) << length;
    EXPECT_NE(m_outcome, TReadOutcome::Complete) << length;
    if (MadePicture()) {
      EXPECT_EQ(m_image.Width(), 161);
    }
  }
}

TEST_F(TiffTest, AbortKeepsThePartialPicture) {
  const std::string path = Make("abort.tif", "convert IN -compress lzw OUT");
  {
    // Progress is reported after every row.
    rlecodecs::TStopAfter stop(10);
    Read(path);
  }
  EXPECT_EQ(m_outcome, TReadOutcome::Stopped);
  const TRgbPicture peer = PeerDecode(path);
  const TRgbPicture got = ImageToRgb(m_image);
  EXPECT_TRUE(std::equal(peer.rgb.begin(), peer.rgb.begin() + 10 * 161 * 3, got.rgb.begin()));
  EXPECT_TRUE(std::all_of(got.rgb.begin() + 10 * 161 * 3, got.rgb.end(), [](uint8_t b) { return b == 0; }));
}

// ---------------------------------------------------------------- writer

class TiffWriterTest : public ::testing::Test {
protected:
  void SetUp() override {
    ClearLoggedMessages();
    CommentChar(0);
  }
  void TearDown() override { CommentChar(0); }
  // An indexed picture of the given colours, its palette sorted as after
  // loading, so that it has as many entries as colours. Index 0 is the
  // most frequent.
  void MakeIndexed(int width, int height, const std::vector<std::array<uint8_t, 3>>& colours) {
    m_image.Create(1, width, height, 90, 90, 1, 1, 0);
    TLogPalette palette;
    palette.count = static_cast<uint16_t>(colours.size());
    for (size_t i = 0; i < colours.size(); ++i) palette.entries[i] = {colours[i][0], colours[i][1], colours[i][2], 0};
    m_image.SetPalette(palette);
    const size_t count = colours.size();
    for (int y = 0; y < height; ++y) {
      uint8_t* row = m_image.RowBuffer(0, y, width);
      for (int x = 0; x < width; ++x) {
        const size_t k = static_cast<size_t>(x / 3 + y) % (2 * count);
        row[x] = static_cast<uint8_t>(k < count ? k : 0);
      }
      m_image.PutRow(0, y, row, width);
    }
    m_image.SortPalette();
  }
  void MakeTrueColour(int width, int height) {
    m_image.Create(1, width, height, 90, 90, 3, 1, 0);
    for (int y = 0; y < height; ++y) {
      uint8_t* row = m_image.RowBuffer(0, y, width);
      for (int x = 0; x < width; ++x) {
        row[x * 3] = static_cast<uint8_t>(x * 255 / width);
        row[x * 3 + 1] = static_cast<uint8_t>(y * 255 / height);
        row[x * 3 + 2] = static_cast<uint8_t>((x * y) % 251);
      }
      m_image.PutRow(0, y, row, width);
    }
  }
  std::string Write(const std::string& name = "out.tif") {
    const std::string path = m_dir / name;
    EXPECT_EQ(WriteTiff(path.c_str(), m_image, m_options, nullptr), 0);
    return path;
  }
  static std::string Tag(const std::string& dump, const std::string& name) {
    const size_t at = dump.find(name + " (");
    if (at == std::string::npos) return "absent";
    const size_t open = dump.find('<', at);
    const size_t close = dump.find('>', open);
    return dump.substr(open + 1, close - open - 1);
  }

  TTempDir m_dir;
  TProfile m_options;
  std::unique_ptr<TImage> m_imageOwner = NewImageFor(m_options);
  TImage& m_image = *m_imageOwner;
};

TEST_F(TiffWriterTest, CompressionFollowsTheTableAndPeersReadTheFile) {
  enum TKind { kBilevel, kBilevelInverted, kPalette, kTrueColour };
  struct TCase {
    TKind kind;
    int setting;
    const char* compression;
    const char* photometric;
    const char* predictor;
  };
  const TCase cases[] = {
      {kBilevel, 1, "1", "1", "absent"},         {kBilevel, 2, "2", "1", "absent"},
      {kBilevel, 3, "3", "1", "absent"},         {kBilevel, 4, "4", "1", "absent"},
      {kBilevel, 5, "4", "1", "absent"},         {kBilevelInverted, 6, "4", "0", "absent"},
      {kPalette, 1, "1", "3", "absent"},         {kPalette, 4, "1", "3", "absent"},
      {kPalette, 5, "5", "3", "absent"},         {kPalette, 6, "32946", "3", "absent"},
      {kTrueColour, 2, "1", "2", "absent"},      {kTrueColour, 5, "5", "2", "2"},
      {kTrueColour, 6, "32946", "2", "2"},       {kTrueColour, 3, "1", "2", "absent"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.kind) + " with " + std::to_string(c.setting));
    if (c.kind == kBilevel) MakeIndexed(203, 61, {{0, 0, 0}, {255, 255, 255}});
    if (c.kind == kBilevelInverted) MakeIndexed(203, 61, {{200, 200, 200}, {10, 10, 10}});
    if (c.kind == kPalette) MakeIndexed(203, 61, {{0, 0, 0}, {255, 0, 0}, {1, 2, 3}, {90, 200, 7}, {255, 255, 255}});
    if (c.kind == kTrueColour) MakeTrueColour(203, 61);
    m_options.Set(IntKey::TIFFCompression, c.setting);
    ClearLoggedMessages();
    const std::string path = Write();
    // libtiff only remarks on the older Deflate code the table asks for.
    EXPECT_FALSE(LogHas("TIFF Error")) << testing::PrintToString(LoggedMessages());
    EXPECT_EQ(LogHas("TIFF Warning"), c.setting == 6 && c.kind >= kPalette);
    const std::string dump = RunOutput("tiffdump '" + path + "'");
    EXPECT_EQ(Tag(dump, "Compression"), c.compression);
    EXPECT_EQ(Tag(dump, "Photometric"), c.photometric);
    EXPECT_EQ(Tag(dump, "Predictor"), c.predictor);
    EXPECT_EQ(Tag(dump, "Software"), "Zerbalin\\0");
    const int lineBytes = c.kind == kTrueColour ? 203 * 3 : c.kind == kPalette ? 203 : 26;
    EXPECT_EQ(Tag(dump, "RowsPerStrip"), std::to_string(32767 / lineBytes));
    EXPECT_EQ(Tag(dump, "XResolution"), "90");
    EXPECT_EQ(Tag(dump, "YResolution"), "90");
    EXPECT_EQ(Tag(dump, "ResolutionUnit"), "2");
    TRgbPicture expected = ImageToRgb(m_image);
    // A bilevel file holds black and white only.
    if (c.kind == kBilevelInverted)
      for (uint8_t& b : expected.rgb) b = b > 128 ? 255 : 0;
    EXPECT_EQ(CompareRgb(expected, PeerDecode(path, "-colorspace sRGB -type TrueColor")), "");
    EXPECT_EQ(testsupport::Run("tiffinfo -D '" + path + "' >/dev/null 2>&1"), 0);
  }
}

TEST_F(TiffWriterTest, CommentAndOrientedOutputAreWritten) {
  MakeTrueColour(40, 30);
  CommentText("Harbour at dawn");
  m_options.Set(IntKey::Rotate, 1);
  const std::string path = Write();
  EXPECT_EQ(RunOutput("tiffinfo '" + path + "' 2>/dev/null").find("Image Width: 30 Image Length: 40") != std::string::npos,
            true);
  EXPECT_NE(RunOutput("tiffdump '" + path + "'").find("Harbour at dawn"), std::string::npos);
}

TEST_F(TiffWriterTest, RoundTripThroughOurReader) {
  MakeIndexed(77, 33, {{0, 0, 0}, {255, 0, 0}, {1, 2, 3}, {90, 200, 7}});
  const TRgbPicture expected = ImageToRgb(m_image);
  const std::string path = Write();
  std::unique_ptr<TImage> back = NewImageFor(m_options);
  EXPECT_STREQ(ReadPicture(path.c_str(), *back, m_options), "tif");
  EXPECT_EQ(CompareRgb(expected, ImageToRgb(*back)), "");
  EXPECT_EQ(back->BytesPerPixel(), 1);
}

TEST(TiffWriter, FailedOrAbortedWritesLeaveNoFile) { rlecodecs::ExpectFailedWritesLeaveNoFile(WriteTiff); }

} // namespace
