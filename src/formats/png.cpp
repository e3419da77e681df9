// The PNG adapter: glue between the picture record, the package streams and
// libpng, which reads; the writer lays out the file itself. The library's
// fatal errors unwind as unwind.h describes; its reader record owns
// everything that lives across a jump.
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
#include <new>
#include <string>
#include <vector>

#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

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
//
// The writer lays the file out itself; the library only reads. libpng
// streams rows through zlib, which spends three times as long on the
// filtered rows of a photograph as libdeflate spends on the same rows at the
// same level, for a file of the same size. So the filtered rows are kept in
// one buffer and compressed in one call; a picture whose filtered rows pass
// g_wholeDeflateBytes, or for which that memory cannot be had, is streamed
// through zlib a band of rows at a time instead.

size_t g_wholeDeflateBytes = kPngWholeDeflateBytes;
constexpr size_t kStreamBandBytes = size_t{1} << 20;
constexpr size_t kIdatChunkBytes = size_t{1} << 20;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
constexpr uint8_t kFilterNone = 0;
constexpr uint8_t kFilterSub = 1;
constexpr uint8_t kFilterUp = 2;

void PutBigEndian32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value >> 24);
  at[1] = static_cast<uint8_t>(value >> 16);
  at[2] = static_cast<uint8_t>(value >> 8);
  at[3] = static_cast<uint8_t>(value);
}

void PutChunk(TCodecOutput& output, const char* type, const uint8_t* data, size_t size) {
  uint8_t head[8];
  PutBigEndian32(head, static_cast<uint32_t>(size));
  std::memcpy(head + 4, type, 4);
  output.Write(head, sizeof head);
  output.Write(data, size);
  // zlib answers a null pointer with the starting value, not the sum so far.
  uLong sum = crc32(0, head + 4, 4);
  if (size > 0) sum = crc32_z(sum, data, size);
  uint8_t crc[4];
  PutBigEndian32(crc, static_cast<uint32_t>(sum));
  output.Write(crc, sizeof crc);
}

void PutIdatChunks(TCodecOutput& output, const uint8_t* data, size_t size) {
  for (size_t done = 0; done < size; done += kIdatChunkBytes)
    PutChunk(output, "IDAT", data + done, std::min(kIdatChunkBytes, size - done));
}

uint32_t PixelsPerMetre(int32_t dpi) { return static_cast<uint32_t>(dpi / kMetresPerInch + 0.5); }

// IHDR, the palette, the resolution and the comment text, as a reader meets
// them before the pixels.
void PutHeaderChunks(TCodecOutput& output, const TImage& image, const TSaveSize& area, const TLogPalette& palette,
                     const std::string& comment) {
  const bool indexed = image.BytesPerPixel() == 1;
  output.Write(kPngSignature, sizeof kPngSignature);
  // Eight bits per sample; deflate, the one filter set and no interlacing
  // are the zero bytes at the end.
  uint8_t header[13] = {};
  PutBigEndian32(header, static_cast<uint32_t>(area.width));
  PutBigEndian32(header + 4, static_cast<uint32_t>(area.height));
  header[8] = 8;
  header[9] = indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB;
  PutChunk(output, "IHDR", header, sizeof header);
  if (indexed) {
    // Every index a row may hold has an entry, so the file is valid whatever
    // indices the picture uses; the entries beyond its palette are black.
    uint8_t entries[256 * 3] = {};
    for (int i = 0; i < palette.count && i < 256; ++i) {
      entries[i * 3] = palette.entries[i].red;
      entries[i * 3 + 1] = palette.entries[i].green;
      entries[i * 3 + 2] = palette.entries[i].blue;
    }
    PutChunk(output, "PLTE", entries, sizeof entries);
  }
  uint8_t resolution[9];
  PutBigEndian32(resolution, PixelsPerMetre(image.EffectiveXDpi()));
  PutBigEndian32(resolution + 4, PixelsPerMetre(image.EffectiveYDpi()));
  resolution[8] = PNG_RESOLUTION_METER;
  PutChunk(output, "pHYs", resolution, sizeof resolution);
  if (!comment.empty()) {
    // A text chunk holds no NUL: the comment ends at its first one.
    const std::string text = std::string("Comment") + '\0' + comment.substr(0, comment.find('\0'));
    PutChunk(output, "tEXt", reinterpret_cast<const uint8_t*>(text.data()), text.size());
  }
}

// The weight libpng's filter heuristic gives a filtered byte: its distance
// from zero read as a signed difference. The filter whose row weighs least
// usually compresses best.
inline uint32_t FilterWeight(uint8_t value) { return value < 128 ? value : 256u - value; }

// Turns the picture's rows into the filtered rows of the file: palette rows
// unfiltered (they compress best so), colour rows reordered to red, green,
// blue and each filtered by the one of no filter, Sub and Up that weighs
// least. On photographs that writes files within a few percent of trying
// all five filters in three quarters of the time.
class TRowFilter {
public:
  TRowFilter(int32_t width, int32_t bytesPerPixel)
      : m_bytes(static_cast<size_t>(width) * bytesPerPixel), m_colour(bytesPerPixel == 3),
        m_current(m_colour ? m_bytes : 0), m_above(m_current.size()), m_sub(m_current.size()),
        m_up(m_current.size()) {}
  // The size of a filtered row: the filter byte and the samples.
  size_t FilteredBytes() const { return m_bytes + 1; }
  void Filter(const uint8_t* pixels, uint8_t* filtered);

private:
  size_t m_bytes;
  bool m_colour;
  std::vector<uint8_t> m_current, m_above, m_sub, m_up;
};

void TRowFilter::Filter(const uint8_t* pixels, uint8_t* filtered) {
  if (!m_colour) {
    filtered[0] = kFilterNone;
    std::memcpy(filtered + 1, pixels, m_bytes);
    return;
  }
  uint8_t* current = m_current.data();
  for (size_t i = 0; i < m_bytes; i += 3) {
    current[i] = pixels[i + 2];
    current[i + 1] = pixels[i + 1];
    current[i + 2] = pixels[i];
  }
  const uint8_t* above = m_above.data();
  uint8_t* sub = m_sub.data();
  uint8_t* up = m_up.data();
  uint32_t noneWeight = 0, subWeight = 0, upWeight = 0;
  for (size_t i = 0; i < m_bytes; ++i) {
    sub[i] = static_cast<uint8_t>(current[i] - (i >= 3 ? current[i - 3] : 0));
    up[i] = static_cast<uint8_t>(current[i] - above[i]);
    noneWeight += FilterWeight(current[i]);
    subWeight += FilterWeight(sub[i]);
    upWeight += FilterWeight(up[i]);
  }
  const uint8_t* chosen = current;
  filtered[0] = kFilterNone;
  if (subWeight < noneWeight) {
    chosen = sub;
    filtered[0] = kFilterSub;
  }
  if (upWeight < std::min(noneWeight, subWeight)) {
    chosen = up;
    filtered[0] = kFilterUp;
  }
  std::memcpy(filtered + 1, chosen, m_bytes);
  m_current.swap(m_above);
}

struct TDeflaterRelease {
  void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

// Gathers the filtered rows and compresses them into IDAT chunks: all rows
// in one buffer for libdeflate when they fit, else a band at a time through
// a zlib stream. Failures mark the output failed.
class TIdatWriter {
public:
  TIdatWriter(TCodecOutput& output, size_t rowBytes, int32_t rows);
  ~TIdatWriter() {
    if (m_streamed) deflateEnd(&m_zlib);
  }
  TIdatWriter(const TIdatWriter&) = delete;
  TIdatWriter& operator=(const TIdatWriter&) = delete;
  // Room for the next filtered row.
  uint8_t* NextRow();
  void Finish();

private:
  void CompressWhole();
  void DeflateBand(int flush);

  TCodecOutput& m_output;
  size_t m_rowBytes;
  size_t m_capacity;
  size_t m_fill = 0;
  std::unique_ptr<uint8_t[]> m_rows;
  bool m_streamed = false;
  z_stream m_zlib{};
  std::unique_ptr<uint8_t[]> m_compressed;
};

TIdatWriter::TIdatWriter(TCodecOutput& output, size_t rowBytes, int32_t rows)
    : m_output(output), m_rowBytes(rowBytes), m_capacity(rowBytes * static_cast<size_t>(rows)) {
  // Neither buffer is cleared: every byte is written before it is read.
  if (m_capacity <= g_wholeDeflateBytes) m_rows.reset(new (std::nothrow) uint8_t[m_capacity]);
  if (m_rows) return;
  m_streamed = true;
  m_capacity = std::max(kStreamBandBytes / rowBytes, size_t{1}) * rowBytes;
  m_rows.reset(new uint8_t[m_capacity]);
  m_compressed.reset(new uint8_t[kIdatChunkBytes]);
  if (deflateInit(&m_zlib, kZlibLevel) != Z_OK) throw std::bad_alloc();
}

uint8_t* TIdatWriter::NextRow() {
  if (m_fill + m_rowBytes > m_capacity) DeflateBand(Z_NO_FLUSH);
  uint8_t* row = m_rows.get() + m_fill;
  m_fill += m_rowBytes;
  return row;
}

void TIdatWriter::Finish() {
  if (m_streamed)
    DeflateBand(Z_FINISH);
  else
    CompressWhole();
}

void TIdatWriter::CompressWhole() {
  const std::unique_ptr<libdeflate_compressor, TDeflaterRelease> compressor(libdeflate_alloc_compressor(kZlibLevel));
  if (!compressor) return m_output.Fail();
  const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), m_fill);
  const std::unique_ptr<uint8_t[]> compressed(new uint8_t[bound]);
  const size_t size = libdeflate_zlib_compress(compressor.get(), m_rows.get(), m_fill, compressed.get(), bound);
  if (size == 0) return m_output.Fail();
  PutIdatChunks(m_output, compressed.get(), size);
}

void TIdatWriter::DeflateBand(int flush) {
  m_zlib.next_in = m_rows.get();
  m_zlib.avail_in = static_cast<uInt>(m_fill);
  for (;;) {
    m_zlib.next_out = m_compressed.get();
    m_zlib.avail_out = static_cast<uInt>(kIdatChunkBytes);
    const int result = deflate(&m_zlib, flush);
    PutIdatChunks(m_output, m_compressed.get(), kIdatChunkBytes - m_zlib.avail_out);
    if (result == Z_STREAM_END) break;
    if (result != Z_OK && result != Z_BUF_ERROR) {
      m_output.Fail();
      break;
    }
    if (flush != Z_FINISH && m_zlib.avail_in == 0 && m_zlib.avail_out != 0) break;
  }
  m_fill = 0;
}

// Filters and compresses the rows; false when the progress hook asked to stop.
bool PutPixels(TCodecOutput& output, const TImage& image, const TSaveSize& area, const TDither* ditherer) {
  TRowFilter filter(area.width, image.BytesPerPixel());
  TIdatWriter idat(output, filter.FilteredBytes(), area.height);
  std::vector<uint8_t> buffer(static_cast<size_t>(area.width) * image.BytesPerPixel());
  for (int32_t r = 0; r < area.height; ++r) {
    filter.Filter(FetchOutputRow(image, area, r, buffer.data(), ditherer), idat.NextRow());
    if (ReportRowProgress(r + 1, area.height) != 0) return false;
  }
  idat.Finish();
  return true;
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

void SetPngWholeDeflateLimit(size_t bytes) { g_wholeDeflateBytes = bytes; }

int WritePng(const char* path, TImage& image, const TProfile& options, TDither* ditherer) {
  const TSaveSize area = PrepareSaveOutput(image, options);
  if (area.width <= 0 || area.height <= 0) return kSaveFailed;
  TCodecOutput output(path);
  if (!output.IsOpen()) return kSaveFailed;
  TLogPalette palette;
  if (image.BytesPerPixel() == 1) WriterPalette(image, ditherer, palette);
  PutHeaderChunks(output, image, area, palette, CommentGetText());
  if (!PutPixels(output, image, area, ditherer)) return output.Finish(true);
  PutChunk(output, "IEND", nullptr, 0);
  return output.Finish(false);
}
