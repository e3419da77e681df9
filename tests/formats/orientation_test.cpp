// The orientation cameras record: JPEG files with every EXIF orientation and
// TIFF files with every Orientation tag come out as ImageMagick's
// -auto-orient gives them; values out of range and damaged EXIF blocks
// change nothing; a turned picture keeps its palette, resolution and
// reduction.
#include "formats/orientation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/profile.h"
#include "core/image.h"
#include "formats/codec_test_fixture.h"
#include "formats/jpeg.h"
#include "formats/peer_files_fixture.h"
#include "formats/tiff.h"
#include "support/peer.h"

namespace {

using namespace testsupport;
using namespace rlecodecs;

// The JPEG adapter's reading that equals ImageMagick's: accurate DCT and
// fancy upsampling.
TProfile AccurateJpeg() {
  TProfile options;
  options.Set(IntKey::EnableFastInputDCT, 0);
  options.Set(IntKey::EnableFastUpsampling, 0);
  return options;
}

TReadOutcome ReadJpegFile(TPkgStream* stream, TImage& image, const TProfile& options) {
  return ReadJpeg(stream, "", image, options);
}

TReadOutcome ReadTiffFile(TPkgStream* stream, TImage& image, const TProfile& options) {
  return ReadTiff(stream, "", image, options);
}

// A picture whose every turn and mirror looks different: a gradient with a
// white corner at the top left, wider than high.
class OrientedFiles : public peerfiles::TPeerFilesTest<OrientedFiles> {
public:
  static constexpr const char* kSourceCommand =
      "convert -size 40x24 gradient:red-blue -fill white -draw 'rectangle 0,0 9,5'";
};

TEST_F(OrientedFiles, JpegFollowsItsExifOrientation) {
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE(orientation);
    const std::string path = Make("o" + std::to_string(orientation) + ".jpg",
                                  "convert IN -quality 95 OUT && exiftool -q -overwrite_original -n -Orientation=" +
                                      std::to_string(orientation) + " OUT");
    const auto read = ReadFile(ReadJpegFile, path, AccurateJpeg());
    EXPECT_EQ(read->outcome, TReadOutcome::Complete);
    EXPECT_EQ(CompareRgb(PeerDecode(path, "-auto-orient"), ImageToRgb(read->image)), "");
  }
}

TEST_F(OrientedFiles, TiffFollowsItsOrientationTag) {
  for (int orientation = 1; orientation <= 8; ++orientation) {
    SCOPED_TRACE(orientation);
    const std::string path = Make("o" + std::to_string(orientation) + ".tif",
                                  "convert IN -compress none OUT && tiffset -s 274 " + std::to_string(orientation) +
                                      " OUT");
    const auto read = ReadFile(ReadTiffFile, path);
    EXPECT_EQ(read->outcome, TReadOutcome::Complete);
    EXPECT_EQ(CompareRgb(PeerDecode(path, "-auto-orient"), ImageToRgb(read->image)), "");
  }
}

TEST_F(OrientedFiles, ValuesOutOfRangeChangeNothing) {
  const std::string plain = Make("plain.jpg", "convert IN -quality 95 OUT");
  const TRgbPicture expected = ImageToRgb(ReadFile(ReadJpegFile, plain, AccurateJpeg())->image);
  for (int orientation : {0, 9, 65535}) {
    SCOPED_TRACE(orientation);
    const std::string path = Make("bad.jpg", "convert IN -quality 95 OUT && exiftool -q -overwrite_original -n -Orientation=" +
                                                 std::to_string(orientation) + " OUT");
    EXPECT_EQ(CompareRgb(expected, ImageToRgb(ReadFile(ReadJpegFile, path, AccurateJpeg())->image)), "");
  }
}

// Handmade EXIF blocks: a TIFF header, one directory of entries (tag, type,
// count, value or offset).
struct TExifCase {
  const char* what;
  std::vector<uint8_t> bytes;
  int32_t orientation;
  const char* description;
};

TEST(ExifFacts, DirectoryEntriesAreReadInTheirByteOrderWithinTheBlock) {
  const TExifCase cases[] = {
      {"little-endian, orientation 6",
       {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 6, 0, 0, 0},
       6, ""},
      {"big-endian behind the APP1 name",
       {'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, 8, 0, 0},
       8, ""},
      {"orientation 9 is out of range",
       {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 9, 0, 0, 0},
       0, ""},
      {"orientation as a long is not read",
       {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 4, 0, 1, 0, 0, 0, 6, 0, 0, 0},
       0, ""},
      {"description in the entry",
       {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x0E, 0x01, 2, 0, 4, 0, 0, 0, 'a', 'b', 'c', 0},
       0, "abc"},
      {"description at an offset",
       {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x0E, 0x01, 2, 0, 6, 0, 0, 0, 22, 0, 0, 0, 'r', 'o', 's', 'e', 's', 0},
       0, "roses"},
      {"description past the end",
       {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x0E, 0x01, 2, 0, 60, 0, 0, 0, 22, 0, 0, 0, 'r', 'o'},
       0, ""},
      {"more entries than the block holds",
       {'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF, 0x12, 0x01, 3, 0, 1, 0, 0, 0, 3, 0, 0, 0, 0x12},
       3, ""},
      {"directory past the end", {'I', 'I', 42, 0, 0xF0, 0xFF, 0xFF, 0xFF}, 0, ""},
      {"no TIFF header", {'E', 'x', 'i', 'f', 0, 0, 'X', 'X', 42, 0}, 0, ""},
      {"empty", {}, 0, ""},
  };
  for (const TExifCase& c : cases) {
    SCOPED_TRACE(c.what);
    const TExifFacts facts = ReadExifFacts(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(facts.orientation, c.orientation);
    EXPECT_EQ(facts.description, c.description);
  }
}

// A quarter turn of a reduced 8-bit picture of 3 x 2 pixels (0 1 2 / 3 4 5).
TEST(ApplyOrientation, TurnedPictureKeepsPaletteResolutionAndReduction) {
  TTestImage holder;
  TImage& image = holder.image;
  image.Create(1, 3, 2, 300, 150, 1, 1, 0);
  for (int32_t y = 0; y < 2; ++y) {
    const uint8_t row[3] = {static_cast<uint8_t>(3 * y), static_cast<uint8_t>(3 * y + 1), static_cast<uint8_t>(3 * y + 2)};
    image.PutRow(0, y, row, 3);
  }
  TLogPalette palette;
  palette.count = 6;
  for (int i = 0; i < 6; ++i) palette.entries[i] = {static_cast<uint8_t>(40 * i), 7, 9, 0};
  image.SetPalette(palette);
  image.m_reduction = 2;
  ApplyOrientation(image, 6);
  ASSERT_EQ(image.Width(), 2);
  ASSERT_EQ(image.Height(), 3);
  // Turned clockwise: the left column, bottom first, becomes the top row.
  EXPECT_EQ(IndexRow(image, 0), (std::vector<uint8_t>{3, 0}));
  EXPECT_EQ(IndexRow(image, 1), (std::vector<uint8_t>{4, 1}));
  EXPECT_EQ(IndexRow(image, 2), (std::vector<uint8_t>{5, 2}));
  EXPECT_EQ(image.m_xDpi, 150);
  EXPECT_EQ(image.m_yDpi, 300);
  EXPECT_EQ(image.m_reduction, 2);
  TLogPalette kept;
  image.GetPalette(kept);
  EXPECT_EQ(kept.entries[5].red, 200);
}

} // namespace
