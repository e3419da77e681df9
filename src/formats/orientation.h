#pragma once
// The orientation a camera records with a photograph (the EXIF and TIFF
// Orientation tag) and its application to a picture just read, so that the
// picture stands as the camera was held.
//
// Values: 1 as stored, 2 mirrored left to right, 3 turned half round,
// 4 flipped top to bottom, 5 mirrored across the main diagonal, 6 turned a
// quarter clockwise, 7 mirrored across the other diagonal, 8 turned a
// quarter anticlockwise. Any other value means "as stored".
#include <cstddef>
#include <cstdint>
#include <string>

class TImage;

// What an EXIF block tells the readers: the orientation (0 when absent or
// out of range) and the image description (empty when absent).
struct TExifFacts {
  int32_t orientation = 0;
  std::string description;
};

// Reads the first image directory of an EXIF block: the TIFF structure
// (byte order mark, 42, directory offset) optionally preceded by "Exif" and
// two zero bytes, as a JPEG APP1 segment holds it. Every offset is checked
// against size; a damaged block gives what could be read.
TExifFacts ReadExifFacts(const uint8_t* data, size_t size);

// Turns or mirrors the stored picture by the orientation value; 0, 1 and
// values outside 1..8 change nothing. The palette, the resolution (exchanged
// for a quarter turn) and the reduction stay with the picture.
void ApplyOrientation(TImage& image, int32_t orientation);
