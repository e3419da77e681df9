// The PNG adapter: glue between the picture record, the package streams and
// libpng. The library's fatal errors unwind as unwind.h describes; its reader
// and writer records own everything that lives across a jump.
//
// Rows come from the library already in the picture's form: palette indices
// and grey levels one byte each, colour pixels as blue, green, red, with an
// alpha sample when the file has transparency, which is then laid over the
// background colour. An interlaced file is read pass by pass, every pass's
// pixels put in place in the stored rows, so that neither the file's nor a
// reduced picture's rows need to be held twice.
#include "formats/png.h"

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <png.h>

#include "settings/profile.h"
#include "core/dither.h"
#include "core/image.h"
#include "core/log_sink.h"
#include "core/progress.h"
#include "filepkg/filepkg.h"
#include "formats/colour_rows.h"
#include "formats/comment_sink.h"
#include "formats/run_length.h"
#include "formats/save_output.h"
#include "formats/unwind.h"

namespace {

// Pictures that are not read from the formats of the file-type codes are
// stored as BMP-type pictures, as imported bitmaps are.
constexpr int32_t kImageTypeBmp = 1;
constexpr int kZlibLevel = 6;
constexpr double kMetresPerInch = 0.0254;
// Caps on what ancillary chunks may claim: the memory of one chunk's data
// and the number of chunks kept (text, palettes) per file. The library
// only warns about a chunk longer than its cap and then asks for the memory
// anyway, so its allocations pass through a hook that refuses any block
// larger than the largest it needs for a picture (rows of 16-bit samples
// with alpha); the library then skips the chunk.
constexpr png_alloc_size_t kMaxChunkBytes = 16u << 20;
constexpr png_uint_32 kMaxKeptChunks = 1000;
constexpr png_alloc_size_t kMaxBlockBytes = png_alloc_size_t{kMaxFileRowPixels} * 8 + 4096;

// Where the pixels of each pass of an interlaced file lie: the first column
// and row, and the steps between them. A plain file has one pass over all.
struct TPass {
  int32_t column;
  int32_t row;
  int32_t columnStep;
  int32_t rowStep;
};
constexpr TPass kAdam7[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                            {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
constexpr TPass kWholePicture[] = {{0, 0, 1, 1}};

int32_t PassSide(int32_t side, int32_t start, int32_t step) { return side > start ? (side - start + step - 1) / step : 0; }

// Error and warning hooks of one library object; the record is found again
// through the library's error pointer.
struct TPngHooks {
  std::jmp_buf unwind;
};

[[noreturn]] void ErrorExit(png_structp png, png_const_charp message) {
  LogMessage("PNG Error: %s", message);
  std::longjmp(static_cast<TPngHooks*>(png_get_error_ptr(png))->unwind, 1);
}

void Warning(png_structp, png_const_charp message) { LogMessage("PNG Warning: %s", message); }

png_voidp Allocate(png_structp, png_alloc_size_t size) { return size <= kMaxBlockBytes ? std::malloc(size) : nullptr; }

void Release(png_structp, png_voidp block) { std::free(block); }

// ---------------------------------------------------------------- reading

struct TPngReader {
  TPngReader(TPkgStream* s, TImage& i, const TProfile& o) : stream(s), image(i), options(o) {}
  ~TPngReader() { png_destroy_read_struct(&png, &info, nullptr); }
  TPngHooks hooks{};
  png_structp png = nullptr;
  png_infop info = nullptr;
  TPkgStream* stream;
  TImage& image;
  const TProfile& options;
  int32_t width = 0;
  int32_t height = 0;
  int bitDepth = 8;     // of the file's samples, before any transform
  int channels = 1;     // samples per decoded pixel: 1 (index or grey), 3, or 4 with alpha
  int textsSent = 0;    // text chunks already passed to the comment text
  std::vector<uint8_t> decoded; // one decoded row, when it cannot go to the picture as it is
  std::vector<uint8_t> pixels;  // the same row converted, for an interlaced pass
  bool created = false;
  bool stopped = false;
  bool finished = false; // every row and the end of the file were read
};

void ReadData(png_structp png, png_bytep data, size_t length) {
  auto& reader = *static_cast<TPngReader*>(png_get_io_ptr(png));
  if (PkgRead(data, 1, length, reader.stream) != length) png_error(png, "The file ends early");
}

// Text chunks not yet sent, one a line: "keyword: text", and a "Comment"
// chunk's text alone, as this program writes its comments.
void SendTexts(TPngReader& reader) {
  png_textp texts = nullptr;
  const int count = png_get_text(reader.png, reader.info, &texts, nullptr);
  for (; reader.textsSent < count; ++reader.textsSent) {
    const png_text& text = texts[reader.textsSent];
    if (reader.textsSent > 0) CommentChar('\n');
    if (std::strcmp(text.key, "Comment") != 0) {
      CommentText(text.key);
      CommentText(": ");
    }
    for (size_t i = 0; i < text.text_length && text.text[i]; ++i) CommentChar(static_cast<unsigned char>(text.text[i]));
  }
}

// Dots per inch from a pHYs chunk in pixels per metre; 1 x 1 without one.
void PictureResolution(const TPngReader& reader, int32_t& xDpi, int32_t& yDpi) {
  png_uint_32 x = 0, y = 0;
  int unit = 0;
  xDpi = yDpi = 1;
  if (!png_get_pHYs(reader.png, reader.info, &x, &y, &unit) || unit != PNG_RESOLUTION_METER) return;
  xDpi = static_cast<int32_t>(std::min(x * kMetresPerInch + 0.5, 65535.0));
  yDpi = static_cast<int32_t>(std::min(y * kMetresPerInch + 0.5, 65535.0));
}

// The palette of a palette file, transparent entries laid over the
// background; for a grey file the ramp of its levels.
void MakePalette(TPngReader& reader, TLogPalette& palette) {
  png_colorp entries = nullptr;
  int count = 0;
  if (png_get_PLTE(reader.png, reader.info, &entries, &count)) {
    png_bytep alpha = nullptr;
    int alphaCount = 0;
    png_get_tRNS(reader.png, reader.info, &alpha, &alphaCount, nullptr);
    const TBackground background = BackgroundOf(reader.options);
    palette.count = static_cast<uint16_t>(std::clamp(count, 0, 256));
    for (int i = 0; i < palette.count; ++i) {
      const uint8_t a = i < alphaCount ? alpha[i] : 255;
      palette.entries[i] = {Compose(entries[i].red, a, background.red), Compose(entries[i].green, a, background.green),
                            Compose(entries[i].blue, a, background.blue), 0};
    }
    return;
  }
  const int bits = std::min(reader.bitDepth, 8);
  const int levels = 1 << bits;
  palette.count = static_cast<uint16_t>(levels);
  for (int i = 0; i < levels; ++i) {
    const auto v = static_cast<uint8_t>(i * 255 / (levels - 1));
    palette.entries[i] = {v, v, v, 0};
  }
}

// Asks the library for the picture's form of the rows: palette files and
// grey files without transparency give one byte per pixel, everything else
// blue, green, red and alpha when there is any transparency.
void ChooseTransforms(TPngReader& reader) {
  png_structp png = reader.png;
  const int colourType = png_get_color_type(png, reader.info);
  const bool transparent = png_get_valid(png, reader.info, PNG_INFO_tRNS) != 0;
  png_set_strip_16(png);
  if (colourType == PNG_COLOR_TYPE_PALETTE || (colourType == PNG_COLOR_TYPE_GRAY && !transparent)) {
    png_set_packing(png);
    return;
  }
  png_set_expand(png);
  png_set_gray_to_rgb(png);
  png_set_bgr(png);
}

void CreatePicture(TPngReader& reader) {
  int32_t xDpi = 1, yDpi = 1;
  PictureResolution(reader, xDpi, yDpi);
  const int32_t reduction = ReaderReduction(reader.options, reader.width, reader.height);
  reader.image.Create(kImageTypeBmp, reader.width, reader.height, xDpi, yDpi, reader.channels == 1 ? 1 : 3, reduction,
                      0);
  if (reader.channels == 1) {
    TLogPalette palette;
    MakePalette(reader, palette);
    reader.image.SetPalette(palette);
  }
  reader.created = true;
}

// Puts the pixels of one row of an interlaced pass in their places in the
// stored rows; those a reduced picture does not keep are passed over.
void PlacePassRow(TPngReader& reader, const TPass& pass, int32_t y, const uint8_t* pixels, int32_t count) {
  TImage& image = reader.image;
  const int32_t reduction = image.m_reduction;
  if (y % reduction != 0 || y / reduction >= image.Height()) return;
  uint8_t* stored = image.Row(y / reduction);
  const int32_t bytes = image.BytesPerPixel();
  for (int32_t j = 0; j < count; ++j) {
    const int32_t x = pass.column + j * pass.columnStep;
    if (x % reduction == 0 && x / reduction < image.Width())
      std::memcpy(stored + static_cast<size_t>(x / reduction) * bytes, pixels + static_cast<size_t>(j) * bytes, bytes);
  }
}

// Decodes one row of the pass and stores it. False when the picture has no
// buffer for it.
bool ReadRow(TPngReader& reader, const TPass& pass, int32_t y, int32_t count) {
  TImage& image = reader.image;
  const bool wholeRow = pass.columnStep == 1;
  if (wholeRow && reader.channels == 1) {
    uint8_t* buffer = image.RowBuffer(0, y, count);
    if (!buffer) return false;
    png_read_row(reader.png, buffer, nullptr);
    image.PutRow(0, y, buffer, count);
    return true;
  }
  png_read_row(reader.png, reader.decoded.data(), nullptr);
  const TBackground background = BackgroundOf(reader.options);
  if (wholeRow) return PutConvertedRow(image, y, reader.decoded.data(), count, reader.channels, TSampleOrder::Bgr, background);
  const uint8_t* pixels = reader.decoded.data();
  if (reader.channels > 1) {
    ToBgrRow(pixels, count, reader.channels, TSampleOrder::Bgr, background, reader.pixels.data());
    pixels = reader.pixels.data();
  }
  PlacePassRow(reader, pass, y, pixels, count);
  return true;
}

// Reads the rows pass by pass. False when reading ended early: no buffer
// for a row, or a stop.
bool ReadRows(TPngReader& reader) {
  const bool interlaced = png_get_interlace_type(reader.png, reader.info) == PNG_INTERLACE_ADAM7;
  const TPass* const first = interlaced ? std::begin(kAdam7) : std::begin(kWholePicture);
  const TPass* const last = interlaced ? std::end(kAdam7) : std::end(kWholePicture);
  int64_t totalRows = 0;
  for (const TPass* pass = first; pass != last; ++pass)
    if (PassSide(reader.width, pass->column, pass->columnStep) > 0)
      totalRows += PassSide(reader.height, pass->row, pass->rowStep);
  int64_t rowsDone = 0;
  for (const TPass* pass = first; pass != last; ++pass) {
    // The library leaves out passes without pixels.
    const int32_t columns = PassSide(reader.width, pass->column, pass->columnStep);
    if (columns == 0) continue;
    for (int32_t y = pass->row; y < reader.height; y += pass->rowStep) {
      if (!ReadRow(reader, *pass, y, columns)) return false;
      if (ReportRowProgress(++rowsDone, totalRows) != 0) {
        reader.stopped = true;
        return false;
      }
    }
  }
  return true;
}

void DecodePicture(TPngReader& reader) {
  png_structp png = reader.png;
  png_set_read_fn(png, &reader, ReadData);
  png_set_user_limits(png, kMaxFileRowPixels, PNG_UINT_31_MAX);
  png_set_chunk_malloc_max(png, kMaxChunkBytes);
  png_set_chunk_cache_max(png, kMaxKeptChunks);
  png_read_info(png, reader.info);
  SendTexts(reader);
  reader.width = static_cast<int32_t>(png_get_image_width(png, reader.info));
  reader.height = static_cast<int32_t>(png_get_image_height(png, reader.info));
  reader.bitDepth = png_get_bit_depth(png, reader.info);
  ChooseTransforms(reader);
  png_read_update_info(png, reader.info);
  reader.channels = png_get_channels(png, reader.info);
  reader.decoded.resize(png_get_rowbytes(png, reader.info));
  reader.pixels.resize(static_cast<size_t>(reader.width) * 3);
  CreatePicture(reader);
  if (!ReadRows(reader)) return;
  png_read_end(png, reader.info);
  SendTexts(reader);
  reader.finished = true;
}

// ---------------------------------------------------------------- writing

struct TPngWriter {
  explicit TPngWriter(const char* path) : output(path) {}
  ~TPngWriter() { png_destroy_write_struct(&png, &info); }
  TPngHooks hooks{};
  png_structp png = nullptr;
  png_infop info = nullptr;
  TCodecOutput output;
  std::vector<uint8_t> row;
  std::string comment;
  bool stopped = false;
};

void WriteData(png_structp png, png_bytep data, size_t length) {
  static_cast<TPngWriter*>(png_get_io_ptr(png))->output.Write(data, length);
}

void FlushData(png_structp) {}

png_uint_32 PixelsPerMetre(int32_t dpi) { return static_cast<png_uint_32>(dpi / kMetresPerInch + 0.5); }

void SetHeader(TPngWriter& writer, const TImage& image, const TSaveSize& area, const TLogPalette& palette) {
  png_structp png = writer.png;
  const bool indexed = image.BytesPerPixel() == 1;
  png_set_IHDR(png, writer.info, static_cast<png_uint_32>(area.width), static_cast<png_uint_32>(area.height), 8,
               indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (indexed) {
    // Every index a row may hold has an entry, so the file is valid whatever
    // indices the picture uses; the entries beyond its palette are black.
    png_color entries[256] = {};
    for (int i = 0; i < palette.count && i < 256; ++i)
      entries[i] = {palette.entries[i].red, palette.entries[i].green, palette.entries[i].blue};
    png_set_PLTE(png, writer.info, entries, 256);
  }
  png_set_pHYs(png, writer.info, PixelsPerMetre(image.EffectiveXDpi()), PixelsPerMetre(image.EffectiveYDpi()),
               PNG_RESOLUTION_METER);
  if (!writer.comment.empty()) {
    png_text text{};
    text.compression = PNG_TEXT_COMPRESSION_NONE;
    text.key = const_cast<char*>("Comment");
    text.text = writer.comment.data();
    text.text_length = writer.comment.size();
    png_set_text(png, writer.info, &text, 1);
  }
  // Colour rows are filtered adaptively, each row by the one of no filter,
  // Sub and Up that suits it best: on photographs this writes files within
  // a few percent of trying all five filters in three quarters of the time.
  // Palette rows compress best unfiltered, as the library chooses by itself.
  png_set_filter(png, PNG_FILTER_TYPE_BASE, indexed ? PNG_FILTER_NONE : PNG_FAST_FILTERS);
  png_set_compression_level(png, kZlibLevel);
}

void EncodePicture(TPngWriter& writer, const TImage& image, const TSaveSize& area, const TLogPalette& palette,
                   const TDither* ditherer) {
  png_structp png = writer.png;
  png_set_write_fn(png, &writer, WriteData, FlushData);
  SetHeader(writer, image, area, palette);
  png_write_info(png, writer.info);
  if (image.BytesPerPixel() == 3) png_set_bgr(png);
  for (int32_t r = 0; r < area.height; ++r) {
    // The library only reads the rows it is given.
    const uint8_t* row = FetchOutputRow(image, area, r, writer.row.data(), ditherer);
    png_write_row(png, const_cast<png_bytep>(row));
    if (ReportRowProgress(r + 1, area.height) != 0) {
      writer.stopped = true;
      return;
    }
  }
  png_write_end(png, writer.info);
}

} // namespace

TReadOutcome ReadPng(TPkgStream* stream, TImage& image, const TProfile& options) {
  const auto owner = std::make_unique<TPngReader>(stream, image, options);
  TPngReader& reader = *owner;
  reader.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &reader.hooks, ErrorExit, Warning, nullptr, Allocate,
                                        Release);
  if (!reader.png) return TReadOutcome::Failed;
  reader.info = png_create_info_struct(reader.png);
  if (!reader.info) return TReadOutcome::Failed;
  RunUnwindable(reader.hooks.unwind, [&] { DecodePicture(reader); });
  if (reader.stopped) return TReadOutcome::Stopped;
  if (!reader.created) return TReadOutcome::Failed;
  return reader.finished ? TReadOutcome::Complete : TReadOutcome::Partial;
}

int WritePng(const char* path, TImage& image, const TProfile& options, TDither* ditherer) {
  const TSaveSize area = PrepareSaveOutput(image, options);
  if (area.width <= 0 || area.height <= 0) return kSaveFailed;
  const auto owner = std::make_unique<TPngWriter>(path);
  TPngWriter& writer = *owner;
  if (!writer.output.IsOpen()) return kSaveFailed;
  TLogPalette palette;
  if (image.BytesPerPixel() == 1) WriterPalette(image, ditherer, palette);
  writer.row.resize(static_cast<size_t>(area.width) * image.BytesPerPixel());
  writer.comment = CommentGetText();
  writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &writer.hooks, ErrorExit, Warning);
  if (writer.png) writer.info = png_create_info_struct(writer.png);
  const bool completed = writer.info && RunUnwindable(writer.hooks.unwind, [&] {
    EncodePicture(writer, image, area, palette, ditherer);
  });
  if (!completed && !writer.stopped) writer.output.Fail();
  return writer.output.Finish(writer.stopped);
}
