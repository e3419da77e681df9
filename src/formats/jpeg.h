#pragma once
// The JPEG adapter.
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
TReadOutcome ReadJpeg(TPkgStream* stream, const char* path, TImage& image, const TProfile& options);
// Writes the cropped, oriented output of the image to path: kSaveWritten,
// kSaveFailed, or kSaveStopped when the progress hook asked to stop. A failed
// or stopped write leaves the old file, or none, as it was.
int WriteJpeg(const char* path, TImage& image, const TProfile& options, TDither* ditherer);
