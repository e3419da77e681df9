// Directory listings as sequences of fixed-size records.
#include "filepkg/pkg_listing.h"

#include <climits>
#include <cstring>

#include "filepkg/pkg_layers.h"

namespace {

TPkgListing* ListingOf(TPkgStream* stream) { return static_cast<TPkgListing*>(stream->layerData); }

} // namespace

bool TPkgListing::StepTo(int32_t index) {
  if (index < m_index) {
    m_index = -1;
    m_ended = false;
    if (!Rewind()) {
      m_ended = true;
      return false;
    }
  }
  while (m_index < index) {
    if (m_ended) return false;
    std::memset(m_record, 0, sizeof(m_record));
    if (!NextEntry(m_record)) {
      m_ended = true;
      return false;
    }
    m_record[kPkgRecordSize - 1] = '\0';
    ++m_index;
  }
  return true;
}

uint8_t* TPkgListing::Map(TPkgStream* stream, int forWriting, int32_t* length) {
  if (forWriting || stream->position < 0 || stream->position >= stream->size || *length <= 0) return nullptr;
  TPkgListing* listing = ListingOf(stream);
  if (!listing->StepTo(stream->position / kPkgRecordSize)) return nullptr;
  int32_t offset = stream->position % kPkgRecordSize;
  int32_t count = *length < kPkgRecordSize - offset ? *length : kPkgRecordSize - offset;
  *length = count;
  stream->position += count;
  return reinterpret_cast<uint8_t*>(listing->m_record + offset);
}

int TPkgListing::Fill(TPkgStream* stream) {
  int32_t next = stream->size / kPkgRecordSize;
  if (next >= INT32_MAX / kPkgRecordSize || !ListingOf(stream)->StepTo(next)) return 1;
  stream->size = (next + 1) * kPkgRecordSize;
  return 0;
}

bool TPkgIndexedListing::Rewind() {
  m_next = 0;
  return true;
}

bool TPkgIndexedListing::NextEntry(char* record) {
  while (m_next < EntryCount()) {
    std::string name = EntryName(m_next++);
    if (name.empty() || name.size() >= static_cast<size_t>(kPkgRecordSize)) continue;
    std::memcpy(record, name.data(), name.size());
    return true;
  }
  return false;
}

TPkgStream* PkgNewContainerHandle(const TPkgOps* ops, TPkgListing* listing, const TPkgStream& container,
                                  const char* layerId) {
  TPkgStream* stream = PkgNewStream(ops, listing);
  const TPkgInfo& info = container.info;
  if (!stream || !PkgSetInfo(&stream->info, std::string(info.name) + "/", info.mode, 'd', info.access, layerId,
                             info.time, kPkgRecordSize, 1)) {
    delete listing;
    PkgFreeStream(stream);
    return nullptr;
  }
  return stream;
}
