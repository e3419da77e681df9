#pragma once
// The colour reduction driver: hands the output rows of the picture (after
// the caller set its output geometry) to a header, row and trailer writer as
// palette indices. An 8-bit picture whose palette fits the colour count goes
// through unchanged; anything else is reduced with the JPEG library's
// two-pass quantiser (median cut over a histogram, then mapping with
// Floyd-Steinberg diffusion). The GIF writer and the display palette of a
// 24-bit picture use it.
#include <cstdint>
#include <functional>

class TImage;
class TDither;

struct TReductionWriters {
  // Output size and the palette as colourCount blue, green, red triples.
  // Returning false stops the reduction.
  std::function<bool(int32_t width, int32_t height, int32_t colourCount, const uint8_t* bgrPalette)>
      header;
  // One output row of indices, in pass order. Left empty when only the
  // palette is wanted: then no row is mapped. Returning false stops.
  std::function<bool(const uint8_t* indices, int32_t count)> row;
  std::function<bool()> trailer;
};

enum class TRowOrder : int32_t { Sequential = 0, Interlaced = 1 };

enum class TReduceResult : int32_t {
  Ok = 0,
  WriterFailed = 1, // a writer returned false
  Aborted = 2,      // the progress hook asked to stop
  NoMemory = 3,     // the quantiser could not get its working memory
};

// Colour counts below this are quantised to this many colours first and then
// merged, because the library's quantiser refuses to select fewer.
inline constexpr int32_t kQuantiserMinColours = 8;

// Runs the header writer, every output row in pass order (rows 0, 8, 16 ...,
// 4, 12 ..., 2, 6 ..., 1, 3 ... when interlaced) and the trailer writer.
// Rows pass through the ditherer's ConvertRow when one is given (tone tables,
// 8-bit indices expanded to colours); without one an 8-bit picture's own
// palette is used. colourCount is clamped to 1..256. Progress: 0-50 percent
// for the histogram and 50-100 for the mapping (0-100 when no rows are
// written, or when the picture goes through unchanged). An interlaced picture
// is mapped in picture order, so that the diffusion reaches neighbouring
// rows, and then written in pass order.
TReduceResult ReduceColours(const TImage& image, TDither* dither, TRowOrder order,
                            int32_t colourCount, const TReductionWriters& writers);

// Calls visit(row) for rows 0..height-1 in pass order; stops when it returns
// false and then returns false.
bool ForEachRowInPassOrder(int32_t height, TRowOrder order,
                           const std::function<bool(int32_t row)>& visit);
