#pragma once
// The TIFF adapter.
#include <cstdint>

struct TPkgStream;
class TImage;
class TProfile;
class TDither;

// Reads the picture from a stream positioned at its first byte into the
// image; path names it for page selection and messages. Bad or short data
// leaves a partial or blank picture.
void ReadTiff(TPkgStream* stream, const char* path, TImage& image, const TProfile& options);
// Writes the cropped, oriented output of the image to path; 0 on success,
// non-zero when the file could not be written completely.
int WriteTiff(const char* path, TImage& image, const TProfile& options, TDither* ditherer);

// The page a name selects: N (1 to 9999) when it ends in ".tif", a slash or
// backslash, "page", four digits and ".tif" (in any case), otherwise 0.
int32_t TiffPageOfName(const char* name);
// The number of pages (directories) of the TIFF file in a stream, read from
// its first byte; 0 when libtiff cannot open it. The stream's position is
// left anywhere.
int32_t TiffPageCount(TPkgStream* stream);
