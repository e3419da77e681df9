#pragma once
// The BMP reader and writer.
#include "formats/codec_results.h"

struct TPkgStream;
struct TDib;
class TImage;
class TProfile;
class TDither;

// Reads the picture from a stream positioned at its first byte into the
// image. Bad or short data leaves the rows not reached at their fill value
// and answers Partial; a header the reader refuses leaves the image alone and
// answers Failed; a stop from the progress hook answers Stopped.
TReadOutcome ReadBmp(TPkgStream* stream, TImage& image, const TProfile& options);
// The same for a packed bitmap: the information header, the colour table and
// the pixels, without the file header.
TReadOutcome ReadPackedBmp(TPkgStream* stream, TImage& image, const TProfile& options);
// Decodes a bitmap the image cannot take over as it is (compressed, of another
// bit count, top-down or larger than the stored limit) by passing it through
// the packed-bitmap reader. The BMP module installs it as the image's bitmap
// decoder when the program starts. False when no picture could be made.
bool DecodeDib(const TDib& dib, TImage& image);
// Writes the cropped, oriented output of the image to path: kSaveWritten,
// kSaveFailed, or kSaveStopped when the progress hook asked to stop. A failed
// or stopped write leaves the old file, or none, as it was.
int WriteBmp(const char* path, TImage& image, const TProfile& options, TDither* ditherer);
