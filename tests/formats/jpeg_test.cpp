// The JPEG adapter against files made by cjpeg and ImageMagick, decoded by
// djpeg with the same options; the settings that choose quantised, grey and
// reduced-size reading; comments and resolution; short and damaged files;
// the camera wrappers of the data source; and the writer's files, compared
// with cjpeg's and read back by djpeg, rdjpgcom and identify.
#include "formats/jpeg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

#include "settings/profile.h"
#include "core/image.h"
#include "core/log_sink.h"
#include "core/progress.h"
#include "filepkg/filepkg.h"
#include "formats/comment_sink.h"
#include "formats/peer_files_fixture.h"
#include "formats/picture_io.h"
#include "formats/codec_test_fixture.h"
#include "support/peer.h"

namespace {

using namespace testsupport;
using TBytes = std::vector<uint8_t>;

const std::string kPeerJpeg = std::string(ZER_TEST_DATA) + "/peer/jpeg/";

// The settings under which our reading equals djpeg's "-dct fast -nosmooth"
// (the defaults) and the djpeg options that match other settings.
const char* const kDjpegDefault = "-dct fast -nosmooth";

std::unique_ptr<TImage> Read(const std::string& path, const TProfile& options = TProfile()) {
  auto image = NewImageFor(options);
  TPkgStream* stream = PkgOpen(path.c_str(), "rb");
  EXPECT_NE(stream, nullptr) << path;
  if (stream) {
    ReadJpeg(stream, path.c_str(), *image, options);
    PkgClose(stream, 0);
  }
  return image;
}

TRgbPicture Djpeg(const std::string& path, const std::string& options = kDjpegDefault) {
  const std::string output = RunOutput("djpeg " + options + " '" + path + "' 2>/dev/null");
  TTempDir dir;
  WriteFileBytes(dir / "out.pnm", output);
  return ReadPnm(dir / "out.pnm");
}

bool LogHas(const std::string& text) {
  const auto messages = LoggedMessages();
  return std::any_of(messages.begin(), messages.end(),
                     [&](const std::string& m) { return m.find(text) != std::string::npos; });
}

// A detailed, deterministic picture of odd size, so that partial blocks and
// subsampled edges are exercised.
class JpegFiles : public peerfiles::TPeerFilesTest<JpegFiles> {
public:
  static constexpr const char* kSourceCommand = "convert -seed 3 -size 301x203 plasma:fractal";
};

TEST_F(JpegFiles, PeerFilesDecodeLikeDjpeg) {
  struct TCase {
    const char* name;
    const char* command;
    int bytesPerPixel;
  };
  const TCase cases[] = {
      {"baseline-420", "cjpeg -quality 80 -outfile OUT IN", 3},
      {"progressive", "cjpeg -progressive -outfile OUT IN", 3},
      {"grey", "cjpeg -grayscale -outfile OUT IN", 1},
      {"sampling-444", "cjpeg -sample 1x1 -outfile OUT IN", 3},
      {"sampling-422", "cjpeg -sample 2x1 -outfile OUT IN", 3},
      {"restart-markers", "cjpeg -restart 1 -outfile OUT IN", 3},
      {"arithmetic-coding", "cjpeg -arithmetic -outfile OUT IN", 3},
      {"optimised-tables", "cjpeg -optimize -quality 30 -outfile OUT IN", 3},
      {"comment", "cjpeg IN | wrjpgcom -comment 'a comment' >OUT", 3},
      {"imagemagick", "convert IN -quality 92 -sampling-factor 2x2 OUT", 3},
      {"imagemagick-progressive", "convert IN -interlace JPEG -quality 60 OUT", 3},
      {"imagemagick-density-cm", "convert IN -units PixelsPerCentimeter -density 40 OUT", 3},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = Make(std::string(c.name) + ".jpg", c.command);
    const auto image = Read(path);
    EXPECT_EQ(image->BytesPerPixel(), c.bytesPerPixel);
    EXPECT_EQ(image->m_fileType, 4);
    EXPECT_EQ(CompareRgb(Djpeg(path), ImageToRgb(*image)), "");
  }
  const auto original = Read(kPeerJpeg + "testorig.jpg");
  EXPECT_EQ(CompareRgb(Djpeg(kPeerJpeg + "testorig.jpg"), ImageToRgb(*original)), "");
  EXPECT_TRUE(LoggedMessages().empty());
}

TEST_F(JpegFiles, AccurateDctAndFancyUpsamplingFollowTheSettings) {
  const std::string path = Make("fancy.jpg", "cjpeg -quality 85 -outfile OUT IN");
  TProfile options;
  options.Set(IntKey::EnableFastInputDCT, 0);
  options.Set(IntKey::EnableFastUpsampling, 0);
  EXPECT_EQ(CompareRgb(Djpeg(path, "-dct int"), ImageToRgb(*Read(path, options))), "");
}

TEST_F(JpegFiles, QuantisedReadingMatchesTheLibrarysQuantisers) {
  const std::string path = Make("quantise.jpg", "cjpeg -quality 90 -outfile OUT IN");
  struct TCase {
    const char* name;
    std::vector<std::pair<IntKey, int>> settings;
    const char* djpegOptions;
  };
  const TCase cases[] = {
      {"two-pass, Floyd-Steinberg", {{IntKey::JPEGTwoPass, 1}}, "-colors 256"},
      {"two-pass, no dithering", {{IntKey::JPEGTwoPass, 1}, {IntKey::JPEGUseDithering, 0}}, "-colors 256 -dither none"},
      {"one-pass", {{IntKey::JPEGTwoPass, 1}, {IntKey::EnableFastQuantize, 1}}, "-colors 256 -onepass"},
      {"one-pass ordered",
       {{IntKey::JPEGTwoPass, 1}, {IntKey::EnableFastQuantize, 1}, {IntKey::EnableFastDither, 1}},
       "-colors 256 -onepass -dither ordered"},
      {"monochrome", {{IntKey::JPEGUseMonochrome, 1}}, "-grayscale"},
      {"monochrome wins over two-pass", {{IntKey::JPEGUseMonochrome, 1}, {IntKey::JPEGTwoPass, 1}}, "-grayscale"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TProfile options;
    for (const auto& [key, value] : c.settings) options.Set(key, value);
    const auto image = Read(path, options);
    EXPECT_EQ(image->BytesPerPixel(), 1);
    EXPECT_EQ(CompareRgb(Djpeg(path, std::string(kDjpegDefault) + " " + c.djpegOptions), ImageToRgb(*image)), "");
  }
}

TEST_F(JpegFiles, GreyFileBecomesAn8BitPictureWithAGreyRamp) {
  const std::string path = Make("grey.jpg", "cjpeg -grayscale -outfile OUT IN");
  const auto image = Read(path);
  ASSERT_EQ(image->BytesPerPixel(), 1);
  TLogPalette palette;
  image->GetPalette(palette);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(palette.entries[i].red, i);
    EXPECT_EQ(palette.entries[i].blue, i);
  }
}

TEST_F(JpegFiles, QuickLookReadsAtAReducedSize) {
  struct TCase {
    int width, height, expectedWidth, expectedHeight;
    const char* djpegScale;
  };
  const TCase cases[] = {
      {3000, 2000, 375, 250, "1/8"},
      {200, 150, 200, 150, "1/1"},
      {300, 200, 150, 100, "1/2"}, // 300 / 128 = 2
      {700, 90, 175, 23, "1/4"},   // 700 / 128 = 5
  };
  TProfile options;
  options.Set(IntKey::QuickLook, 1);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.width);
    const std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
    const std::string path = Make("quick" + size + ".jpg", "convert -size " + size +
                                                               " gradient:red-blue -density 300 -units "
                                                               "PixelsPerInch OUT");
    const auto image = Read(path, options);
    EXPECT_EQ(image->Width(), c.expectedWidth);
    EXPECT_EQ(image->Height(), c.expectedHeight);
    EXPECT_EQ(image->m_xDpi, 300 * c.expectedWidth / c.width);
    EXPECT_EQ(CompareRgb(Djpeg(path, std::string(kDjpegDefault) + " -scale " + c.djpegScale), ImageToRgb(*image)),
              "");
  }
}

// Rewrites the JFIF segment cjpeg put right after SOI: units at offset 13,
// densities at 14 and 16.
TEST_F(JpegFiles, ResolutionComesFromTheJfifDensity) {
  const TBytes original = ReadFileBytes(Make("density.jpg", "cjpeg -outfile OUT IN"));
  ASSERT_EQ(std::string(original.begin() + 6, original.begin() + 10), "JFIF");
  struct TCase {
    uint8_t unit;
    uint16_t x, y;
    int32_t expectedX, expectedY;
  };
  const TCase cases[] = {
      {1, 300, 150, 300, 150}, // dots per inch
      {2, 100, 50, 254, 127},  // dots per centimetre
      {0, 300, 300, 1, 1},     // aspect ratio only
      {1, 0, 72, 1, 72},       // a zero density counts as 1
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(int(c.unit));
    TBytes bytes = original;
    bytes[13] = c.unit;
    bytes[14] = static_cast<uint8_t>(c.x >> 8);
    bytes[15] = static_cast<uint8_t>(c.x);
    bytes[16] = static_cast<uint8_t>(c.y >> 8);
    bytes[17] = static_cast<uint8_t>(c.y);
    const std::string path = *s_dir / "density-edited.jpg";
    WriteFileBytes(path, bytes);
    const auto image = Read(path);
    EXPECT_EQ(image->m_xDpi, c.expectedX);
    EXPECT_EQ(image->m_yDpi, c.expectedY);
  }
}

// Inserts a segment right after SOI.
TBytes WithSegment(const TBytes& jpeg, uint8_t marker, const std::string& data) {
  TBytes out(jpeg.begin(), jpeg.begin() + 2);
  const size_t length = data.size() + 2;
  out.insert(out.end(), {0xFF, marker, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)});
  out.insert(out.end(), data.begin(), data.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

TEST_F(JpegFiles, CommentsComeFromComAndOptionallyApp12) {
  const std::string path = Make("comment.jpg", "cjpeg IN | wrjpgcom -comment 'made by cjpeg' >OUT");
  Read(path);
  EXPECT_EQ(CommentGetText(), "made by cjpeg");

  // Zero bytes are left out of the comment text.
  const std::string app12 = *s_dir / "app12.jpg";
  WriteFileBytes(app12, WithSegment(ReadFileBytes(Make("plain.jpg", "cjpeg -outfile OUT IN")), 0xEC,
                                    std::string("Ducky\0camera", 12)));
  TProfile options;
  options.Set(IntKey::EnableAPP12Comment, 0);
  CommentChar(0);
  Read(app12, options);
  EXPECT_EQ(CommentGetText(), "");
  options.Set(IntKey::EnableAPP12Comment, 1);
  const auto image = Read(app12, options);
  EXPECT_EQ(CommentGetText(), "Duckycamera");
  EXPECT_EQ(CompareRgb(Djpeg(app12), ImageToRgb(*image)), "");
}

std::vector<int> g_percents;
int RecordPercent(int percent) {
  g_percents.push_back(percent);
  return 0;
}

TEST_F(JpegFiles, ProgressAndTraceMessagesReachTheirHooks) {
  const std::string path = Make("progress.jpg", "cjpeg -progressive -outfile OUT IN");
  const TProgressHook hook = {nullptr, RecordPercent, nullptr};
  SetProgressHook(&hook);
  g_percents.clear();
  TProfile options;
  options.Set(IntKey::JPEGTraceLevel, 1);
  options.Set(IntKey::JPEGTwoPass, 1); // a prescan pass, then the output pass
  Read(path, options);
  SetProgressHook(nullptr);
  ASSERT_GT(g_percents.size(), 10u);
  EXPECT_TRUE(std::is_sorted(g_percents.begin(), g_percents.end()));
  EXPECT_TRUE(std::adjacent_find(g_percents.begin(), g_percents.end()) == g_percents.end());
  EXPECT_LE(g_percents.back(), 100);
  EXPECT_GE(g_percents.back(), 90);
  EXPECT_TRUE(LogHas("JPEG Message: Start of Image"));
}

TEST_F(JpegFiles, TwelveBitFileIsRefusedWithALogLine) {
  const auto image = Read(kPeerJpeg + "monkey12.jpg");
  EXPECT_EQ(image->Width(), 1);
  EXPECT_TRUE(LogHas("JPEG Message: Unsupported JPEG data precision 12")) << LoggedMessages().size();
}

TEST_F(JpegFiles, TruncatedFilesKeepTheRowsThatArrived) {
  const std::string path = Make("truncate.jpg", "cjpeg -quality 90 -outfile OUT IN");
  const TBytes bytes = ReadFileBytes(path);
  const TRgbPicture whole = Djpeg(path);
  const std::string cut = *s_dir / "cut.jpg";
  for (size_t length = 0; length < bytes.size(); length += std::max<size_t>(1, bytes.size() / 37)) {
    SCOPED_TRACE(length);
    ClearLoggedMessages();
    WriteFileBytes(cut, TBytes(bytes.begin(), bytes.begin() + static_cast<long>(length)));
    const auto image = Read(cut);
    if (image->Width() == 1) continue; // the header itself was cut
    EXPECT_EQ(image->Width(), 301);
    EXPECT_TRUE(LogHas("JPEG Message: Premature end of JPEG file"));
    // The top rows decoded before the data ran out are those of the whole file.
    const TRgbPicture partial = ImageToRgb(*image);
    if (length > bytes.size() / 2) {
      EXPECT_TRUE(std::equal(whole.rgb.begin(), whole.rgb.begin() + 301 * 3 * 16, partial.rgb.begin()));
    }
  }
}

// Small files whose frame header declares 65500 x 65500 pixels, read with
// 64 MB to spare: the picture is held reduced and decoding stops where the
// data ends instead of inventing four billion pixels; a progressive one,
// which would need gigabytes of coefficients, is refused.
TEST_F(JpegFiles, HugeDeclaredSizesCostOnlyTheirData) {
  const TPictureBudget budget(int64_t{64} << 20);
  const std::string dir = std::string(ZER_TEST_DATA) + "/jpeg/";
  const auto baseline = Read(dir + "huge-declared-baseline.jpg");
  ASSERT_EQ(baseline->Width(), 65500 / baseline->m_reduction);
  EXPECT_TRUE(baseline->HeldReduced());
  EXPECT_EQ(baseline->Row(baseline->Height() - 1)[0], 0);
  EXPECT_TRUE(LogHas("JPEG Message: Corrupt JPEG data: premature end of data segment"));
  EXPECT_TRUE(LogHas("Picture of 65500x65500 pixels held at " + std::to_string(baseline->Width()) + "x"));
  ClearLoggedMessages();
  EXPECT_EQ(Read(dir + "huge-declared-progressive.jpg")->Width(), 1);
  EXPECT_TRUE(LogHas("JPEG Message: Backing store not supported"));
}

TEST_F(JpegFiles, DamagedFilesNeverCrash) {
  const TBytes bytes = ReadFileBytes(Make("damage.jpg", "cjpeg -progressive -restart 2 -outfile OUT IN"));
  const std::string damaged = *s_dir / "damaged.jpg";
  uint32_t seed = 12345;
  for (int trial = 0; trial < 60; ++trial) {
    TBytes copy = bytes;
    for (int i = 0; i < 4; ++i) {
      seed = seed * 1103515245 + 12345;
      copy[(seed >> 8) % copy.size()] ^= static_cast<uint8_t>(seed >> 24 | 1);
    }
    WriteFileBytes(damaged, copy);
    Read(damaged);
  }
  // A frame header with zero width is refused by the library: the picture
  // stays as it was and the reason is logged.
  TBytes badFrame = ReadFileBytes(Make("badframe.jpg", "cjpeg -outfile OUT IN"));
  for (size_t i = 2; i + 9 < badFrame.size(); ++i) {
    if (badFrame[i] == 0xFF && badFrame[i + 1] == 0xC0) {
      badFrame[i + 7] = badFrame[i + 8] = 0;
      break;
    }
  }
  WriteFileBytes(damaged, badFrame);
  ClearLoggedMessages();
  EXPECT_EQ(Read(damaged)->Width(), 1);
  EXPECT_TRUE(LogHas("JPEG Message: Empty JPEG image"));
}

TEST_F(JpegFiles, ReadsFromTheStreamPositionItIsGiven) {
  // Detection may find the signature behind foreign data, such as a mail
  // header; the reader starts where the stream stands.
  const TBytes jpeg = ReadFileBytes(Make("behind.jpg", "cjpeg -restart 3 -outfile OUT IN"));
  TBytes file(700, 'x');
  file.insert(file.end(), jpeg.begin(), jpeg.end());
  const std::string path = *s_dir / "with-header.txt";
  WriteFileBytes(path, file);
  const TProfile options;
  auto image = NewImageFor(options);
  TPkgStream* stream = PkgOpen(path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  ASSERT_EQ(PkgSeek(stream, 700, 0), 0);
  ReadJpeg(stream, path.c_str(), *image, options);
  PkgClose(stream, 0);
  EXPECT_EQ(CompareRgb(Djpeg(*s_dir / "behind.jpg"), ImageToRgb(*image)), "");
}

// Wide pictures are read whole; only when memory is short is a picture
// held reduced, every second pixel of every second row.
TEST_F(JpegFiles, WidePicturesAreStoredWholeOrReducedWhenMemoryIsShort) {
  const std::string path = Make("wide.jpg", "convert -size 9000x40 gradient:yellow-navy -quality 90 OUT");
  const TRgbPicture whole = Djpeg(path);
  EXPECT_EQ(CompareRgb(whole, ImageToRgb(*Read(path))), "");

  const TPictureBudget budget(1 << 20); // 1 350 000 bytes would be needed
  const auto image = Read(path);
  ASSERT_EQ(image->Width(), 4500);
  ASSERT_EQ(image->Height(), 20);
  TRgbPicture sampled{4500, 20, {}};
  for (int y = 0; y < 40; y += 2)
    for (int x = 0; x < 9000; x += 2)
      for (int c = 0; c < 3; ++c) sampled.rgb.push_back(whole.rgb[(static_cast<size_t>(y) * 9000 + x) * 3 + c]);
  EXPECT_EQ(CompareRgb(sampled, ImageToRgb(*image)), "");
}

// ---------------------------------------------------------------- camera wrappers

// One segment of a JPEG file, marker and length included; marker 0 stands
// for the entropy-coded data after a scan header.
struct TSegment {
  uint8_t marker;
  TBytes bytes;
};

std::vector<TSegment> Split(const TBytes& file) {
  std::vector<TSegment> segments{{0xD8, {0xFF, 0xD8}}};
  size_t at = 2;
  while (at + 3 < file.size() && file[at] == 0xFF) {
    const uint8_t marker = file[at + 1];
    if (marker == 0xD9) break;
    const size_t end = at + 2 + (file[at + 2] << 8 | file[at + 3]);
    segments.push_back({marker, TBytes(file.begin() + at, file.begin() + end)});
    at = end;
    if (marker != 0xDA) continue;
    const size_t start = at;
    while (at + 1 < file.size() &&
           !(file[at] == 0xFF && file[at + 1] != 0 && (file[at + 1] < 0xD0 || file[at + 1] > 0xD7)))
      ++at;
    segments.push_back({0, TBytes(file.begin() + start, file.begin() + at)});
  }
  segments.push_back({0xD9, {0xFF, 0xD9}});
  return segments;
}

TBytes Join(const std::vector<TSegment>& segments, std::initializer_list<uint8_t> leaveOut = {}) {
  TBytes out;
  for (const TSegment& s : segments)
    if (std::find(leaveOut.begin(), leaveOut.end(), s.marker) == leaveOut.end())
      out.insert(out.end(), s.bytes.begin(), s.bytes.end());
  return out;
}

TBytes Concat(std::initializer_list<TBytes> parts) {
  TBytes out;
  for (const TBytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

TRgbPicture Flipped(const TRgbPicture& picture) {
  TRgbPicture out = picture;
  const size_t stride = static_cast<size_t>(picture.width) * 3;
  for (int y = 0; y < picture.height; ++y)
    std::copy_n(&picture.rgb[y * stride], stride, &out.rgb[(picture.height - 1 - y) * stride]);
  return out;
}

class JpegCameraWrappers : public JpegFiles {
protected:
  // Reads bytes as a file; djpeg's decoding of reference is what it must give.
  std::unique_ptr<TImage> ReadWrapped(const TBytes& bytes) {
    const std::string path = *s_dir / "wrapped.bin";
    WriteFileBytes(path, bytes);
    return Read(path);
  }
};

TEST_F(JpegCameraWrappers, PrivateHeaderBeforeSoi) {
  const std::string reference = Make("cam-803e.jpg", "cjpeg -outfile OUT IN");
  const TBytes file = Concat({{0x80, 0x3E, 0x44, 0x53, 'h', 'e', 'a', 'd'}, Join(Split(ReadFileBytes(reference)), {0xE0})});
  const auto image = ReadWrapped(file);
  EXPECT_EQ(CompareRgb(Djpeg(reference), ImageToRgb(*image)), "");
  EXPECT_EQ(image->m_xDpi, 72);
  EXPECT_EQ(image->m_yDpi, 60);
}

TEST_F(JpegCameraWrappers, ContainerWithCompleteJpegData) {
  const std::string reference = Make("cam-container4.jpg", "cjpeg -outfile OUT IN");
  // Two directory entries: a 5-byte block of kind 1, then the picture (kind 4).
  TBytes directory = {0x07, 0x20, 0x4D, 0x4D, 0x00, 0x02};
  TBytes first(16, 0), second(16, 0);
  first[1] = 1;
  first[5] = 5;
  second[1] = 4;
  const auto image = ReadWrapped(Concat({directory, first, second, TBytes(5, 0xFF), ReadFileBytes(reference)}));
  EXPECT_EQ(CompareRgb(Djpeg(reference), ImageToRgb(*image)), "");
}

TEST_F(JpegCameraWrappers, ContainerWithBareScans) {
  // Three single-component scans of a 480 x 240 picture sampled 3 x 2, with
  // the standard Huffman tables; the container keeps only the two
  // quantisation tables and the scans' data.
  const std::string scans = *s_dir / "scans.txt";
  WriteFileBytes(scans, std::string("0;\n1;\n2;\n"));
  const std::string reference =
      Make("cam-container3.jpg", "convert IN -resize '480x240!' ppm:- | cjpeg -sample 3x2,1x1,1x1 -scans " + scans +
                                     " -outfile OUT");
  std::vector<TBytes> tables, data;
  for (const TSegment& s : Split(ReadFileBytes(reference))) {
    if (s.marker == 0xDB)
      for (size_t at = 4; at + 65 <= s.bytes.size(); at += 65) tables.emplace_back(s.bytes.begin() + at + 1, s.bytes.begin() + at + 65);
    if (s.marker == 0) data.push_back(s.bytes);
  }
  ASSERT_EQ(tables.size(), 2u);
  ASSERT_EQ(data.size(), 3u);
  TBytes entry(16, 0);
  entry[1] = 3;
  TBytes lengths = {0x00, 0x03};
  for (const TBytes& d : data) lengths.insert(lengths.end(), {static_cast<uint8_t>(d.size() >> 8), static_cast<uint8_t>(d.size())});
  const auto image = ReadWrapped(
      Concat({{0x07, 0x20, 0x4D, 0x4D, 0x00, 0x01}, entry, lengths, tables[0], tables[1], data[0], data[1], data[2]}));
  EXPECT_EQ(CompareRgb(Djpeg(reference), ImageToRgb(*image)), "");
  EXPECT_EQ(image->m_yDpi, 48);
}

TEST_F(JpegCameraWrappers, SeattleFilmworksPictureIsBottomUp) {
  const std::string reference = Make("cam-sfw.jpg", "cjpeg -outfile OUT IN");
  // Marker codes are replaced: C0 by A0, DB by CB, the scan header's DA by
  // CA (which also stands for the missing Huffman tables).
  TBytes body;
  for (TSegment s : Split(ReadFileBytes(reference))) {
    if (s.marker == 0xD8 || s.marker == 0xE0 || s.marker == 0xC4) continue;
    if (s.marker == 0xC0) s.bytes[1] = 0xA0;
    if (s.marker == 0xDB) s.bytes[1] = 0xCB;
    if (s.marker == 0xDA) s.bytes[1] = 0xCA;
    body.insert(body.end(), s.bytes.begin(), s.bytes.end());
  }
  const TBytes header = {'S', 'F', 'W', '9', '4', 'A', 0, 0, 0x12, 0x34, 0xFF, 0xD0};
  const auto image = ReadWrapped(Concat({header, TBytes(16, 0xAA), body}));
  EXPECT_EQ(CompareRgb(Flipped(Djpeg(reference)), ImageToRgb(*image)), "");
}

TEST_F(JpegCameraWrappers, Dc120DataIsWordSwappedAndHalfHeight) {
  const std::string reference =
      Make("cam-dc120.jpg", "convert IN -resize '848x488!' ppm:- | cjpeg -outfile OUT");
  const std::vector<TSegment> segments = Split(ReadFileBytes(reference));
  // The camera's stream starts with its Huffman tables right after SOI.
  TBytes stream = {0xFF, 0xD8};
  for (const TSegment& s : segments)
    if (s.marker == 0xC4) stream.insert(stream.end(), s.bytes.begin(), s.bytes.end());
  const TBytes rest = Join(segments, {0xD8, 0xE0, 0xC4});
  stream.insert(stream.end(), rest.begin(), rest.end());
  if (stream.size() % 2) stream.push_back(0);
  for (size_t i = 0; i < stream.size(); i += 2) std::swap(stream[i], stream[i + 1]);
  const auto image = ReadWrapped(stream);
  ASSERT_EQ(image->Width(), 848);
  ASSERT_EQ(image->Height(), 976);
  EXPECT_EQ(image->BytesPerPixel(), 3);
  EXPECT_EQ(image->m_xDpi, 100);
  EXPECT_EQ(image->m_yDpi, 150);
  const TRgbPicture half = Djpeg(reference);
  TRgbPicture doubled{848, 976, {}};
  for (int y = 0; y < 976; ++y)
    doubled.rgb.insert(doubled.rgb.end(), half.rgb.begin() + (y / 2) * 848 * 3, half.rgb.begin() + (y / 2 + 1) * 848 * 3);
  EXPECT_EQ(CompareRgb(doubled, ImageToRgb(*image)), "");
}

// The two kinds of "BM" camera file carry a 600 x 400 picture sampled 1 x 1
// whose quantisation tables (and, for kind "B", Huffman tables) are left out.
TEST_F(JpegCameraWrappers, BmFilesOfBothKinds) {
  struct TCase {
    uint8_t kindByte;
    std::vector<int> luminance; // zigzag order
    std::vector<int> chrominance;
  };
  std::vector<int> bLum = {7,  4,  5,  6,  5,  4,  7,  6,  5,  6,  7,  7,  7,  8,  10, 17, 11, 10, 9,  9,  10, 21,
                           15, 16, 12, 17, 25, 22, 26, 26, 24, 22, 24, 24, 28, 31, 40, 34, 28, 29, 38, 30, 24, 24,
                           35, 47, 35, 38, 41, 42, 45, 45, 45, 27, 33, 49, 52, 49, 43, 52, 40, 44, 45, 43};
  std::vector<int> bChrom = {7, 7, 7, 10, 9, 10, 20, 11, 11, 20, 43, 28, 24, 28};
  bChrom.resize(64, 43);
  std::vector<int> otherLum = {10, 6,  7,  8,  7,  6,  10, 8,  8,  8,  11, 10, 10, 11, 15, 25, 16, 15, 13, 13, 15, 30,
                               21, 23, 18, 25, 36, 31, 38, 37, 35, 31, 35, 34, 40, 45, 57, 48, 40, 42, 54, 43, 34, 35,
                               50, 68, 50, 54, 59, 61, 64, 65, 64, 38, 48, 70, 75, 70, 62, 75, 57, 63, 64, 61};
  std::vector<int> otherChrom = {13, 14, 14, 18, 16, 18, 36, 20, 20, 36, 77, 51, 43, 51};
  otherChrom.resize(64, 77);
  const TCase cases[] = {{'B', bLum, bChrom}, {'A', otherLum, otherChrom}};
  // Position in natural order of each zigzag index.
  const int kNatural[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
                            41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
                            30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.kindByte);
    std::string tables;
    for (const auto* zigzag : {&c.luminance, &c.chrominance}) {
      int natural[64];
      for (int i = 0; i < 64; ++i) natural[kNatural[i]] = (*zigzag)[i];
      for (int i = 0; i < 64; ++i) tables += std::to_string(natural[i]) + (i % 8 == 7 ? "\n" : " ");
    }
    const std::string tableFile = *s_dir / "tables.txt";
    WriteFileBytes(tableFile, tables);
    const std::string reference =
        Make("cam-bm.jpg", "convert IN -resize '600x400!' ppm:- | cjpeg -quality 50 -sample 1x1 -qtables " +
                               tableFile + " -outfile OUT");
    const TBytes file = ReadFileBytes(reference);
    TBytes header = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, c.kindByte, 0, 0, 0, 0x44, 0};
    const TBytes tail = c.kindByte == 'B' ? TBytes{0xFF, 0xDA} : TBytes{0xFF, 0xC4};
    const auto from = std::search(file.begin(), file.end(), tail.begin(), tail.end());
    ASSERT_NE(from, file.end());
    const auto image = ReadWrapped(Concat({header, {1, 2, 3}, TBytes(from, file.end())}));
    EXPECT_EQ(CompareRgb(Djpeg(reference), ImageToRgb(*image)), "");
  }
}

// ---------------------------------------------------------------- writing

// A 24-bit picture of 150 dpi holding the source picture.
std::unique_ptr<TImage> SourcePicture(const std::string& ppm, const TProfile& options) {
  const TRgbPicture rgb = ReadPnm(ppm);
  auto image = NewImageFor(options);
  image->Create(1, rgb.width, rgb.height, 150, 150, 3, 1, 0);
  for (int y = 0; y < rgb.height; ++y) {
    uint8_t* row = image->RowBuffer(0, y, rgb.width);
    for (int x = 0; x < rgb.width; ++x) {
      const uint8_t* p = &rgb.rgb[(static_cast<size_t>(y) * rgb.width + x) * 3];
      row[3 * x] = p[2];
      row[3 * x + 1] = p[1];
      row[3 * x + 2] = p[0];
    }
    image->PutRow(0, y, row, rgb.width);
  }
  return image;
}

using TSettings = std::vector<std::pair<IntKey, int>>;

// Writes the picture of the PPM file source to path with the settings.
void WriteWithSettings(const std::string& source, const std::string& path, const TSettings& settings) {
  TProfile options;
  for (const auto& [key, value] : settings) options.Set(key, value);
  const auto image = SourcePicture(source, options);
  ASSERT_EQ(WriteJpeg(path.c_str(), *image, options, nullptr), 0);
}

TEST_F(JpegFiles, WrittenFilesReadBackWithDjpeg) {
  TProfile options;
  options.Set(IntKey::JPEGOutputQuality, 95);
  const auto image = SourcePicture(Source(), options);
  const std::string out = *s_dir / "written.jpg";
  ASSERT_EQ(WriteJpeg(out.c_str(), *image, options, nullptr), 0);
  const TRgbPicture back = Djpeg(out, "");
  EXPECT_EQ(back.width, 301);
  EXPECT_EQ(back.height, 203);
  const TRgbPicture peer = Djpeg(Make("cjpeg-95.jpg", "cjpeg -quality 95 -dct fast -optimize -outfile OUT IN"), "");
  EXPECT_LT(MeanError(ReadPnm(Source()), back), MeanError(ReadPnm(Source()), peer) + 0.01);
  // Our reader gives what djpeg gives for our own file.
  EXPECT_EQ(CompareRgb(Djpeg(out), ImageToRgb(*Read(out))), "");
}

TEST_F(JpegFiles, WriterSettingsShowInTheFile) {
  struct TCase {
    const char* name;
    TSettings settings;
    const char* identifyFormat;
    const char* expected;
  };
  const TCase cases[] = {
      {"quality", {{IntKey::JPEGOutputQuality, 42}}, "%Q", "42"},
      {"progressive", {{IntKey::JPEGOutputProgressive, 1}}, "%[interlace]", "JPEG"},
      {"sequential", {}, "%[interlace]", "None"},
      {"grey", {{IntKey::JPEGOutputMonochrome, 1}}, "%[channels]", "gray"},
      {"colour", {}, "%[channels]", "srgb"},
      {"density", {}, "%x %y %U", "150 150 PixelsPerInch"},
      {"output size", {{IntKey::OutputWidth, 150}}, "%w %h", "150 101"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = *s_dir / "settings.jpg";
    WriteWithSettings(Source(), out, c.settings);
    std::string text = RunOutput(std::string("identify -format '") + c.identifyFormat + "' " + out);
    EXPECT_EQ(text.substr(0, text.find_last_not_of(" \n") + 1), c.expected);
  }
}

// Each writer setting does what the matching cjpeg option does: the files
// are equal after the JFIF segment, which holds our density.
TEST_F(JpegFiles, WriterSettingsMatchCjpegOptions) {
  struct TCase {
    const char* name;
    TSettings settings;
    const char* cjpegOptions;
  };
  const TCase cases[] = {
      {"defaults", {}, "-quality 75 -dct fast -optimize"},
      {"standard tables", {{IntKey::JPEGOutputOptimize, 0}}, "-quality 75 -dct fast"},
      {"quality", {{IntKey::JPEGOutputQuality, 31}}, "-quality 31 -dct fast -optimize"},
      {"accurate DCT", {{IntKey::EnableFastOutputDCT, 0}}, "-quality 75 -dct int -optimize"},
      {"smoothing", {{IntKey::JPEGOutputSmoothing, 40}}, "-quality 75 -dct fast -optimize -smooth 40"},
      {"grey", {{IntKey::JPEGOutputMonochrome, 1}}, "-quality 75 -dct fast -optimize -grayscale"},
      {"progressive", {{IntKey::JPEGOutputProgressive, 1}}, "-quality 75 -dct fast -optimize -progressive"},
  };
  std::map<std::string, uintmax_t> sizes;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = *s_dir / "ours.jpg";
    WriteWithSettings(Source(), out, c.settings);
    const TBytes ours = ReadFileBytes(out);
    const TBytes peer = ReadFileBytes(Make("cjpeg.jpg", std::string("cjpeg ") + c.cjpegOptions + " -outfile OUT IN"));
    ASSERT_GT(ours.size(), 20u);
    EXPECT_TRUE(ours.size() == peer.size() && std::equal(ours.begin() + 20, ours.end(), peer.begin() + 20));
    sizes[c.name] = ours.size();
  }
  EXPECT_LT(sizes["defaults"], sizes["standard tables"]);
}

TEST_F(JpegFiles, CommentIsWrittenAsOneComMarker) {
  TProfile options;
  const auto image = SourcePicture(Source(), options);
  const std::string out = *s_dir / "comment-written.jpg";
  CommentText("a comment\nof two lines");
  ASSERT_EQ(WriteJpeg(out.c_str(), *image, options, nullptr), 0);
  EXPECT_EQ(RunOutput("rdjpgcom " + out), "a comment\nof two lines\n");

  // An empty comment writes no COM marker at all.
  CommentChar(0);
  ASSERT_EQ(WriteJpeg(out.c_str(), *image, options, nullptr), 0);
  const TBytes bytes = ReadFileBytes(out);
  const TBytes com = {0xFF, 0xFE};
  EXPECT_EQ(std::search(bytes.begin(), bytes.end(), com.begin(), com.end()), bytes.end());

  // A comment longer than a segment can hold keeps its start.
  CommentText(std::string(70000, 'x').c_str());
  ASSERT_EQ(WriteJpeg(out.c_str(), *image, options, nullptr), 0);
  EXPECT_EQ(RunOutput("rdjpgcom " + out).size(), 65533u + 1);
}

TEST_F(JpegFiles, IndexedPicturesAreWrittenInTheirColours) {
  TProfile options;
  options.Set(IntKey::JPEGOutputQuality, 100);
  auto image = NewImageFor(options);
  image->Create(1, 64, 32, 1, 1, 1, 1, 0);
  TLogPalette palette;
  palette.count = 2;
  palette.entries[0] = {200, 30, 40, 0};
  palette.entries[1] = {10, 220, 90, 0};
  image->SetPalette(palette);
  for (int y = 0; y < 32; ++y) {
    uint8_t* row = image->RowBuffer(0, y, 64);
    std::fill(row, row + 64, static_cast<uint8_t>(y < 16 ? 0 : 1));
    image->PutRow(0, y, row, 64);
  }
  const std::string out = *s_dir / "indexed.jpg";
  ASSERT_EQ(WriteJpeg(out.c_str(), *image, options, nullptr), 0);
  const TRgbPicture back = Djpeg(out, "");
  ASSERT_EQ(back.width, 64);
  const uint8_t* top = &back.rgb[(4 * 64 + 4) * 3];
  const uint8_t* bottom = &back.rgb[(28 * 64 + 4) * 3];
  EXPECT_NEAR(top[0], 200, 3);
  EXPECT_NEAR(top[1], 30, 3);
  EXPECT_NEAR(bottom[1], 220, 3);
  EXPECT_NEAR(bottom[2], 90, 3);
}

TEST(JpegWriter, FailedOrAbortedWritesLeaveNoFile) { rlecodecs::ExpectFailedWritesLeaveNoFile(WriteJpeg); }

TEST_F(JpegFiles, AbortedReadKeepsTheRowsDecodedSoFar) {
  const std::string path = Make("abort-read.jpg", "cjpeg -outfile OUT IN");
  std::unique_ptr<TImage> partial;
  {
    rlecodecs::TStopAfter stop(50);
    partial = Read(path);
  }
  EXPECT_EQ(partial->Width(), 301);
  const TRgbPicture whole = Djpeg(path);
  const TRgbPicture got = ImageToRgb(*partial);
  EXPECT_TRUE(std::equal(whole.rgb.begin(), whole.rgb.begin() + 301 * 3 * 40, got.rgb.begin()));
  EXPECT_FALSE(std::equal(whole.rgb.begin(), whole.rgb.end(), got.rgb.begin()));
}

} // namespace
