// Views: another stream's bytes, up to an end, under another name.
#include "filepkg/pkg_view.h"

#include <algorithm>
#include <new>

#include "filepkg/pkg_layers.h"

namespace {

struct TView {
  TPkgStream* source;
  int64_t end;
};

TView* ViewOf(TPkgStream* stream) { return static_cast<TView*>(stream->layerData); }

// The source's size as the view sees it.
int64_t VisibleSize(const TView& view) { return std::min(view.source->size, view.end); }

uint8_t* ViewMap(TPkgStream* stream, int forWriting, int32_t* length) {
  TView& view = *ViewOf(stream);
  TPkgStream* source = view.source;
  if (stream->position < 0 || stream->position >= view.end || !source->ops->Map) return nullptr;
  *length = static_cast<int32_t>(std::min<int64_t>(*length, view.end - stream->position));
  source->position = stream->position;
  uint8_t* bytes = source->ops->Map(source, forWriting, length);
  if (!bytes) return nullptr;
  stream->position = source->position;
  stream->size = VisibleSize(view);
  return bytes;
}

int ViewFill(TPkgStream* stream) {
  TView& view = *ViewOf(stream);
  if (view.source->size >= view.end || !view.source->ops->Fill) return 1;
  int result = view.source->ops->Fill(view.source);
  stream->size = VisibleSize(view);
  return result;
}

int ViewTruncate(TPkgStream* stream) {
  TView& view = *ViewOf(stream);
  view.source->position = stream->position;
  int result = PkgTruncate(view.source);
  stream->size = VisibleSize(view);
  return result;
}

int ViewClose(TPkgStream* stream, int closeMode) {
  TView* view = ViewOf(stream);
  int result = PkgClose(view->source, closeMode);
  delete view;
  return result;
}

const TPkgOps kViewOps = {nullptr, ViewMap, ViewFill, ViewTruncate, ViewClose};

} // namespace

TPkgStream* PkgNewView(TPkgStream* source, std::string_view name, int64_t end, const char* layerId) {
  TView* view = new (std::nothrow) TView{source, end};
  TPkgStream* stream = view ? PkgNewStream(&kViewOps, view) : nullptr;
  const TPkgInfo& info = source->info;
  if (!stream || !PkgSetInfo(&stream->info, name, info.mode, 'b', info.access, layerId, info.time, info.blockSize,
                             info.blockCount)) {
    delete view;
    PkgFreeStream(stream);
    PkgClose(source, kPkgKeep);
    return nullptr;
  }
  stream->size = VisibleSize(*view);
  return stream;
}
