// The HEIF adapter: glue between the picture record, the package streams and
// libheif, which hands HEVC pictures to libde265 and AV1 pictures to dav1d or
// libaom. The file is held in memory for the library; the decoded picture
// comes back as interleaved red, green, blue (and alpha) rows.
#include "formats/heif.h"

#include <libheif/heif.h>

#include <memory>
#include <vector>

#include "settings/profile.h"
#include "core/image.h"
#include "core/log_sink.h"
#include "core/progress.h"
#include "formats/colour_rows.h"
#include "formats/comment_sink.h"
#include "formats/orientation.h"
#include "formats/run_length.h"
#include "formats/whole_stream.h"

namespace {

// Pictures that are not read from the formats of the file-type codes are
// stored as BMP-type pictures, as imported bitmaps are.
constexpr int32_t kImageTypeBmp = 1;
constexpr size_t kMaxFileBytes = size_t{512} << 20;
// The library refuses pictures of more than this side squared pixels, which
// keeps a few forged header bytes from claiming gigabytes.
constexpr int kMaxPictureSide = 16384;
// An EXIF block in a HEIF file starts with the offset of its TIFF header.
constexpr size_t kExifOffsetBytes = 4;

struct THeifDeleters {
  void operator()(heif_context* context) const { heif_context_free(context); }
  void operator()(heif_image_handle* handle) const { heif_image_handle_release(handle); }
  void operator()(heif_image* picture) const { heif_image_release(picture); }
  void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
template <class T>
using THeifPtr = std::unique_ptr<T, THeifDeleters>;

bool Succeeded(const heif_error& error) {
  if (error.code == heif_error_Ok) return true;
  LogMessage("HEIF Error: %s", error.message ? error.message : "decoding failed");
  return false;
}

// Progress of the library's decoding steps; a stop asked for is kept until
// the library returns.
struct TDecodeProgress {
  int limit = 0;
  bool stopAsked = false;
};

void StartProgress(heif_progress_step, int limit, void* data) { static_cast<TDecodeProgress*>(data)->limit = limit; }

void OnProgress(heif_progress_step, int progress, void* data) {
  auto& state = *static_cast<TDecodeProgress*>(data);
  if (ReportRowProgress(progress, state.limit) != 0) state.stopAsked = true;
}

void EndProgress(heif_progress_step, void*) {}

// The image description of the first EXIF block, if any.
void SendDescription(const heif_image_handle* handle) {
  heif_item_id id = 0;
  if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) != 1) return;
  std::vector<uint8_t> block(heif_image_handle_get_metadata_size(handle, id));
  if (block.size() <= kExifOffsetBytes || heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok)
    return;
  const uint32_t offset = static_cast<uint32_t>(block[0]) << 24 | block[1] << 16 | block[2] << 8 | block[3];
  if (offset > block.size() - kExifOffsetBytes) return;
  const size_t start = kExifOffsetBytes + offset;
  CommentText(ReadExifFacts(block.data() + start, block.size() - start).description.c_str());
}

// Decodes the primary picture; none when the library could not, or when the
// user stopped it (stopped is then set).
THeifPtr<heif_image> DecodePrimary(const heif_image_handle* handle, bool& stopped) {
  TDecodeProgress progress;
  THeifPtr<heif_decoding_options> options(heif_decoding_options_alloc());
  options->start_progress = StartProgress;
  options->on_progress = OnProgress;
  options->end_progress = EndProgress;
  options->progress_user_data = &progress;
  options->convert_hdr_to_8bit = 1;
  const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
  heif_image* decoded = nullptr;
  const heif_error error = heif_decode_image(handle, &decoded, heif_colorspace_RGB,
                                             alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                                             options.get());
  THeifPtr<heif_image> picture(decoded);
  stopped = progress.stopAsked || ProgressReport(-1) != 0;
  if (!Succeeded(error) || stopped) return nullptr;
  return picture;
}

// Stores the decoded picture's rows; Complete, or Stopped when the user
// asked to stop part-way.
TReadOutcome StoreRows(const heif_image* picture, bool alpha, TImage& image, const TProfile& options) {
  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(picture, heif_channel_interleaved, &stride);
  const int32_t width = heif_image_get_width(picture, heif_channel_interleaved);
  const int32_t height = heif_image_get_height(picture, heif_channel_interleaved);
  image.Create(kImageTypeBmp, width, height, 1, 1, 3, ReaderReduction(options, width, height), 0);
  const TBackground background = BackgroundOf(options);
  for (int32_t y = 0; y < height; ++y) {
    if (!PutConvertedRow(image, y, plane + static_cast<size_t>(y) * stride, width, alpha ? 4 : 3, TSampleOrder::Rgb,
                         background))
      return TReadOutcome::Partial;
    if (ReportRowProgress(y + 1, height) != 0) return TReadOutcome::Stopped;
  }
  return TReadOutcome::Complete;
}

} // namespace

TReadOutcome ReadHeif(TPkgStream* stream, TImage& image, const TProfile& options) {
  std::vector<uint8_t> file;
  if (!ReadWholeStream(stream, kMaxFileBytes, file)) LogMessage("HEIF Error: %s", "the file is too large");
  if (ProgressReport(0) != 0) return TReadOutcome::Stopped;
  THeifPtr<heif_context> context(heif_context_alloc());
  if (!context) return TReadOutcome::Failed;
  heif_context_set_maximum_image_size_limit(context.get(), kMaxPictureSide);
  if (!Succeeded(heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(), nullptr)))
    return TReadOutcome::Failed;
  heif_image_handle* primary = nullptr;
  if (!Succeeded(heif_context_get_primary_image_handle(context.get(), &primary))) return TReadOutcome::Failed;
  const THeifPtr<heif_image_handle> handle(primary);
  SendDescription(handle.get());
  bool stopped = false;
  const THeifPtr<heif_image> picture = DecodePrimary(handle.get(), stopped);
  if (stopped) return TReadOutcome::Stopped;
  if (!picture) return TReadOutcome::Failed;
  const int bits = heif_image_get_bits_per_pixel_range(picture.get(), heif_channel_interleaved);
  if (bits != 8) {
    LogMessage("HEIF Error: samples of %d bits are not read", bits);
    return TReadOutcome::Failed;
  }
  return StoreRows(picture.get(), heif_image_handle_has_alpha_channel(handle.get()) != 0, image, options);
}
