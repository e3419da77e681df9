#pragma once
// The TIFF adapter.
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
