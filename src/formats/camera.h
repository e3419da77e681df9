#pragma once
// Files of early digital cameras that share the TIFF signatures: Kodak DC120,
// DC50, DC40 and DC25 files and Canon CRW files of the first kind. They are
// recognised by texts at fixed offsets of their first 15680 bytes and decoded
// from raw sensor data or from an embedded thumbnail into 24-bit pictures.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "formats/codec_results.h"

struct TPkgStream;
class TImage;
class TProfile;

enum class TCameraKind { None, Dc120, Dc50, Dc40, Dc25, Crw };

// The bytes identification looks at; a shorter file is no camera file.
inline constexpr size_t kCameraHeaderSize = 15680;

// The camera that wrote a file, from its first count bytes; None when count
// is below kCameraHeaderSize or no identification matches.
TCameraKind IdentifyCamera(const uint8_t* head, size_t count);

// Reads the file in the stream (positioned anywhere; camera offsets count
// from its first byte) when it is a camera file and answers how much was
// read: Complete, Partial when the data ran short (bytes past its end read
// as the end value), Stopped, or the answer of the JPEG adapter for
// compressed DC120 data. Answers nothing, having made no picture, for any
// other file.
std::optional<TReadOutcome> ReadCamera(TPkgStream* stream, const char* path, TImage& image, const TProfile& options);
