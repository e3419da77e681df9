// The tables through which the package core reaches its layers.
#include "filepkg/pkg_layers.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "filepkg/pkg_cache.h"
#include "filepkg/pkg_disk.h"
#include "filepkg/pkg_encoded.h"
#include "filepkg/pkg_gif_frames.h"
#include "filepkg/pkg_html.h"
#include "filepkg/pkg_join.h"
#include "filepkg/pkg_pwp.h"
#include "filepkg/pkg_slide_list.h"
#include "filepkg/pkg_tiff_pages.h"
#include "filepkg/pkg_url.h"
#include "filepkg/pkg_zip.h"

namespace {

// Openers of a name's first components, in the order they are tried. The
// open-file cache ("EnableMEMIO") and http URLs ("EnableURLIO") go ahead of
// the disk, so that a cached stream is reused and a URL is never taken for a
// relative disk name.
std::vector<TPkgFirstLevel>& FirstLevels() {
  static std::vector<TPkgFirstLevel> levels = {
      {"EnableMEMIO", nullptr, CacheOpenFirst, CacheFlush, true},
      {"EnableURLIO", UrlCanonical, UrlOpenFirst, nullptr, false},
      {"EnableFILIO", DiskMakeAbsolute, DiskOpenFirst, nullptr, false},
  };
  return levels;
}

// Container layers asked, in this order, to claim a stream whose name goes on:
// ZIP archives ("EnableZIPIO"), GIF frames ("EnableGIFIO"), Seattle Filmworks
// archives ("EnablePWPIO"), TIFF pages ("EnableTIFIO"), slide lists
// ("EnableSLIIO"), numbered parts ("EnableMULIO"), encoded files
// ("EnableUUEIO") and HTML pages ("EnableHTMIO").
std::vector<TPkgClaimLayer>& ClaimLayers() {
  static std::vector<TPkgClaimLayer> layers = {
      {"EnableZIPIO", ZipClaim},       {"EnableGIFIO", GifFramesClaim}, {"EnablePWPIO", PwpClaim},
      {"EnableTIFIO", TiffPagesClaim}, {"EnableSLIIO", SlideListClaim}, {"EnableMULIO", JoinClaim},
      {"EnableUUEIO", EncodedClaim},   {"EnableHTMIO", HtmlClaim},
  };
  return layers;
}

template <typename TEntry>
void InsertAt(std::vector<TEntry>& table, size_t index, const TEntry& entry) {
  table.insert(table.begin() + static_cast<std::ptrdiff_t>(std::min(index, table.size())), entry);
}

} // namespace

const std::vector<TPkgFirstLevel>& PkgFirstLevels() { return FirstLevels(); }
const std::vector<TPkgClaimLayer>& PkgClaimLayers() { return ClaimLayers(); }

void PkgInsertFirstLevel(size_t index, const TPkgFirstLevel& level) { InsertAt(FirstLevels(), index, level); }

void PkgRemoveFirstLevel(TPkgStream* (*openFirst)(TPkgRequest*)) {
  std::erase_if(FirstLevels(), [&](const TPkgFirstLevel& level) { return level.OpenFirst == openFirst; });
}

void PkgInsertClaimLayer(size_t index, const TPkgClaimLayer& layer) { InsertAt(ClaimLayers(), index, layer); }

void PkgRemoveClaimLayer(TPkgStream* (*claim)(TPkgStream*, TPkgRequest*)) {
  std::erase_if(ClaimLayers(), [&](const TPkgClaimLayer& layer) { return layer.Claim == claim; });
}

void PkgFlushLayers() {
  for (const TPkgFirstLevel& level : PkgFirstLevels())
    if (level.Flush) level.Flush();
}

uint8_t* PkgMapData(TPkgStream* stream, TPkgStream* data, int forWriting, int32_t* length) {
  const char access = stream->info.access;
  if (stream->position < 0 || (forWriting ? access == 'r' : access == 'w') || !data->ops->Map) return nullptr;
  data->position = stream->position;
  uint8_t* bytes = data->ops->Map(data, forWriting, length);
  if (!bytes) return nullptr;
  stream->position = data->position;
  stream->size = std::max(stream->size, data->size);
  return bytes;
}

int PkgTruncateData(TPkgStream* stream, TPkgStream* data) {
  if (stream->info.access == 'r' || !data->ops->Truncate) return -1;
  data->position = stream->position;
  if (data->ops->Truncate(data) != 0) return -1;
  stream->size = stream->position;
  return 0;
}

void PkgProduceAll(TPkgStream* stream) {
  while (stream->ops->Fill(stream) == 0) {
  }
}

namespace {

void StartProducedChange(TPkgStream* stream, bool& modified) {
  PkgProduceAll(stream);
  modified = true;
  stream->info.time = PkgNow();
}

} // namespace

uint8_t* PkgMapProduced(TPkgStream* stream, TPkgStream* data, bool& modified, int forWriting, int32_t* length) {
  if (forWriting && stream->info.access != 'r') StartProducedChange(stream, modified);
  return PkgMapData(stream, data, forWriting, length);
}

int PkgTruncateProduced(TPkgStream* stream, TPkgStream* data, bool& modified) {
  if (stream->info.access == 'r') return -1;
  StartProducedChange(stream, modified);
  return PkgTruncateData(stream, data);
}

bool PkgLooksLikeText(TPkgStream* stream, size_t sampleSize, size_t minBytes) {
  constexpr size_t kMaxBinaryBytes = 32;
  std::vector<uint8_t> sample(sampleSize);
  size_t count = PkgSeek(stream, 0, SEEK_SET) == 0 ? PkgRead(sample.data(), 1, sample.size(), stream) : 0;
  if (count < minBytes) return false;
  size_t binary = 0;
  for (size_t i = 0; i < count; ++i) {
    uint8_t c = sample[i];
    binary += !(c == '\t' || c == '\n' || c == '\r' || (c >= 32 && c <= 127));
  }
  return binary <= kMaxBinaryBytes;
}
