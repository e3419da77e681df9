#pragma once
// The TGA reader and writer.
#include "formats/codec_results.h"

struct TPkgStream;
class TImage;
class TProfile;
class TDither;

// Reads the picture from a stream positioned at its first byte into the
// image. Bad or short data leaves the rows not reached at their fill value
// and answers Partial; a header the reader refuses leaves the image alone and
// answers Failed; a stop from the progress hook answers Stopped.
TReadOutcome ReadTga(TPkgStream* stream, TImage& image, const TProfile& options);
// Writes the cropped, oriented output of the image to path: kSaveWritten,
// kSaveFailed, or kSaveStopped when the progress hook asked to stop. A failed
// or stopped write leaves the old file, or none, as it was.
int WriteTga(const char* path, TImage& image, const TProfile& options, TDither* ditherer);
