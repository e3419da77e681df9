#include "formats/picture_io.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <strings.h>

#include "settings/profile.h"
#include "core/image.h"
#include "core/log_sink.h"
#include "core/progress.h"
#include "filepkg/filepkg.h"
#include "formats/bmp.h"
#include "formats/comment_sink.h"
#include "formats/gif.h"
#include "formats/heif.h"
#include "formats/jpeg.h"
#include "formats/pcx.h"
#include "formats/png.h"
#include "formats/tga.h"
#include "formats/tiff.h"
#include "formats/webp.h"
#include "formats/whole_stream.h"

namespace {

// Signatures are looked for in a window of 16 bytes that slides over the
// first 1024 bytes, so GIF and JPEG data behind a mail or archive header are
// still found. The other formats have signatures too weak to search for and
// are tested only at the first byte.
constexpr int kWindowSize = 16;
constexpr int32_t kSearchLimit = 1024;

// A metafile is copied into memory whole for its player; beyond this size it
// is left unplayed rather than exhausting memory.
constexpr size_t kMaxMetafileBytes = 64u << 20;
constexpr size_t kPlaceableHeaderSize = 22;

// File types as stored inside TImage (one lower than TFileTypeCode).
constexpr int32_t kImageTypeBmp = 1;

TMetafileRenderer g_metafileRenderer = nullptr;

// Set when a package layer, asking through AbortProc, was told to stop
// during the current read.
bool g_stopSeen = false;

// Icon and cursor files are recognised only to be refused: their first bytes
// would otherwise pass the TGA test.
enum class TFormat { None, Gif, Jpeg, Tiff, Bmp, Pcx, Tga, Metafile, Art, Icon, Png, Webp, Heif };

bool Starts(const uint8_t* window, std::initializer_list<uint8_t> bytes) {
  return std::equal(bytes.begin(), bytes.end(), window);
}

uint16_t Little16(const uint8_t* bytes) { return static_cast<uint16_t>(bytes[0] | bytes[1] << 8); }

// An icon or cursor file: a reserved 0, the type (1 icon, 2 cursor) and the
// number of pictures, then one 16-byte entry per picture whose fourth byte is
// reserved (0). As a TGA header these bytes would describe a colour-mapped
// or true-colour picture with a colour map of count entries that the header
// says is absent, which no TGA writer produces.
bool IsIconDirectory(const uint8_t* w) {
  return (Starts(w, {0, 0, 1, 0}) || Starts(w, {0, 0, 2, 0})) && Little16(w + 4) != 0 && w[9] == 0;
}

// Today's formats carry strong signatures at their first byte: PNG its eight
// bytes, WebP a RIFF header whose form is "WEBP", HEIF and AVIF an "ftyp"
// box whose major brand names a still picture. They are tested before all
// others, so that none of their files is ever taken for a TGA or a metafile.
TFormat ClassifyModern(const uint8_t* w) {
  if (Starts(w, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) return TFormat::Png;
  if (std::memcmp(w, "RIFF", 4) == 0 && std::memcmp(w + 8, "WEBP", 4) == 0) return TFormat::Webp;
  if (std::memcmp(w + 4, "ftyp", 4) == 0) {
    for (const char* brand : {"heic", "heix", "mif1", "msf1", "avif"})
      if (std::memcmp(w + 8, brand, 4) == 0) return TFormat::Heif;
  }
  return TFormat::None;
}

// The tests in their order; the first match decides. atStart is true only
// for the window at offset 0.
TFormat Classify(const uint8_t* w, bool atStart) {
  if (atStart) {
    if (const TFormat modern = ClassifyModern(w); modern != TFormat::None) return modern;
  }
  if (Starts(w, {'G', 'I', 'F', '8', '7', 'a'}) || Starts(w, {'G', 'I', 'F', '8', '9', 'a'}))
    return TFormat::Gif;
  const bool bmpHeader = atStart && Starts(w, {'B', 'M'});
  // A "BM" file whose information header is 0x44 bytes long is a camera file
  // that the JPEG adapter's data source unwraps.
  if (Starts(w, {0xFF, 0xD8, 0xFF}) || Starts(w, {0x07, 0x20, 0x4D, 0x4D}) ||
      (bmpHeader && w[14] == 0x44) || Starts(w, {'S', 'F', 'W', '9', '4', 'A'}) ||
      (atStart && Starts(w, {0x80, 0x3E, 0x44, 0x53})))
    return TFormat::Jpeg;
  if (!atStart) return TFormat::None;
  // Big-endian TIFF is recognised by its first three bytes; the TIFF reader
  // checks the version itself.
  if (Starts(w, {'I', 'I', 0x2A, 0x00}) || Starts(w, {'M', 'M', 0x00})) return TFormat::Tiff;
  // Canon CRW files are not TIFF files ("II", then 1A hex), but the camera
  // reader behind the TIFF entry reads them: they are known by "HEAPCCDR".
  if (Starts(w, {'I', 'I'}) && std::memcmp(&w[6], "HEAPCCDR", 8) == 0) return TFormat::Tiff;
  if (bmpHeader) return TFormat::Bmp;
  if (w[0] == 0x0A && (w[1] == 0 || (w[1] >= 2 && w[1] <= 5))) return TFormat::Pcx;
  if (IsIconDirectory(w)) return TFormat::Icon;
  // TGA has no signature: a colour-map type of 0, 1 or 128 and up, and one of
  // the six image types this program reads.
  const uint8_t tgaType = w[2];
  if (static_cast<int8_t>(w[1]) <= 1 &&
      (tgaType == 1 || tgaType == 2 || tgaType == 3 || tgaType == 9 || tgaType == 10 || tgaType == 11))
    return TFormat::Tga;
  if (Starts(w, {0xD7, 0xCD, 0xC6, 0x9A}) || Starts(w, {0x02, 0x00, 0x12, 0x00})) return TFormat::Metafile;
  if (Starts(w, {'J', 'G'})) return TFormat::Art;
  return TFormat::None;
}

// Reads the rest of the stream into metafile.data; false when it is larger
// than a metafile can sensibly be or the read was abandoned.
bool CopyMetafileData(TPkgStream* stream, TMetafile& metafile) {
  return ReadWholeStream(stream, kMaxMetafileBytes, metafile.data) && PkgAbortRequested() == 0;
}

// Hands the metafile to the installed player; the image adopts what it
// draws. Without a player, or when it draws nothing, the blank picture stays
// and the metafile counts as not read.
TReadOutcome ReadMetafile(TPkgStream* stream, bool placeable, TImage& image) {
  if (!g_metafileRenderer) return TReadOutcome::Failed;
  TMetafile metafile;
  if (placeable) {
    // Placeable header: key (4), handle (2), bounding box left, top, right,
    // bottom (signed 16-bit each), units per inch (2), reserved (4),
    // checksum (2); the metafile itself follows.
    uint8_t header[kPlaceableHeaderSize];
    if (PkgSeek(stream, 0, SEEK_SET) != 0 || PkgRead(header, 1, sizeof header, stream) != sizeof header)
      return TReadOutcome::Failed;
    metafile.left = static_cast<int16_t>(Little16(header + 6));
    metafile.top = static_cast<int16_t>(Little16(header + 8));
    metafile.right = static_cast<int16_t>(Little16(header + 10));
    metafile.bottom = static_cast<int16_t>(Little16(header + 12));
    metafile.unitsPerInch = Little16(header + 14);
  } else if (PkgSeek(stream, 0, SEEK_SET) != 0) {
    return TReadOutcome::Failed;
  }
  if (ProgressReport(0) != 0) return TReadOutcome::Stopped;
  if (!CopyMetafileData(stream, metafile)) return TReadOutcome::Failed;
  std::unique_ptr<TDib> dib = g_metafileRenderer(metafile);
  if (!dib) return TReadOutcome::Failed;
  image.AdoptBitmap(std::move(dib));
  return TReadOutcome::Complete;
}

// The format word of a reading and how much was read.
struct TReading {
  const char* result;
  TReadOutcome outcome;
};

constexpr TReading kNoFormat = {"???", TReadOutcome::NotPicture};

// Runs the reader of a detected format over the stream, positioned at the
// format's first byte (offset, where the window matched).
TReading ReadDetected(TFormat format, TPkgStream* stream, int32_t offset, const uint8_t* window,
                      const char* path, TImage& image, const TProfile& options) {
  switch (format) {
  case TFormat::Art:
    // An "art" file's picture cannot be decoded; a white picture of its size
    // stands in for it, shown but not counted as read.
    BlankPicture(image, Little16(window + 14), Little16(window + 12));
    return {"art", TReadOutcome::Failed};
  case TFormat::Metafile: return {"wmf", ReadMetafile(stream, window[0] == 0xD7, image)};
  case TFormat::Icon:
    LogMessage("Icon and cursor files are not read: %s", path);
    return kNoFormat;
  default: break;
  }
  // TIFF offsets count from the file's first byte, so its reader always
  // starts there.
  if (PkgSeek(stream, format == TFormat::Tiff ? 0 : offset, SEEK_SET) != 0) return kNoFormat;
  switch (format) {
  case TFormat::Gif: return {"gif", ReadGif(stream, image, options)};
  case TFormat::Jpeg: return {"jpg", ReadJpeg(stream, path, image, options)};
  case TFormat::Tiff: return {"tif", ReadTiff(stream, path, image, options)};
  case TFormat::Bmp: return {"bmp", ReadBmp(stream, image, options)};
  case TFormat::Pcx: return {"pcx", ReadPcx(stream, image, options)};
  case TFormat::Tga: return {"tga", ReadTga(stream, image, options)};
  case TFormat::Png: return {"png", ReadPng(stream, image, options)};
  case TFormat::Webp: return {"webp", ReadWebp(stream, image, options)};
  case TFormat::Heif: return {"heif", ReadHeif(stream, image, options)};
  default: return kNoFormat;
  }
}

// Slides the detection window over the stream and reads the first format
// recognised.
TReading DetectAndRead(TPkgStream* stream, const char* path, TImage& image, const TProfile& options) {
  uint8_t window[kWindowSize] = {};
  PkgRead(window, 1, kWindowSize, stream); // a short file leaves zeros
  for (int32_t offset = 0; offset < kSearchLimit; ++offset) {
    const TFormat format = Classify(window, offset == 0);
    if (format != TFormat::None) return ReadDetected(format, stream, offset, window, path, image, options);
    const int next = PkgGetByte(stream);
    if (next < 0) break;
    std::memmove(window, window + 1, kWindowSize - 1);
    window[kWindowSize - 1] = static_cast<uint8_t>(next);
  }
  return kNoFormat;
}

// The part of a path after its last slash or backslash.
const char* FileNamePart(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') name = p + 1;
  return name;
}

bool IsPngName(const char* path) {
  const char* dot = std::strrchr(FileNamePart(path), '.');
  return dot && strcasecmp(dot, ".png") == 0;
}

// Lets slow package layers (downloads, inflation) keep the window alive and
// notice a stop request while a picture is read. A stop they see there ends
// their data early, so the reading it cuts short counts as stopped.
int AbortFromProgress(const void*) {
  const int stop = ProgressReport(-1);
  if (stop != 0) g_stopSeen = true;
  return stop;
}

} // namespace

std::unique_ptr<TImage> NewImageFor(const TProfile& options) {
  return std::make_unique<TImage>(options.Ref(IntKey::ZoomMul), options.Ref(IntKey::ZoomDiv),
                                  options.Ref(IntKey::GIFOver), options.Ref(IntKey::GIFDpi1),
                                  options.Ref(IntKey::GIFDpi2), options.Ref(IntKey::GIFDpi3));
}

void BlankPicture(TImage& image, int32_t width, int32_t height) {
  width = std::clamp(width, 1, kMaxImageSide);
  height = std::clamp(height, 1, kMaxImageSide);
  image.Create(kImageTypeBmp, width, height, 1, 1, 1, 1, 1);
  TLogPalette palette;
  palette.count = 2;
  palette.entries[0] = {0, 0, 0, 0};
  palette.entries[1] = {255, 255, 255, 0};
  image.SetPalette(palette);
}

const char* ReadPicture(const char* path, TImage& image, const TProfile& options, TReadOutcome* outcome) {
  CommentChar(0);
  BlankPicture(image, 1, 1);
  ProgressBegin();
  PkgSetPtr("AbortProc", reinterpret_cast<const void*>(&AbortFromProgress));
  g_stopSeen = false;
  TReading reading = {"???", TReadOutcome::CannotOpen};
  if (TPkgStream* stream = PkgOpen(path, "rb")) {
    reading = DetectAndRead(stream, path, image, options);
    PkgClose(stream, kPkgKeep);
  }
  if (g_stopSeen && reading.outcome != TReadOutcome::Complete) reading.outcome = TReadOutcome::Stopped;
  if (PictureWasRead(reading.outcome) && image.HeldReduced()) reading.outcome = TReadOutcome::Reduced;
  if (outcome) *outcome = reading.outcome;
  PkgSetPtr("AbortProc", nullptr);
  ProgressEnd();
  return reading.result;
}

int32_t FileTypeFromExtension(const char* path) {
  static constexpr const char* kExtensions[] = {".gif", ".bmp", ".pcx", ".tga", ".jpg", ".tif"};
  const char* dot = std::strrchr(FileNamePart(path), '.');
  if (!dot) return 0;
  for (int32_t i = 0; i < 6; ++i)
    if (strcasecmp(dot, kExtensions[i]) == 0) return i + 1;
  return 0;
}

int SavePicture(const char* path, int32_t fileTypeCode, TImage& image, const TProfile& options,
                TDither* ditherer) {
  using TWriter = int (*)(const char*, TImage&, const TProfile&, TDither*);
  static constexpr TWriter kWriters[] = {WriteGif, WriteBmp, WritePcx, WriteTga, WriteJpeg, WriteTiff};
  TWriter writer = nullptr;
  if (IsPngName(path)) {
    writer = WritePng;
  } else {
    if (const int32_t fromName = FileTypeFromExtension(path)) fileTypeCode = fromName;
    if (fileTypeCode < kFileTypeGif || fileTypeCode > kFileTypeTif) return kSaveFailed;
    writer = kWriters[fileTypeCode - 1];
  }
  ProgressBegin();
  const int result = writer(path, image, options, ditherer);
  ProgressEnd();
  return result;
}

void SetMetafileRenderer(TMetafileRenderer renderer) { g_metafileRenderer = renderer; }
