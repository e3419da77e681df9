#pragma once
// The PNG reader and writer (libpng).
#include "formats/codec_results.h"

struct TPkgStream;
class TImage;
class TProfile;
class TDither;

// Reads the picture from a stream positioned at its signature into the
// image. Palette and grey pictures of up to 8 bits become 8-bit pictures
// with their palette; the others 24-bit pictures, 16-bit samples cut to
// their high byte. Transparent pixels show the background colour settings.
// Text chunks go to the comment text. Bad or short data leaves the rows not
// reached at their fill value (Partial); a header the library refuses
// leaves the image alone (Failed); a stop answers Stopped. The library's
// complaints are logged as "PNG Error: ..." and "PNG Warning: ...".
TReadOutcome ReadPng(TPkgStream* stream, TImage& image, const TProfile& options);
// Writes the cropped, oriented output of the image to path: 8-bit pictures
// with their palette, 24-bit ones as RGB, the comment text as a "Comment"
// text chunk, the resolution in a pHYs chunk. kSaveWritten, kSaveFailed, or
// kSaveStopped when the progress hook asked to stop; a failed or stopped
// write leaves the old file, or none, as it was.
int WritePng(const char* path, TImage& image, const TProfile& options, TDither* ditherer);
