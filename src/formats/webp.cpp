// The WebP adapter: glue between the picture record, the package streams and
// libwebp. The file is held in memory (its chunks are found by the library's
// demuxer); a still picture is then fed to the incremental decoder a block at
// a time, so that its rows reach the picture, and the progress hook, as they
// are decoded and a stop is seen between blocks. Pictures without alpha at
// full size are decoded straight into the picture's rows; the others through
// the library's buffer, alpha laid over the background on the way.
#include "formats/webp.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "settings/profile.h"
#include "core/image.h"
#include "core/log_sink.h"
#include "core/pixel_memory.h"
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
// A RIFF file holds at most 4 GiB; a WebP picture of the largest size the
// format allows rarely needs a tenth of this.
constexpr size_t kMaxFileBytes = size_t{512} << 20;
// The incremental decoder is given this much more of the file each time.
constexpr size_t kFeedBlock = 64 * 1024;
// The animation decoder composes frames on a canvas of four bytes a pixel
// that it clears as a whole, and keeps a second one of the previous frame.
// A canvas (the format allows 16384 squared) whose two copies would not fit
// in the memory left (PixelMemoryFits) is refused rather than let a few
// header bytes claim gigabytes.
constexpr int64_t kCanvasBytesPerPixel = 8;

const char* StatusText(VP8StatusCode status) {
  switch (status) {
  case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
  case VP8_STATUS_INVALID_PARAM: return "invalid parameter";
  case VP8_STATUS_BITSTREAM_ERROR: return "bad data";
  case VP8_STATUS_UNSUPPORTED_FEATURE: return "unsupported feature";
  case VP8_STATUS_NOT_ENOUGH_DATA: return "the file ends early";
  default: return "decoding failed";
  }
}

struct TWebpReader {
  TWebpReader(TImage& i, const TProfile& o) : image(i), options(o), background(BackgroundOf(o)) {}
  TImage& image;
  const TProfile& options;
  TBackground background;
  std::vector<uint8_t> file;
  bool created = false;
  bool stopped = false;
  bool complete = false;
};

// Stores decoded rows first .. last - 1 of the picture's stored size as its
// rows; with direct set the library has decoded them in place already.
// False when the user asked to stop.
bool StoreRows(TWebpReader& reader, const uint8_t* pixels, int32_t stride, int channels, bool direct, int32_t first,
               int32_t last) {
  TImage& image = reader.image;
  const int32_t width = image.Width();
  for (int32_t y = first; y < last; ++y) {
    if (direct)
      image.PutRow(0, y, image.RowBuffer(0, y, width), width);
    else
      ToBgrRow(pixels + static_cast<size_t>(y) * stride, width, channels, TSampleOrder::Bgr, reader.background,
               image.Row(y));
    if (ReportRowProgress(y + 1, image.Height()) != 0) {
      reader.stopped = true;
      return false;
    }
  }
  return true;
}

// Lets the library decode straight into the picture's rows when they take
// its pixels as they are: blue, green, red without alpha, at full size. The
// rows lie bottom-up in one block, so the top row and a negative stride walk
// them in the library's order. False when the picture is not laid out so.
bool DecodeIntoPicture(const TImage& image, const WebPBitstreamFeatures& features, WebPDecBuffer& output) {
  if (features.has_alpha || image.m_reduction != 1 || image.Width() != features.width ||
      image.Height() != features.height)
    return false;
  const int32_t stride = image.m_bitmap->Stride();
  if (image.m_rowTable[image.Height() - 1] != image.m_bitmap->bits.data()) return false;
  output.is_external_memory = 1;
  output.u.RGBA.rgba = image.m_rowTable[0];
  output.u.RGBA.stride = -stride;
  output.u.RGBA.size = static_cast<size_t>(stride) * image.Height();
  return true;
}

// Makes the picture of the file's size; the reduction it gets decides the
// size the library decodes at.
void CreatePicture(TWebpReader& reader, int32_t width, int32_t height) {
  reader.image.Create(kImageTypeBmp, width, height, 1, 1, 3, ReaderReduction(reader.options, width, height), 0);
  reader.created = true;
}

void ReadStill(TWebpReader& reader, const WebPBitstreamFeatures& features) {
  CreatePicture(reader, features.width, features.height);
  TImage& image = reader.image;
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) return;
  const int channels = features.has_alpha ? 4 : 3;
  config.output.colorspace = features.has_alpha ? MODE_BGRA : MODE_BGR;
  const bool direct = DecodeIntoPicture(image, features, config.output);
  if (image.Width() != features.width || image.Height() != features.height) {
    config.options.use_scaling = 1;
    config.options.scaled_width = image.Width();
    config.options.scaled_height = image.Height();
  }
  WebPIDecoder* decoder = WebPIDecode(nullptr, 0, &config);
  if (!decoder) return;
  int32_t rowsStored = 0;
  VP8StatusCode status = VP8_STATUS_SUSPENDED;
  for (size_t fed = 0; status == VP8_STATUS_SUSPENDED && fed < reader.file.size();) {
    fed = std::min(reader.file.size(), fed + kFeedBlock);
    status = WebPIUpdate(decoder, reader.file.data(), fed);
    int lastRow = 0, width = 0, height = 0, stride = 0;
    const uint8_t* pixels = WebPIDecGetRGB(decoder, &lastRow, &width, &height, &stride);
    if (pixels && width == image.Width() && lastRow > rowsStored &&
        !StoreRows(reader, pixels, stride, channels, direct, rowsStored, std::min(lastRow, height)))
      break;
    rowsStored = std::max(rowsStored, lastRow);
  }
  if (status != VP8_STATUS_OK && status != VP8_STATUS_SUSPENDED) LogMessage("WebP Error: %s", StatusText(status));
  if (status == VP8_STATUS_SUSPENDED && !reader.stopped) LogMessage("WebP Error: %s", StatusText(VP8_STATUS_NOT_ENOUGH_DATA));
  reader.complete = status == VP8_STATUS_OK && rowsStored >= image.Height();
  WebPIDelete(decoder);
  // The decoder leaves the output buffer it allocated to the caller.
  WebPFreeDecBuffer(&config.output);
}

// The first frame of an animation as the animation decoder composes it on
// the canvas; reduced pictures take every reduction-th pixel of it.
void ReadFirstFrame(TWebpReader& reader, const WebPData& data) {
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) return;
  options.color_mode = MODE_BGRA;
  WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
  if (!decoder) {
    LogMessage("WebP Error: %s", "the animation cannot be read");
    return;
  }
  WebPAnimInfo info;
  uint8_t* canvas = nullptr;
  int timestamp = 0;
  if (WebPAnimDecoderGetInfo(decoder, &info) && WebPAnimDecoderGetNext(decoder, &canvas, &timestamp)) {
    const auto width = static_cast<int32_t>(info.canvas_width);
    const auto height = static_cast<int32_t>(info.canvas_height);
    CreatePicture(reader, width, height);
    reader.complete = true;
    for (int32_t y = 0; y < height && reader.complete; ++y) {
      reader.complete = PutConvertedRow(reader.image, y, canvas + static_cast<size_t>(y) * width * 4, width, 4,
                                        TSampleOrder::Bgr, reader.background);
      if (ReportRowProgress(y + 1, height) != 0) {
        reader.stopped = true;
        reader.complete = false;
      }
    }
  } else {
    LogMessage("WebP Error: %s", "the first frame cannot be read");
  }
  WebPAnimDecoderDelete(decoder);
}

void SendDescription(const WebPData& data) {
  WebPDemuxer* demuxer = WebPDemux(&data);
  if (!demuxer) return;
  WebPChunkIterator chunk;
  if (WebPDemuxGetChunk(demuxer, "EXIF", 1, &chunk)) {
    CommentText(ReadExifFacts(chunk.chunk.bytes, chunk.chunk.size).description.c_str());
    WebPDemuxReleaseChunkIterator(&chunk);
  }
  WebPDemuxDelete(demuxer);
}

} // namespace

TReadOutcome ReadWebp(TPkgStream* stream, TImage& image, const TProfile& options) {
  auto reader = std::make_unique<TWebpReader>(image, options);
  if (!ReadWholeStream(stream, kMaxFileBytes, reader->file)) LogMessage("WebP Error: %s", "the file is too large");
  if (ProgressReport(0) != 0) return TReadOutcome::Stopped;
  WebPBitstreamFeatures features;
  const VP8StatusCode status = WebPGetFeatures(reader->file.data(), reader->file.size(), &features);
  if (status != VP8_STATUS_OK) {
    LogMessage("WebP Error: %s", StatusText(status));
    return TReadOutcome::Failed;
  }
  const WebPData data = {reader->file.data(), reader->file.size()};
  SendDescription(data);
  if (features.has_animation &&
      !PixelMemoryFits(int64_t{features.width} * features.height * kCanvasBytesPerPixel))
    LogMessage("WebP Error: an animation of %d x %d pixels is not read", features.width, features.height);
  else if (features.has_animation)
    ReadFirstFrame(*reader, data);
  else
    ReadStill(*reader, features);
  if (reader->stopped) return TReadOutcome::Stopped;
  if (!reader->created) return TReadOutcome::Failed;
  return reader->complete ? TReadOutcome::Complete : TReadOutcome::Partial;
}
