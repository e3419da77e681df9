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
#include "platform/shared_library.h"

namespace {

// libheif and the HEVC and AV1 decoders it brings are loaded the first time a
// HEIF file is read.
struct THeifCalls {
  decltype(&heif_context_alloc) contextAlloc;
  decltype(&heif_context_free) contextFree;
  decltype(&heif_context_get_primary_image_handle) contextGetPrimaryImageHandle;
  decltype(&heif_context_read_from_memory_without_copy) contextReadFromMemoryWithoutCopy;
  decltype(&heif_context_set_maximum_image_size_limit) contextSetMaximumImageSizeLimit;
  decltype(&heif_decode_image) decodeImage;
  decltype(&heif_decoding_options_alloc) decodingOptionsAlloc;
  decltype(&heif_decoding_options_free) decodingOptionsFree;
  decltype(&heif_image_get_bits_per_pixel_range) imageGetBitsPerPixelRange;
  decltype(&heif_image_get_height) imageGetHeight;
  decltype(&heif_image_get_plane_readonly) imageGetPlaneReadonly;
  decltype(&heif_image_get_width) imageGetWidth;
  decltype(&heif_image_handle_get_list_of_metadata_block_IDs) imageHandleGetListOfMetadataBlockIDs;
  decltype(&heif_image_handle_get_metadata) imageHandleGetMetadata;
  decltype(&heif_image_handle_get_metadata_size) imageHandleGetMetadataSize;
  decltype(&heif_image_handle_has_alpha_channel) imageHandleHasAlphaChannel;
  decltype(&heif_image_handle_release) imageHandleRelease;
  decltype(&heif_image_release) imageRelease;
};

// The calls of the library, set once LoadHeif answered true.
THeifCalls g_heif;

// True once libheif is loaded; the failure is logged once.
bool LoadHeif() {
  static const bool loaded = [] {
    static TSharedLibrary library("libheif.so.1");
    library.Bind(g_heif.contextAlloc, "heif_context_alloc");
    library.Bind(g_heif.contextFree, "heif_context_free");
    library.Bind(g_heif.contextGetPrimaryImageHandle, "heif_context_get_primary_image_handle");
    library.Bind(g_heif.contextReadFromMemoryWithoutCopy, "heif_context_read_from_memory_without_copy");
    library.Bind(g_heif.contextSetMaximumImageSizeLimit, "heif_context_set_maximum_image_size_limit");
    library.Bind(g_heif.decodeImage, "heif_decode_image");
    library.Bind(g_heif.decodingOptionsAlloc, "heif_decoding_options_alloc");
    library.Bind(g_heif.decodingOptionsFree, "heif_decoding_options_free");
    library.Bind(g_heif.imageGetBitsPerPixelRange, "heif_image_get_bits_per_pixel_range");
    library.Bind(g_heif.imageGetHeight, "heif_image_get_height");
    library.Bind(g_heif.imageGetPlaneReadonly, "heif_image_get_plane_readonly");
    library.Bind(g_heif.imageGetWidth, "heif_image_get_width");
    library.Bind(g_heif.imageHandleGetListOfMetadataBlockIDs, "heif_image_handle_get_list_of_metadata_block_IDs");
    library.Bind(g_heif.imageHandleGetMetadata, "heif_image_handle_get_metadata");
    library.Bind(g_heif.imageHandleGetMetadataSize, "heif_image_handle_get_metadata_size");
    library.Bind(g_heif.imageHandleHasAlphaChannel, "heif_image_handle_has_alpha_channel");
    library.Bind(g_heif.imageHandleRelease, "heif_image_handle_release");
    library.Bind(g_heif.imageRelease, "heif_image_release");
    if (!library.Ok()) LogMessage("Cannot read HEIF pictures: %s", library.Error().c_str());
    return library.Ok();
  }();
  return loaded;
}

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
  void operator()(heif_context* context) const { g_heif.contextFree(context); }
  void operator()(heif_image_handle* handle) const { g_heif.imageHandleRelease(handle); }
  void operator()(heif_image* picture) const { g_heif.imageRelease(picture); }
  void operator()(heif_decoding_options* options) const { g_heif.decodingOptionsFree(options); }
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
  if (g_heif.imageHandleGetListOfMetadataBlockIDs(handle, "Exif", &id, 1) != 1) return;
  std::vector<uint8_t> block(g_heif.imageHandleGetMetadataSize(handle, id));
  if (block.size() <= kExifOffsetBytes || g_heif.imageHandleGetMetadata(handle, id, block.data()).code != heif_error_Ok)
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
  THeifPtr<heif_decoding_options> options(g_heif.decodingOptionsAlloc());
  options->start_progress = StartProgress;
  options->on_progress = OnProgress;
  options->end_progress = EndProgress;
  options->progress_user_data = &progress;
  options->convert_hdr_to_8bit = 1;
  const bool alpha = g_heif.imageHandleHasAlphaChannel(handle) != 0;
  heif_image* decoded = nullptr;
  const heif_error error = g_heif.decodeImage(handle, &decoded, heif_colorspace_RGB,
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
  const uint8_t* plane = g_heif.imageGetPlaneReadonly(picture, heif_channel_interleaved, &stride);
  const int32_t width = g_heif.imageGetWidth(picture, heif_channel_interleaved);
  const int32_t height = g_heif.imageGetHeight(picture, heif_channel_interleaved);
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
  if (!LoadHeif()) return TReadOutcome::Failed;
  THeifPtr<heif_context> context(g_heif.contextAlloc());
  if (!context) return TReadOutcome::Failed;
  g_heif.contextSetMaximumImageSizeLimit(context.get(), kMaxPictureSide);
  if (!Succeeded(g_heif.contextReadFromMemoryWithoutCopy(context.get(), file.data(), file.size(), nullptr)))
    return TReadOutcome::Failed;
  heif_image_handle* primary = nullptr;
  if (!Succeeded(g_heif.contextGetPrimaryImageHandle(context.get(), &primary))) return TReadOutcome::Failed;
  const THeifPtr<heif_image_handle> handle(primary);
  SendDescription(handle.get());
  bool stopped = false;
  const THeifPtr<heif_image> picture = DecodePrimary(handle.get(), stopped);
  if (stopped) return TReadOutcome::Stopped;
  if (!picture) return TReadOutcome::Failed;
  const int bits = g_heif.imageGetBitsPerPixelRange(picture.get(), heif_channel_interleaved);
  if (bits != 8) {
    LogMessage("HEIF Error: samples of %d bits are not read", bits);
    return TReadOutcome::Failed;
  }
  return StoreRows(picture.get(), g_heif.imageHandleHasAlphaChannel(handle.get()) != 0, image, options);
}
