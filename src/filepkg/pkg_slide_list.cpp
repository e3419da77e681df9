// Slide lists: every non-empty line is one entry, in order, as it stands
// (relative names stay relative). NUL, CR and LF end lines; a line longer
// than a record continues as the next entry.
#include "filepkg/pkg_slide_list.h"

#include <strings.h>

#include <cstring>
#include <new>

#include "filepkg/pkg_layers.h"
#include "filepkg/pkg_listing.h"

namespace {

class TSlideList final : public TPkgListing {
public:
  ~TSlideList() override {
    if (m_source) PkgClose(m_source, kPkgKeep);
  }
  TPkgStream* m_source = nullptr;

protected:
  bool Rewind() override { return PkgSeek(m_source, 0, SEEK_SET) == 0; }

  bool NextEntry(char* record) override {
    size_t length = 0;
    for (;;) {
      int byte = PkgGetByte(m_source);
      bool lineEnd = byte <= 0 || byte == '\r' || byte == '\n';
      if (lineEnd && length > 0) return true;
      if (byte < 0) return false;
      if (lineEnd) continue;
      record[length++] = static_cast<char>(byte);
      if (length == static_cast<size_t>(kPkgRecordSize) - 1) return true;
    }
  }
};

// A slide list's entries are opened by their own names, never as members.
TPkgStream* ListOpenMember(TPkgStream*, TPkgRequest*) { return nullptr; }

int ListClose(TPkgStream* stream, int closeMode) {
  delete static_cast<TSlideList*>(stream->layerData);
  return closeMode == kPkgDelete ? -1 : 0;
}

const TPkgOps kListOps = {ListOpenMember, TPkgListing::Map, TPkgListing::Fill, nullptr, ListClose};

bool EndsWithNoCase(const char* text, const char* suffix) {
  size_t length = std::strlen(text);
  size_t suffixLength = std::strlen(suffix);
  return length >= suffixLength && strcasecmp(text + length - suffixLength, suffix) == 0;
}

} // namespace

TPkgStream* SlideListClaim(TPkgStream* source, TPkgRequest* request) {
  if (request->type == 'b' || !EndsWithNoCase(source->info.name, ".sli")) return nullptr;
  auto* list = new (std::nothrow) TSlideList;
  if (!list) return nullptr;
  TPkgStream* handle = PkgNewContainerHandle(&kListOps, list, *source, "sli");
  // A handle that cannot be made leaves the stream with the caller.
  if (handle) list->m_source = source;
  if (handle) PkgSeek(source, 0, SEEK_SET);
  return handle;
}
