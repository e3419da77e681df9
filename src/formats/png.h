#pragma once
// The PNG reader (libpng) and writer (libdeflate, zlib for the largest).
#include <cstddef>

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
// The writer compresses the filtered rows of a picture in one piece when
// they take at most this many bytes, else a band at a time (slower, but the
// memory stays small). Tests lower the limit to reach the bands with small
// pictures.
constexpr size_t kPngWholeDeflateBytes = size_t{256} << 20;
void SetPngWholeDeflateLimit(size_t bytes);
