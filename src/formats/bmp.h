#pragma once
// The BMP reader and writer.
#include <cstdint>

#include "formats/codec_results.h"

struct TPkgStream;
struct TDib;
class TImage;
class TProfile;
class TDither;
struct TLogPalette;

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

// The display a picture is written for when the file is to show what the
// screen shows (the desktop wallpaper).
struct TBmpDevice {
  int32_t width = 0;  // the screen's size in pixels
  int32_t height = 0;
  int32_t bitCount = 24; // the display's bits per pixel
  // The display palette; used when bitCount is 8 or less.
  const TLogPalette* palette = nullptr;
};

// Writes the screen-sized view of the image: the crop in its present
// orientation fitted into device.width x device.height and centred there
// (the rest pixel 0). A display of 8 bits or fewer with a palette gets an
// 8-bit file with the display palette, its rows dithered to that palette
// through ditherer; any other display a 24-bit file, rows converted through
// the ditherer's tone tables. The ditherer must have been given the
// picture's source palette; nullptr prepares one with neutral tone. The
// image's output geometry stays laid out for the screen. Results and
// failures as WriteBmp.
int WriteBmpForDevice(const char* path, TImage& image, TDither* ditherer, const TBmpDevice& device);
