// Camera files built from the layouts of the cameras (no sample files of
// them exist): identification, thumbnails, the sensor layouts of the DC120,
// DC25 and CRW, the compressed DC120 data decoded through the JPEG adapter,
// and the colour, histogram and gamma steps.
#include "formats/camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>

#include "settings/profile.h"
#include "core/image.h"
#include "core/tone.h"
#include "filepkg/filepkg.h"
#include "formats/picture_io.h"
#include "formats/codec_test_fixture.h"
#include "formats/tiff.h"
#include "support/peer.h"

namespace {

using namespace testsupport;
using TBytes = std::vector<uint8_t>;

constexpr size_t kHeader = kCameraHeaderSize;

// A file of size bytes starting like a big-endian TIFF file, with text
// (and its terminating zero) at offset.
TBytes CameraFile(size_t offset, const std::string& text, size_t size = kHeader) {
  TBytes file(size, 0);
  file[0] = 'M';
  file[1] = 'M';
  file[3] = 0x2A;
  std::memcpy(file.data() + offset, text.c_str(), text.size() + 1);
  return file;
}

TBytes Dc120File() { return CameraFile(470, "Kodak DC120 ZOOM Digital Camera"); }
TBytes Dc25File() { return CameraFile(386, "KODAK DC25 DIGITAL CAMERA"); }

TBytes CrwFile() {
  TBytes file(26, 0);
  const char head[] = "II\x1a\0\0\0HEAPCCDR";
  std::memcpy(file.data(), head, 14);
  return file;
}

// 10 bytes holding eight 10-bit samples as the CRW packs them.
TBytes PackCrwGroup(const std::array<int, 8>& s) {
  TBytes g(10);
  for (int i = 0; i < 4; ++i) g[i == 0 ? 0 : i + 1] = static_cast<uint8_t>(s[i] >> 2);
  g[1] = static_cast<uint8_t>((s[0] & 3) << 6 | (s[1] & 3) << 4 | (s[2] & 3) << 2 | (s[3] & 3));
  for (int i = 4; i < 8; ++i) g[i + 1] = static_cast<uint8_t>(s[i] >> 2);
  g[9] = static_cast<uint8_t>((s[4] & 3) | (s[5] & 3) << 2 | (s[6] & 3) << 4 | (s[7] & 3) << 6);
  return g;
}

// A CRW row of 896 samples repeating the group.
TBytes CrwRow(const std::array<int, 8>& group) {
  TBytes row;
  const TBytes packed = PackCrwGroup(group);
  for (int i = 0; i < 112; ++i) row.insert(row.end(), packed.begin(), packed.end());
  return row;
}

void Append(TBytes& file, const TBytes& more) { file.insert(file.end(), more.begin(), more.end()); }

class CameraTest : public ::testing::Test {
protected:
  void SetUp() override {
    // The plain sensor values unless a test asks for a step.
    for (IntKey key : {IntKey::EnableKDCColor, IntKey::EnableK25Color, IntKey::EnableCRWColor, IntKey::EnableKDCHisto,
                       IntKey::EnableK25Histo, IntKey::EnableCRWHisto})
      m_options.Set(key, 0);
    for (IntKey key : {IntKey::EnableKDCGamma, IntKey::EnableK25Gamma, IntKey::EnableCRWGamma})
      m_options.Set(key, kGammaIdentity);
  }
  // Reads the bytes through the TIFF entry, as the reader entry does.
  void Read(const TBytes& file) {
    m_image.Create(0, 1, 1, 1, 1, 1, 1, 0);
    WriteFileBytes(m_dir / "camera.tif", file);
    const std::string path = m_dir / "camera.tif";
    TPkgStream* stream = PkgOpen(path.c_str(), "rb");
    ASSERT_NE(stream, nullptr);
    m_outcome = ReadTiff(stream, path.c_str(), m_image, m_options);
    PkgClose(stream, 0);
  }
  std::array<int, 3> Rgb(int x, int y) const {
    const uint8_t* p = m_image.Row(y) + 3 * x;
    return {p[2], p[1], p[0]};
  }
  int Grey(int x, int y) const {
    const auto rgb = Rgb(x, y);
    EXPECT_TRUE(rgb[0] == rgb[1] && rgb[1] == rgb[2]) << x << "," << y;
    return rgb[0];
  }
  void ExpectPicture(int width, int height) {
    EXPECT_EQ(m_image.m_fileType, 5);
    EXPECT_EQ(m_image.Width(), width);
    EXPECT_EQ(m_image.Height(), height);
    EXPECT_EQ(m_image.BytesPerPixel(), 3);
  }

  TTempDir m_dir;
  TProfile m_options;
  std::unique_ptr<TImage> m_imageOwner = NewImageFor(m_options);
  TImage& m_image = *m_imageOwner;
  TReadOutcome m_outcome = TReadOutcome::CannotOpen;
};

TEST(CameraIdentification, TextsAtTheirOffsetsInOrder) {
  struct TCase {
    const char* name;
    TBytes file;
    TCameraKind kind;
  };
  TBytes both = Dc120File();
  std::memcpy(both.data() + 6, "HEAPCCDR", 8);
  TBytes unterminated = Dc25File();
  unterminated[386 + 25] = 'X';
  TBytes crw = CrwFile();
  crw.resize(kHeader);
  TBytes shortFile = Dc120File();
  shortFile.pop_back();
  const TCase cases[] = {
      {"dc120", Dc120File(), TCameraKind::Dc120},
      {"dc50", CameraFile(458, "Kodak Digital Science DC50 Zoom Camera"), TCameraKind::Dc50},
      {"dc40", CameraFile(330, "Digital Camera 40"), TCameraKind::Dc40},
      {"dc25", Dc25File(), TCameraKind::Dc25},
      {"crw", crw, TCameraKind::Crw},
      {"dc120 before crw", both, TCameraKind::Dc120},
      {"case matters", CameraFile(386, "Kodak DC25 Digital Camera"), TCameraKind::None},
      {"text must end there", unterminated, TCameraKind::None},
      {"moved by one", CameraFile(471, "Kodak DC120 ZOOM Digital Camera"), TCameraKind::None},
      {"short file", shortFile, TCameraKind::None},
  };
  for (const TCase& c : cases) EXPECT_EQ(IdentifyCamera(c.file.data(), c.file.size()), c.kind) << c.name;
}

TEST_F(CameraTest, UnrecognisedFilesAreLeftToTheTiffReader) {
  TBytes file = CameraFile(470, "Kodak DC121 ZOOM Digital Camera", 20000);
  Read(file);
  EXPECT_EQ(m_image.m_fileType, 0); // no picture: it is no TIFF file either
}

TEST_F(CameraTest, Thumbnails) {
  struct TCase {
    const char* name;
    TBytes file;
    bool quickLook;
    size_t offset; // from the start, or from the end when fromEnd
    bool fromEnd;
    int width;
    int height;
  };
  const TCase cases[] = {
      {"dc50", CameraFile(458, "Kodak Digital Science DC50 Zoom Camera", 30000), false, 1280, false, 96, 64},
      {"dc40", CameraFile(330, "Digital Camera 40", 40000), false, 18432, true, 96, 64},
      {"dc40 with QuickLook", CameraFile(330, "Digital Camera 40", 40000), true, 18432, true, 96, 64},
      {"dc120 with QuickLook", CameraFile(470, "Kodak DC120 ZOOM Digital Camera", 30000), true, 1280, false, 80, 60},
      {"dc25 with QuickLook", CameraFile(386, "KODAK DC25 DIGITAL CAMERA", 30000), true, 1024, false, 80, 60},
  };
  for (TCase c : cases) {
    SCOPED_TRACE(c.name);
    const size_t start = c.fromEnd ? c.file.size() - c.offset : c.offset;
    // Stored row r, pixel x: red r, green x, blue 7.
    for (int r = 0; r < c.height; ++r)
      for (int x = 0; x < c.width; ++x) {
        uint8_t* p = &c.file[start + (static_cast<size_t>(r) * c.width + x) * 3];
        p[0] = static_cast<uint8_t>(r);
        p[1] = static_cast<uint8_t>(x);
        p[2] = 7;
      }
    m_options.Set(IntKey::QuickLook, c.quickLook);
    Read(c.file);
    ExpectPicture(c.width, c.height);
    EXPECT_EQ(m_image.m_xDpi, 1);
    const int lastRow = c.height - 1;
    EXPECT_EQ(Rgb(5, 0), (std::array<int, 3>{c.fromEnd ? lastRow : 0, 5, 7}));
    EXPECT_EQ(Rgb(9, lastRow), (std::array<int, 3>{c.fromEnd ? 0 : lastRow, 9, 7}));
  }
}

TEST_F(CameraTest, Dc120RawRowsAreRotated) {
  TBytes file = Dc120File();
  file[707] = 1;
  for (int i = 0; i < 976; ++i)
    for (int j = 0; j < 848; ++j) file.push_back(static_cast<uint8_t>((j * 7 + i) & 0xFF));
  Read(file);
  ExpectPicture(848, 976);
  EXPECT_EQ(m_image.m_xDpi, 100);
  EXPECT_EQ(m_image.m_yDpi, 150);
  // Rows 0 to 3 start at file samples 0, 828, 798 and 488.
  const int starts[] = {0, 828, 798, 488};
  for (int i = 0; i < 4; ++i)
    for (int column : {0, 1, 847}) EXPECT_EQ(Grey(column, i), ((column + starts[i]) % 848 * 7 + i) & 0xFF) << i;
}

TEST_F(CameraTest, Dc120ReconstructionVariants) {
  // Red filters (even rows, odd columns) see 200, the others nothing.
  TBytes file = Dc120File();
  file[707] = 1;
  TBytes sensor(976 * 848, 0);
  for (int i = 0; i < 976; i += 2) {
    const int offset = (i * std::array<int, 4>{162, 192, 187, 92}[i & 3] + std::array<int, 4>{0, 636, 424, 212}[i & 3]) % 848;
    for (int column = 1; column < 848; column += 2) sensor[i * 848 + (column + offset) % 848] = 200;
  }
  Append(file, sensor);
  m_options.Set(IntKey::EnableKDCColor, 2);
  Read(file);
  for (int y : {0, 1, 500, 975})
    for (int x : {0, 1, 423, 847}) EXPECT_EQ(Rgb(x, y), (std::array<int, 3>{200, 0, 0})) << x << "," << y;
  m_options.Set(IntKey::EnableKDCColor, 1);
  Read(file);
  for (int y : {0, 1, 975})
    for (int x : {0, 1, 847}) EXPECT_EQ(Grey(x, y), 50) << x << "," << y;
}

// The camera's JPEG stream begins with its Huffman tables right after SOI
// and is stored with the bytes of every 16-bit word exchanged.
TEST_F(CameraTest, Dc120CompressedDataBecomesASensorMosaic) {
  const std::string source = m_dir / "half.ppm";
  const std::string jpeg = m_dir / "half.jpg";
  ASSERT_EQ(testsupport::Run("convert -seed 2 -size 848x488 plasma:fractal -depth 8 " + source + " && cjpeg -outfile " +
                             jpeg + " " + source),
            0);
  const TBytes bytes = ReadFileBytes(jpeg);
  TBytes tables, rest;
  size_t at = 2;
  while (at + 4 <= bytes.size() && bytes[at] == 0xFF && bytes[at + 1] != 0xDA) {
    const size_t length = 2 + (bytes[at + 2] << 8 | bytes[at + 3]);
    TBytes& target = bytes[at + 1] == 0xC4 ? tables : rest;
    if (bytes[at + 1] != 0xE0) target.insert(target.end(), bytes.begin() + at, bytes.begin() + at + length);
    at += length;
  }
  TBytes stream = {0xFF, 0xD8};
  Append(stream, tables);
  Append(stream, rest);
  stream.insert(stream.end(), bytes.begin() + at, bytes.end());
  if (stream.size() % 2) stream.push_back(0);
  for (size_t i = 0; i < stream.size(); i += 2) std::swap(stream[i], stream[i + 1]);
  TBytes file = Dc120File();
  Append(file, stream);
  Read(file);
  ExpectPicture(848, 976);
  // djpeg and the adapter decode alike; every pixel keeps the channel of its
  // filter: green and red on even rows, blue and green on odd rows.
  const std::string decoded = m_dir / "decoded.ppm";
  ASSERT_EQ(testsupport::Run("djpeg -dct fast -nosmooth -outfile " + decoded + " " + jpeg), 0);
  const TRgbPicture reference = ReadPnm(decoded);
  ASSERT_EQ(reference.width, 848);
  for (int y = 0; y < 976; ++y)
    for (int x = 0; x < 848; x += 1 + (x % 97 == 0 ? 0 : 40)) {
      const int channel = y % 2 == 0 ? (x % 2 == 0 ? 1 : 0) : (x % 2 == 0 ? 2 : 1);
      ASSERT_EQ(Grey(x, y), reference.rgb[(static_cast<size_t>(y / 2) * 848 + x) * 3 + channel]) << x << "," << y;
    }
}

// A DC25 row is the 500 pixels from the third one produced.
TEST_F(CameraTest, Dc25Layouts) {
  struct TCase {
    const char* name;
    bool highResolution;
  };
  for (const TCase c : {TCase{"standard", false}, TCase{"high resolution", true}}) {
    SCOPED_TRACE(c.name);
    TBytes file = Dc25File();
    if (c.highResolution) file[551] = 0x40;
    const size_t rowBytes = c.highResolution ? 256 : 512;
    if (!c.highResolution) file.resize(15936, 0);
    for (int y = 0; y < 242; ++y)
      for (size_t j = 0; j < rowBytes; ++j) file.push_back(static_cast<uint8_t>((j + y) & 0xFF));
    Read(file);
    ExpectPicture(500, 242);
    EXPECT_EQ(m_image.m_xDpi, 75);
    EXPECT_EQ(m_image.m_yDpi, 48);
    // Expected plane, then each pixel the mean of its 2 x 2 block (colour
    // key 0); past the right edge the column two to the left, past the
    // bottom the row before.
    std::vector<std::vector<int>> plane(242, std::vector<int>(500));
    for (int y = 0; y < 242; ++y) {
      std::vector<int> v(rowBytes), produced;
      for (size_t j = 0; j < rowBytes; ++j) v[j] = static_cast<int>((j + y) & 0xFF);
      if (c.highResolution) {
        v[0] = v[2];
        v[250] = v[248];
        v[251] = v[249];
        for (int j = 0; j <= 250; j += 2)
          produced.insert(produced.end(), {v[j], v[j + 1], (v[j] + v[j + 2]) / 2, (v[j + 1] + v[j + 3]) / 2});
      } else {
        produced = v;
      }
      std::copy(produced.begin() + 2, produced.begin() + 502, plane[y].begin());
    }
    for (int y : {0, 1, 120, 241})
      for (int x : {0, 1, 2, 250, 498, 499}) {
        const int x1 = x == 499 ? 498 : x + 1;
        const int y1 = y == 241 ? 240 : y + 1;
        EXPECT_EQ(Grey(x, y), (plane[y][x] + plane[y][x1] + plane[y1][x] + plane[y1][x1]) / 4) << x << "," << y;
      }
  }
}

TEST_F(CameraTest, Dc25ColourAndUniformValues) {
  TBytes file = Dc25File();
  file.resize(15936 + 242 * 512, 120);
  // With gamma 5 and no histogram step a uniform sensor passes unchanged.
  Read(file);
  EXPECT_EQ(Grey(0, 0), 120);
  EXPECT_EQ(Grey(499, 241), 120);
  // Colour: c = d = e = f = 120 give blue 120, red 40 and green
  // 120 - (38 x 40 + 15 x 120) / 128 = 95.
  m_options.Set(IntKey::EnableK25Color, 2);
  Read(file);
  for (int y : {0, 1, 241})
    for (int x : {0, 1, 499}) EXPECT_EQ(Rgb(x, y), (std::array<int, 3>{40, 95, 120})) << x << "," << y;
}

// A sensor that sees one flat colour: every value depends only on the
// place in the 2 x 2 filter pattern. Whatever its place, each pixel then
// finds the same four filter values, so the whole picture, edges included,
// takes one colour: c = 120, d = 150, e = 60 and f = 80 give blue
// (840 - 400) / 2 = 220, red (1050 - 300) / 6 = 125 and green
// 410 / 4 - (38 x 125 + 15 x 220) / 128 = 40.
TEST_F(CameraTest, Dc25ColourOfAFlatMosaic) {
  const int kValues[2][2] = {{120, 80}, {60, 150}}; // [row parity][column parity]
  TBytes file = Dc25File();
  file.resize(15936);
  for (int y = 0; y < 242; ++y)
    for (int j = 0; j < 512; ++j) file.push_back(static_cast<uint8_t>(kValues[y & 1][j & 1]));
  m_options.Set(IntKey::EnableK25Color, 2);
  Read(file);
  for (int y : {0, 1, 2, 3, 120, 240, 241})
    for (int x : {0, 1, 2, 3, 250, 498, 499}) EXPECT_EQ(Rgb(x, y), (std::array<int, 3>{125, 40, 220})) << x << "," << y;
}

TEST_F(CameraTest, HistogramStretchAndGamma) {
  // Values 100 to 149 spread over 0..255; then the gamma curve.
  TBytes file = Dc25File();
  file.resize(15936);
  for (int y = 0; y < 242; ++y)
    for (int j = 0; j < 512; ++j) file.push_back(static_cast<uint8_t>(100 + (j + y) % 50));
  m_options.Set(IntKey::EnableK25Histo, 1);
  Read(file);
  int lowest = 255, highest = 0;
  for (int y = 0; y < 242; ++y)
    for (int x = 0; x < 500; ++x) {
      lowest = std::min(lowest, static_cast<int>(m_image.Row(y)[3 * x]));
      highest = std::max(highest, static_cast<int>(m_image.Row(y)[3 * x]));
    }
  EXPECT_LT(lowest, 10);
  EXPECT_GT(highest, 245);
  const int stretched = Grey(10, 10);
  m_options.Set(IntKey::EnableK25Gamma, 2);
  Read(file);
  EXPECT_EQ(Grey(10, 10), GammaTable(2)[stretched]);
}

// Half the picture black, half white: the dark point (191) lies above the
// bright point (33), so the stretch is left out instead of turning black
// into white.
TEST_F(CameraTest, StretchWithoutRangeLeavesThePicture) {
  TBytes file = Dc25File();
  file.resize(15936 + 121 * 512, 0);
  file.resize(15936 + 242 * 512, 255);
  m_options.Set(IntKey::EnableK25Histo, 1);
  Read(file);
  EXPECT_EQ(Grey(0, 0), 0);
  EXPECT_EQ(Grey(0, 241), 255);
}

TEST_F(CameraTest, CrwSamplesRowsAndWhitePoint) {
  // Samples 132 to 139: half of them map to 33 and half to 34, so the white
  // point is 35 and sample v becomes v x 255 / 140.
  TBytes file = CrwFile();
  for (int r = 0; r < 613; ++r) Append(file, CrwRow({132, 133, 134, 135, 136, 137, 138, 139}));
  Read(file);
  ExpectPicture(854, 613);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(Grey(x, 0), (132 + x) * 255 / 140) << x;
  EXPECT_EQ(Grey(853, 612), (132 + 853 % 8) * 255 / 140);

  // File rows 0..306 are the even picture rows, 307..612 the odd ones.
  file = CrwFile();
  for (int r = 0; r < 613; ++r) {
    const int v = r == 1 ? 256 : r == 307 ? 768 : 512;
    Append(file, CrwRow({v, v, v, v, v, v, v, v}));
  }
  Read(file);
  EXPECT_EQ(Grey(0, 0), 512 * 255 / 516);
  EXPECT_EQ(Grey(0, 2), 256 * 255 / 516);
  EXPECT_EQ(Grey(0, 1), 255);
  EXPECT_EQ(Grey(0, 3), 512 * 255 / 516);
}

TEST_F(CameraTest, UniformCrwStaysUniformThroughColour) {
  TBytes file = CrwFile();
  for (int r = 0; r < 613; ++r) Append(file, CrwRow({512, 512, 512, 512, 512, 512, 512, 512}));
  for (int colour : {1, 2}) {
    SCOPED_TRACE(colour);
    m_options.Set(IntKey::EnableCRWColor, colour);
    Read(file);
    for (int y : {0, 1, 2, 3, 612})
      for (int x : {0, 1, 853}) EXPECT_EQ(Grey(x, y), 253) << x << "," << y;
  }
}

// Light that only the magenta filters (or only the green ones) let
// through must come out magenta (or green). The filters repeat every 4
// rows: green and magenta, cyan and yellow, magenta and green, cyan and
// yellow; file row r holds picture row 2r, or 2(r - 307) + 1 from row 307.
TEST_F(CameraTest, CrwColourFollowsTheFilters) {
  struct TCase {
    const char* name;
    int litColumnOnRow0; // the column parity lit on rows 4k; rows 4k + 2 the other
  };
  for (const TCase c : {TCase{"magenta", 1}, TCase{"green", 0}}) {
    SCOPED_TRACE(c.name);
    TBytes file = CrwFile();
    for (int r = 0; r < 613; ++r) {
      const int y = r < 307 ? 2 * r : 2 * (r - 307) + 1;
      std::array<int, 8> group{};
      if (y % 2 == 0)
        for (int x = 0; x < 8; ++x) group[x] = (x & 1) == (c.litColumnOnRow0 ^ (y & 2) >> 1) ? 512 : 0;
      Append(file, CrwRow(group));
    }
    m_options.Set(IntKey::EnableCRWColor, 2);
    Read(file);
    for (int y : {0, 1, 2, 3, 300, 611, 612})
      for (int x : {0, 1, 2, 427, 852, 853}) {
        const std::array<int, 3> rgb = Rgb(x, y);
        if (c.litColumnOnRow0 == 1) {
          EXPECT_EQ(rgb, (std::array<int, 3>{253, 0, 253})) << x << "," << y;
        } else {
          EXPECT_TRUE(rgb[0] == 0 && rgb[1] > 150 && rgb[2] == 0) << x << "," << y << ": " << rgb[1];
        }
      }
  }
}

TEST_F(CameraTest, ShortFilesReadTheEndValue) {
  TBytes file = CrwFile();
  for (int r = 0; r < 100; ++r) Append(file, CrwRow({512, 512, 512, 512, 512, 512, 512, 512}));
  file.resize(file.size() + 5);
  Read(file);
  EXPECT_EQ(m_outcome, TReadOutcome::Partial);
  ExpectPicture(854, 613);
  // 100 rows of 512 and the rest 1023, which the white point leaves out.
  EXPECT_EQ(Grey(0, 0), 512 * 255 / 516);
  EXPECT_EQ(Grey(0, 612), 255);
  for (TBytes head : {Dc120File(), Dc25File()}) {
    head[707] = 1;
    Read(head);
    EXPECT_EQ(m_image.m_fileType, 5);
    EXPECT_EQ(m_outcome, TReadOutcome::Partial);
  }
}

TEST_F(CameraTest, AbortEndsDecoding) {
  TBytes file = Dc25File();
  file.resize(15936 + 242 * 512, 77);
  {
    // Progress is reported after every row.
    rlecodecs::TStopAfter stop(5);
    Read(file);
  }
  EXPECT_EQ(m_outcome, TReadOutcome::Stopped);
  EXPECT_EQ(Grey(0, 4), 77);
  EXPECT_EQ(Grey(0, 5), 0);
}

} // namespace
