#pragma once
// The WebP reader (libwebp).
#include "formats/codec_results.h"

struct TPkgStream;
class TImage;
class TProfile;

// Reads the picture from a stream positioned at its RIFF header into the
// image as a 24-bit picture: lossy and lossless files, with alpha laid over
// the background colour settings; of an animation, the first frame on its
// canvas. A reduced picture is decoded at its reduced size by the library's
// own scaler. The EXIF image description goes to the comment text. Data that
// ends early or goes bad leaves the rows not reached at their fill value
// (Partial); a file the library refuses leaves the image alone (Failed);
// a stop answers Stopped. The library's complaints are logged as
// "WebP Error: ...".
TReadOutcome ReadWebp(TPkgStream* stream, TImage& image, const TProfile& options);
