#pragma once
// The view of the image record: which part of the picture is shown (the crop
// inside fullRect), at which zoom, in which orientation, and where it lands in
// an output area. The window, thumbnail cells, the printer and the clipboard
// all lay the view out through Layout with their own areas and resolutions.
// Every operation is integer arithmetic on the TImage fields; none fails:
// sizes below 1 become 1, the output is at most kMaxImageSide square, and
// every crop change is clamped into fullRect.
#include <cstdint>

class TImage;

// A fraction kept small enough for 32-bit products.
struct TFraction {
  int32_t num;
  int32_t den;
};

// Values of 0 or less become 1; common factors 2, 3, 5, 7 and 11 are divided
// out; then both are halved while either exceeds 32767.
TFraction NormaliseFraction(int64_t num, int64_t den);

enum class ZoomDirection : int { Reset = 0, In = 1, Out = -1 };

// Orientation bits as the setting Rotate holds them.
inline constexpr int32_t kTranspose = 1;
inline constexpr int32_t kMirror = 2;
inline constexpr int32_t kFlip = 4;

// Stores the orientation, computes the pixel-aspect and zoom terms, the
// output size and its placement centred in the area, and rebuilds the maps.
// autoScale stretches the whole crop to fill the area with its aspect kept;
// otherwise the zoom applies, autoFit shrinks a picture larger than the area,
// and a crop showing more than fits is narrowed around the centre.
void Layout(TImage& image, int32_t areaWidth, int32_t areaHeight, int32_t deviceXDpi,
            int32_t deviceYDpi, int32_t orientation, bool autoScale, bool autoFit);

// One zoom-in or zoom-out step by ZoomMul / ZoomDiv, or the view reset to
// the whole picture, for an area of areaWidth x areaHeight output pixels.
// A step that would leave nothing visible is undone.
void ZoomStep(TImage& image, ZoomDirection direction, int32_t areaWidth, int32_t areaHeight,
              bool autoScale, bool autoFit);

// Makes the picture under a rectangle of the area (corners inclusive, in
// area coordinates) the crop; with autoFit and no autoScale it also picks a
// whole-number zoom that fits that crop into the area.
void ZoomToRect(TImage& image, int32_t left, int32_t top, int32_t right, int32_t bottom,
                int32_t areaWidth, int32_t areaHeight, bool autoScale, bool autoFit);

// Makes the picture point under (x, y) of the area the centre; the crop
// follows at the next zoom step.
void CentreOn(TImage& image, int32_t x, int32_t y);

// Moves the crop by (dx, dy) picture pixels given in output orientation.
void Pan(TImage& image, int32_t dx, int32_t dy);

// Sets the crop's size, given in output orientation.
void SetVisibleSize(TImage& image, int32_t width, int32_t height);

// Trims rows and columns of few distinct values from the crop's edges (a
// plain frame) and confines the view to what remains.
void CropUniformBorders(TImage& image);
