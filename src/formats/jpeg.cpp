// The JPEG adapter: glue between the picture record, the package streams and
// libjpeg-turbo (6.2 interface). Rows pass to and from the library in blue,
// green, red order (its JCS_EXT_BGR colour space), the order of the
// picture's 24-bit pixels, so they are decoded straight into the stored rows.
//
// The library's fatal errors unwind as unwind.h describes: the library
// object, the source and the buffers live in one record owned by the entry.
#include "formats/jpeg.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "settings/profile.h"
#include "core/dither.h"
#include "core/image.h"
#include "core/log_sink.h"
#include "core/pixel_memory.h"
#include "core/progress.h"
#include "formats/comment_sink.h"
#include "formats/jpeg_source.h"
#include "formats/orientation.h"
#include "formats/run_length.h"
#include "formats/save_output.h"
#include "formats/unwind.h"

namespace {

constexpr int32_t kImageTypeJpeg = 4;
// The library reads at 1/2, 1/4 and 1/8 of the size.
constexpr int kLargestScaleDenominator = 8;
// JPEGKBytesMemory asks the library to keep at most that much of its
// whole-picture buffers in memory and to move the rest to temporary files.
// This build of the library has no temporary files: past the limit a
// progressive or two-pass-quantised read simply fails ("Backing store not
// supported"), which at the default of 4 MB would refuse most photographs.
// The setting is therefore taken as a floor under this one, and a picture
// whose buffers need more gets them when the memory rule (PixelMemoryFits)
// allows; so a few hostile header bytes cannot claim gigabytes that are not
// there.
constexpr long kWorkingMemoryFloor = 512L << 20;
// The whole-picture buffers need at most this many bytes a sample: two for
// a progressive file's coefficients, one for the rows of two-pass
// quantisation.
constexpr int64_t kWorkingBytesPerSample = 3;
// Compressed output is handed to the file in blocks of this size.
constexpr size_t kOutputBlock = 16384;
// A marker segment holds at most this many data bytes.
constexpr size_t kMaxMarkerData = 65533;
constexpr uint16_t kMaxDensity = 65535;

// The Kodak DC120 stores every other row of its 848 x 976 sensor picture.
constexpr int32_t kHalfHeightRows = 488;
constexpr int32_t kHalfHeightWidth = 848;

// Error, message and progress hooks of one library object. The library
// holds pointers to the first two members; the record is found again from
// the error manager pointer.
struct TJpegHooks {
  jpeg_error_mgr errors;
  jpeg_progress_mgr progress;
  std::jmp_buf unwind;
  int lastPercent;
  bool stopped; // the jump back was a stop asked for through the progress hook
};

TJpegHooks& HooksOf(j_common_ptr info) { return *reinterpret_cast<TJpegHooks*>(info->err); }

void OutputMessage(j_common_ptr info) {
  char text[JMSG_LENGTH_MAX];
  (*info->err->format_message)(info, text);
  LogMessage("JPEG Message: %s", text);
}

[[noreturn]] void ErrorExit(j_common_ptr info) {
  (*info->err->output_message)(info);
  std::longjmp(HooksOf(info).unwind, 1);
}

// Percent of the whole operation: with two passes the first covers 0 to 49
// and the second 50 to 99; more passes (a progressive file read with
// two-pass quantisation) share the range equally, so the figure never goes
// back. A request to stop leaves like a fatal error.
void ProgressMonitor(j_common_ptr info) {
  const jpeg_progress_mgr& progress = *info->progress;
  TJpegHooks& hooks = HooksOf(info);
  if (progress.pass_limit <= 0) return;
  int percent = static_cast<int>(std::min(progress.pass_counter * 100 / progress.pass_limit, 100L));
  if (progress.total_passes > 1) {
    const int completed = std::min(progress.completed_passes, progress.total_passes - 1);
    percent = (completed * 100 + percent) / progress.total_passes;
  }
  if (percent == hooks.lastPercent) return;
  hooks.lastPercent = percent;
  if (ProgressReport(percent) != 0) {
    hooks.stopped = true;
    std::longjmp(hooks.unwind, 1);
  }
}

// Sets up the hooks; the error manager goes in before the library object is
// created, the progress monitor after (creation clears it).
jpeg_error_mgr* PrepareHooks(TJpegHooks& hooks, const TProfile& options) {
  jpeg_error_mgr* errors = jpeg_std_error(&hooks.errors);
  errors->error_exit = ErrorExit;
  errors->output_message = OutputMessage;
  errors->trace_level = options.Get(IntKey::JPEGTraceLevel);
  hooks.progress.progress_monitor = ProgressMonitor;
  hooks.lastPercent = -1;
  hooks.stopped = false;
  return errors;
}

// ---------------------------------------------------------------- reading

struct TJpegReader {
  explicit TJpegReader(TPkgStream* stream) : source(stream) {}
  jpeg_decompress_struct info{};
  TJpegHooks hooks{};
  TJpegSource source;
  int scaleDenominator = 1;
  int32_t orientation = 0; // from the EXIF block, 0 when the file holds none
  bool quantise = false;
  bool created = false;  // the picture has been made
  bool rowsDone = false; // every row was decoded and the data closed
};

// COM markers, and APP12 markers when asked for, are the file's comment: the
// text is replaced by the segment's bytes, leaving out zero bytes.
boolean ReadComment(j_decompress_ptr info) {
  const int high = TJpegSource::NextByte(info);
  const int low = TJpegSource::NextByte(info);
  if (high < 0 || low < 0) return TRUE;
  CommentChar(0);
  for (int length = (high << 8 | low) - 2; length > 0; --length) {
    const int byte = TJpegSource::NextByte(info);
    if (byte < 0) break;
    if (byte != 0) CommentChar(byte);
  }
  return TRUE;
}

// The orientation of the first APP1 segment that holds an EXIF block.
int32_t ExifOrientation(const jpeg_decompress_struct& info) {
  for (jpeg_saved_marker_ptr marker = info.marker_list; marker; marker = marker->next) {
    if (marker->marker == JPEG_APP0 + 1 && marker->data_length >= 6 && std::memcmp(marker->data, "Exif\0\0", 6) == 0)
      return ReadExifFacts(marker->data, marker->data_length).orientation;
  }
  return 0;
}

// The most memory the library may take for its whole-picture buffers.
long WorkingMemoryLimit(const jpeg_decompress_struct& info, const TProfile& options) {
  const long floor = std::max(static_cast<long>(options.Get(IntKey::JPEGKBytesMemory)) * 1024, kWorkingMemoryFloor);
  // Sample rows and columns are kept in whole blocks of up to 16 pixels.
  const int64_t samples = (int64_t{info.image_width} + 15) * (int64_t{info.image_height} + 15) * info.num_components;
  const int64_t needed = samples * kWorkingBytesPerSample;
  return needed > floor && PixelMemoryFits(needed) ? static_cast<long>(needed) : floor;
}

// QuickLook: the reduction the other readers would use, rounded down to one
// the library reads at (1/2, 1/4 or 1/8); 1 without QuickLook.
int QuickLookDenominator(const jpeg_decompress_struct& info, const TProfile& options) {
  const int32_t wanted = ReaderReduction(options, static_cast<int32_t>(info.image_width),
                                         static_cast<int32_t>(info.image_height));
  int denominator = 1;
  while (denominator < kLargestScaleDenominator && denominator * 2 <= wanted) denominator *= 2;
  return denominator;
}

// The settings in their order of precedence: two-pass quantisation, the fast
// quantiser, dithering, grey output. Grey output makes an 8-bit picture with
// the grey ramp as palette, one pass and no dithering. The library's one-pass
// quantiser would do that with a 256-level grey map, but its rounding maps
// level v to v - 1 and never produces white, so grey samples are taken as
// they are: they already are indices into the grey ramp. Compressed DC120
// data is always read as colour.
void ConfigureOutput(TJpegReader& reader, const TProfile& options) {
  jpeg_decompress_struct& info = reader.info;
  info.dct_method = options.Get(IntKey::EnableFastInputDCT) ? JDCT_IFAST : JDCT_ISLOW;
  info.do_fancy_upsampling = options.Get(IntKey::EnableFastUpsampling) ? FALSE : TRUE;
  bool quantise = options.Get(IntKey::JPEGTwoPass) != 0;
  bool twoPass = quantise && !options.Get(IntKey::EnableFastQuantize);
  J_DITHER_MODE dither = options.Get(IntKey::EnableFastDither) ? JDITHER_ORDERED : JDITHER_FS;
  if (!options.Get(IntKey::JPEGUseDithering)) dither = JDITHER_NONE;
  const bool grey = !reader.source.HalfHeight() &&
                    (options.Get(IntKey::JPEGUseMonochrome) || info.num_components == 1);
  if (grey || reader.source.HalfHeight()) quantise = false;
  // Quantised colour output uses the plain RGB order: the pixels are then
  // palette indices and the colour map becomes the palette.
  info.out_color_space = grey ? JCS_GRAYSCALE : quantise ? JCS_RGB : JCS_EXT_BGR;
  info.quantize_colors = quantise ? TRUE : FALSE;
  info.two_pass_quantize = twoPass ? TRUE : FALSE;
  info.dither_mode = dither;
  info.desired_number_of_colors = 256;
  reader.quantise = quantise;
}

// Dots per inch from the JFIF density, reduced with the picture.
void PictureResolution(const TJpegReader& reader, int32_t& xDpi, int32_t& yDpi) {
  const jpeg_decompress_struct& info = reader.info;
  xDpi = yDpi = 1;
  if (info.density_unit != 1 && info.density_unit != 2) return;
  xDpi = std::max<int32_t>(info.X_density, 1) / reader.scaleDenominator;
  yDpi = std::max<int32_t>(info.Y_density, 1) / reader.scaleDenominator;
  if (info.density_unit == 2) {
    xDpi = (xDpi * 254 + 50) / 100;
    yDpi = (yDpi * 254 + 50) / 100;
  }
}

void CreatePicture(TJpegReader& reader, TImage& image) {
  const jpeg_decompress_struct& info = reader.info;
  int32_t width = static_cast<int32_t>(info.output_width);
  int32_t height = static_cast<int32_t>(info.output_height);
  if (reader.source.HalfHeight()) {
    if (height == kHalfHeightRows) width = kHalfHeightWidth;
    height *= 2;
  }
  int32_t xDpi = 1, yDpi = 1;
  PictureResolution(reader, xDpi, yDpi);
  image.Create(kImageTypeJpeg, width, height, xDpi, yDpi, info.output_components == 1 ? 1 : 3, 1, 0);
  image.GreyPalette();
  reader.created = true;
  if (!reader.quantise) return;
  TLogPalette palette;
  palette.count = static_cast<uint16_t>(std::clamp(info.actual_number_of_colors, 0, 256));
  for (int i = 0; i < palette.count; ++i) {
    palette.entries[i].red = info.colormap[0][i];
    palette.entries[i].green = info.colormap[1][i];
    palette.entries[i].blue = info.colormap[2][i];
  }
  image.SetPalette(palette);
}

// True when the entropy decoder has met a marker that ends the scan's data
// for good (any marker but a restart marker; after a byte that is no marker
// at all the library searches on) before the scan's last rows: the library
// would only invent the rest from nothing. A file read whole before output
// (several scans, or the first pass of two-pass quantisation) has all its
// rows decoded by then.
bool ScanDataEnded(const jpeg_decompress_struct& info) {
  const int marker = info.unread_marker;
  return info.input_iMCU_row < info.total_iMCU_rows && marker >= 0xC0 && !(marker >= 0xD0 && marker <= 0xD7);
}

// Decodes every output row into its picture row. Returns false when the
// rows stopped early: once the data has ended, the rows already under way
// are delivered and the rest keep the fill value, so that a few header bytes
// declaring a huge picture cost no more than the data that is really there.
bool TransferRows(TJpegReader& reader, TImage& image) {
  jpeg_decompress_struct& info = reader.info;
  const int32_t width = static_cast<int32_t>(info.output_width);
  const bool bottomUp = reader.source.BottomUp();
  const bool halfHeight = reader.source.HalfHeight();
  const int32_t fileHeight = static_cast<int32_t>(info.output_height) * (halfHeight ? 2 : 1);
  const int32_t rowsInFlight = 2 * info.max_v_samp_factor * info.min_DCT_scaled_size;
  int32_t rowsAfterEnd = 0;
  while (info.output_scanline < info.output_height) {
    const int32_t t = static_cast<int32_t>(info.output_scanline);
    const int32_t y = bottomUp ? fileHeight - 1 - t : halfHeight ? 2 * t : t;
    uint8_t* buffer = image.RowBuffer(0, y, width);
    if (!buffer) return false;
    JSAMPROW row = buffer;
    if (jpeg_read_scanlines(&info, &row, 1) != 1) return false;
    image.PutRow(0, y, buffer, width);
    if (halfHeight) image.PutRow(0, y + 1, buffer, width);
    if (ScanDataEnded(info) && ++rowsAfterEnd > rowsInFlight) return false;
  }
  return true;
}

void DecodePicture(TJpegReader& reader, TImage& image, const TProfile& options) {
  jpeg_decompress_struct& info = reader.info;
  info.progress = &reader.hooks.progress;
  jpeg_set_marker_processor(&info, JPEG_COM, ReadComment);
  if (options.Get(IntKey::EnableAPP12Comment)) jpeg_set_marker_processor(&info, JPEG_APP0 + 12, ReadComment);
  // APP1 segments are kept for the EXIF orientation.
  jpeg_save_markers(&info, JPEG_APP0 + 1, 0xFFFF);
  reader.source.Attach(&info);
  jpeg_read_header(&info, TRUE);
  reader.orientation = ExifOrientation(info);
  info.mem->max_memory_to_use = WorkingMemoryLimit(info, options);
  reader.scaleDenominator = QuickLookDenominator(info, options);
  info.scale_num = 1;
  info.scale_denom = static_cast<unsigned>(reader.scaleDenominator);
  ConfigureOutput(reader, options);
  jpeg_start_decompress(&info);
  CreatePicture(reader, image);
  if (TransferRows(reader, image)) reader.rowsDone = jpeg_finish_decompress(&info) == TRUE;
}

// A file whose data ended before the library was done counts as read in
// part, even when the library filled the last rows by itself.
TReadOutcome ReadOutcome(const TJpegReader& reader) {
  if (reader.hooks.stopped) return TReadOutcome::Stopped;
  if (!reader.created) return TReadOutcome::Failed;
  return reader.rowsDone && !reader.source.DataEnded() ? TReadOutcome::Complete : TReadOutcome::Partial;
}

// ---------------------------------------------------------------- writing

// The library's destination: compressed bytes go into the output buffer of
// the file, which remembers any failed write.
struct TDestination {
  jpeg_destination_mgr pub;
  TCodecOutput* output;
};

TCodecOutput& OutputOf(j_compress_ptr info) { return *reinterpret_cast<TDestination*>(info->dest)->output; }

void InitDestination(j_compress_ptr info) {
  info->dest->next_output_byte = OutputOf(info).Reserve(kOutputBlock);
  info->dest->free_in_buffer = kOutputBlock;
}

boolean EmptyOutputBuffer(j_compress_ptr info) {
  OutputOf(info).Commit(kOutputBlock);
  InitDestination(info);
  return TRUE;
}

void TermDestination(j_compress_ptr info) { OutputOf(info).Commit(kOutputBlock - info->dest->free_in_buffer); }

struct TJpegWriter {
  explicit TJpegWriter(const char* path) : output(path) {}
  jpeg_compress_struct info{};
  TJpegHooks hooks{};
  TCodecOutput output;
  TDestination destination{};
  // Turns output rows into blue, green, red rows with the tone applied:
  // the caller's ditherer, or one of our own prepared for the picture.
  const TDither* converter = nullptr;
  std::unique_ptr<TDither> ownDitherer;
  std::vector<uint8_t> row;
  std::string comment;
};

void SetParameters(TJpegWriter& writer, const TImage& image, const TSaveSize& area, const TProfile& options) {
  jpeg_compress_struct& info = writer.info;
  info.image_width = static_cast<JDIMENSION>(area.width);
  info.image_height = static_cast<JDIMENSION>(area.height);
  info.input_components = 3;
  info.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, options.Get(IntKey::JPEGOutputQuality), FALSE);
  info.optimize_coding = options.Get(IntKey::JPEGOutputOptimize) ? TRUE : FALSE;
  info.smoothing_factor = options.Get(IntKey::JPEGOutputSmoothing);
  if (options.Get(IntKey::JPEGOutputMonochrome)) jpeg_set_colorspace(&info, JCS_GRAYSCALE);
  if (options.Get(IntKey::JPEGOutputProgressive)) jpeg_simple_progression(&info);
  info.dct_method = options.Get(IntKey::EnableFastOutputDCT) ? JDCT_IFAST : JDCT_ISLOW;
  info.density_unit = 1;
  info.X_density = static_cast<UINT16>(std::clamp<int32_t>(image.EffectiveXDpi(), 1, kMaxDensity));
  info.Y_density = static_cast<UINT16>(std::clamp<int32_t>(image.EffectiveYDpi(), 1, kMaxDensity));
}

void EncodePicture(TJpegWriter& writer, const TImage& image, const TSaveSize& area, const TProfile& options) {
  jpeg_compress_struct& info = writer.info;
  info.progress = &writer.hooks.progress;
  writer.destination.pub.init_destination = InitDestination;
  writer.destination.pub.empty_output_buffer = EmptyOutputBuffer;
  writer.destination.pub.term_destination = TermDestination;
  writer.destination.output = &writer.output;
  info.dest = &writer.destination.pub;
  SetParameters(writer, image, area, options);
  jpeg_start_compress(&info, TRUE);
  // One segment cannot hold a longer comment; its start is kept.
  if (!writer.comment.empty()) {
    jpeg_write_marker(&info, JPEG_COM, reinterpret_cast<const JOCTET*>(writer.comment.data()),
                      static_cast<unsigned>(std::min(writer.comment.size(), kMaxMarkerData)));
  }
  uint8_t* buffer = writer.row.data();
  const bool direct = image.BytesPerPixel() == 3;
  for (int32_t r = 0; r < area.height; ++r) {
    // 24-bit rows that need no change are compressed straight from the
    // picture; the library only reads its input rows. Indices are widened to
    // colours in the buffer.
    JSAMPROW row = buffer;
    if (direct) {
      row = const_cast<JSAMPROW>(FetchOutputRow(image, area, r, buffer, writer.converter));
    } else {
      image.OutputRow(area.left, area.top + r, buffer, area.width);
      writer.converter->ConvertRow(buffer, area.width, 3, 1);
    }
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
}

} // namespace

// The path serves readers that select pages by name; JPEG files have one
// picture. Files with samples of more than 8 bits are refused by the library
// ("Unsupported JPEG data precision 12" in the log) before any picture is
// made.
TReadOutcome ReadJpeg(TPkgStream* stream, const char* /*path*/, TImage& image, const TProfile& options) {
  const auto owner = std::make_unique<TJpegReader>(stream);
  TJpegReader& reader = *owner;
  reader.info.err = PrepareHooks(reader.hooks, options);
  RunUnwindable(reader.hooks.unwind, [&] {
    jpeg_create_decompress(&reader.info);
    DecodePicture(reader, image, options);
  });
  jpeg_destroy_decompress(&reader.info);
  const TReadOutcome outcome = ReadOutcome(reader);
  // The picture is turned as the camera was held, also when only part of it
  // could be read.
  if (PictureWasRead(outcome)) ApplyOrientation(image, reader.orientation);
  return outcome;
}

int WriteJpeg(const char* path, TImage& image, const TProfile& options, TDither* ditherer) {
  const TSaveSize area = PrepareSaveOutput(image, options);
  if (area.width <= 0 || area.height <= 0) return kSaveFailed;
  const auto owner = std::make_unique<TJpegWriter>(path);
  TJpegWriter& writer = *owner;
  if (!writer.output.IsOpen()) return kSaveFailed;
  // Without the caller's ditherer, rows are converted with the picture's own
  // palette and neutral tone.
  writer.converter = ditherer;
  if (!ditherer) {
    writer.ownDitherer = std::make_unique<TDither>();
    TLogPalette palette;
    if (image.BytesPerPixel() == 1) image.GetPalette(palette);
    writer.ownDitherer->SetSourcePalette(image.BytesPerPixel() == 1 ? &palette : nullptr,
                                         TDitherTarget::Display, TColourMode::Colour, TToneSettings{});
    writer.converter = writer.ownDitherer.get();
  }
  writer.row.resize(static_cast<size_t>(area.width) * 3);
  writer.comment = CommentGetText();
  writer.info.err = PrepareHooks(writer.hooks, options);
  const bool completed = RunUnwindable(writer.hooks.unwind, [&] {
    jpeg_create_compress(&writer.info);
    EncodePicture(writer, image, area, options);
  });
  jpeg_destroy_compress(&writer.info);
  if (!completed && !writer.hooks.stopped) writer.output.Fail();
  return writer.output.Finish(writer.hooks.stopped);
}
