#pragma once
// The BMP reader and writer.
struct TPkgStream;
struct TDib;
class TImage;
class TProfile;
class TDither;

// Reads the picture from a stream positioned at its first byte into the
// image. Bad or short data leaves the rows not reached at their fill value.
void ReadBmp(TPkgStream* stream, TImage& image, const TProfile& options);
// The same for a packed bitmap: the information header, the colour table and
// the pixels, without the file header.
void ReadPackedBmp(TPkgStream* stream, TImage& image, const TProfile& options);
// Decodes a bitmap the image cannot take over as it is (compressed, of another
// bit count, top-down or larger than the stored limit) by passing it through
// the packed-bitmap reader. The BMP module installs it as the image's bitmap
// decoder when the program starts. False when no picture could be made.
bool DecodeDib(const TDib& dib, TImage& image);
// Writes the cropped, oriented output of the image to path; 0 on success,
// non-zero when the file could not be written completely.
int WriteBmp(const char* path, TImage& image, const TProfile& options, TDither* ditherer);
