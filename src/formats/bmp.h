#pragma once
// The BMP reader and writer.
struct TPkgStream;
class TImage;
class TProfile;
class TDither;

// Reads the picture from a stream positioned at its first byte into the
// image. Bad or short data leaves the rows not reached at their fill value.
void ReadBmp(TPkgStream* stream, TImage& image, const TProfile& options);
// Writes the cropped, oriented output of the image to path; 0 on success,
// non-zero when the file could not be written completely.
int WriteBmp(const char* path, TImage& image, const TProfile& options, TDither* ditherer);
