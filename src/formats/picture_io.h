#pragma once
// The reader entry and the writer entry: the two doors between the rest of the
// program and the codecs. The reader decides a file's format from its bytes,
// never from its name; the writer decides from the name's extension when there
// is one, else from the file type code.
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/codec_results.h"

struct TDib;
class TImage;
class TProfile;
class TDither;

// File type codes at this interface (dialogs, settings, slide-show actions);
// inside TImage the same formats are numbered one lower.
enum TFileTypeCode : int32_t {
  kFileTypeGif = 1,
  kFileTypeBmp = 2,
  kFileTypePcx = 3,
  kFileTypeTga = 4,
  kFileTypeJpg = 5,
  kFileTypeTif = 6,
  kFileTypeWmf = 7,
};

// A picture record bound to the zoom and resolution settings of options,
// which must outlive it.
std::unique_ptr<TImage> NewImageFor(const TProfile& options);

// The 1 x 1 white picture every read starts from and the one an unreadable
// file leaves: an 8-bit BMP-type picture with a black and a white palette
// entry, every pixel white. Width and height are clamped to 1..kMaxImageSide.
void BlankPicture(TImage& image, int32_t width, int32_t height);

// Reads the picture named by path (any package name) into image and returns
// the format's extension without the dot: "gif", "jpg", "tif", "bmp", "pcx",
// "tga", "wmf", "art", "png", "webp", "heif" (HEIC and AVIF alike), or "???"
// when the name cannot be opened or no format is recognised. The picture is left in the image whatever happens: a blank
// 1 x 1 white one for "???", a partial one when a reader meets bad data or the
// user stops it. Clears the comment text first and runs inside ProgressBegin /
// ProgressEnd with the package's AbortProc bound to the progress hook, so slow
// package layers can be interrupted too. outcome, when given, receives how
// much was read: CannotOpen and NotPicture go with "???"; an "art" picture,
// a metafile that no player drew and a file whose reader refused its header
// are Failed; a stop, whether a reader or a package layer saw it, makes an
// unfinished read Stopped; a picture the image had to hold smaller than the
// file's (not enough memory, or a side beyond kMaxImageSide) is Reduced,
// while the user's own QuickLook reduction is not. Icon and cursor files,
// whose first bytes look like a TGA header, are refused with a log line as
// NotPicture. Not re-entrant.
const char* ReadPicture(const char* path, TImage& image, const TProfile& options,
                        TReadOutcome* outcome = nullptr);

// Writes the cropped, oriented output of the image to path. A case-insensitive
// extension ".png" writes a PNG file whatever the code; ".gif", ".bmp",
// ".pcx", ".tga", ".jpg" or ".tif" replaces fileTypeCode; without one of
// those the code decides. Returns the writer's
// result (kSaveWritten, kSaveFailed or kSaveStopped); kSaveFailed without
// writing anything for a code other than 1 to 6. The ditherer serves writers
// that must reduce colours.
int SavePicture(const char* path, int32_t fileTypeCode, TImage& image, const TProfile& options,
                TDither* ditherer);

// The file type code a path's extension names, or 0 when it has none of the
// six written extensions.
int32_t FileTypeFromExtension(const char* path);

// A metafile as found by detection: the data after any placeable header, the
// bounding box in metafile units and the units per inch (0 when the file has
// no placeable header).
struct TMetafile {
  std::vector<uint8_t> data;
  int16_t left = 0;
  int16_t top = 0;
  int16_t right = 0;
  int16_t bottom = 0;
  uint16_t unitsPerInch = 0;
};

// Plays a metafile into a bitmap; nullptr when it cannot. The viewing layer
// installs its player here; without one a metafile leaves the blank picture
// and is still reported as "wmf".
using TMetafileRenderer = std::unique_ptr<TDib> (*)(const TMetafile& metafile);
void SetMetafileRenderer(TMetafileRenderer renderer);
