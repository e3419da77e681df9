#pragma once
// The HEIF reader (libheif): HEIC and AVIF files.
#include "formats/codec_results.h"

struct TPkgStream;
class TImage;
class TProfile;

// Reads the primary picture of the file from a stream positioned at its
// "ftyp" box into the image as a 24-bit picture, with the file's turns,
// mirrors and crops applied and alpha laid over the background colour
// settings; samples of more than 8 bits are cut to 8. The EXIF image
// description goes to the comment text. A file the library cannot decode
// (no primary picture, bad data, a picture beyond the size limit) leaves
// the image alone (Failed), its reason logged as "HEIF Error: ...". The
// library decodes the whole picture before any row is stored; a stop asked
// for meanwhile is answered once it returns (Stopped).
TReadOutcome ReadHeif(TPkgStream* stream, TImage& image, const TProfile& options);
