#pragma once
// The TIFF adapter.
#include <cstdint>

#include "formats/codec_results.h"

struct TPkgStream;
class TImage;
class TProfile;
class TDither;

// Reads the picture from a stream positioned at its first byte into the
// image; path names it for page selection and messages. Bad or short data
// leaves a partial picture (Partial) or, when nothing of the picture could
// be read, the image as it was (Failed); a stop from the progress hook
// answers Stopped.
TReadOutcome ReadTiff(TPkgStream* stream, const char* path, TImage& image, const TProfile& options);
// Writes the cropped, oriented output of the image to path: kSaveWritten,
// kSaveFailed, or kSaveStopped when the progress hook asked to stop. A failed
// or stopped write leaves the old file, or none, as it was.
int WriteTiff(const char* path, TImage& image, const TProfile& options, TDither* ditherer);

// The page a name selects: N (1 to 9999) when it ends in ".tif", a slash or
// backslash, "page", four digits and ".tif" (in any case), otherwise 0.
int32_t TiffPageOfName(const char* name);
// The number of pages (directories) of the TIFF file in a stream, read from
// its first byte; 0 when libtiff cannot open it. The stream's position is
// left anywhere.
int32_t TiffPageCount(TPkgStream* stream);
