// Seattle Filmworks archives, as read here (little-endian): "SFW95B" at 0;
// entry k's data of L(k) bytes start at d(k), with d(0) = 292 and
// d(k) = d(k - 1) + L(k - 1) + 272; the 272 bytes before d(k) hold the
// entry's NUL-terminated name (32 bytes, at d(k) - 272) and a trailer of 16
// bytes (at d(k) - 16) whose bytes 4 to 7 are L(k). Entries are read while
// d(k) lies inside the file.
#include "filepkg/pkg_pwp.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "filepkg/pkg_layers.h"
#include "filepkg/pkg_listing.h"

namespace {

constexpr size_t kMaxEntries = 64;
constexpr int64_t kFirstData = 292;
constexpr int64_t kEntryHeaderSize = 272;
constexpr int64_t kTrailerSize = 16;
constexpr size_t kNameSize = 32;
constexpr int32_t kCopyBlock = 32768;

struct TPwpEntry {
  std::string name;
  int64_t offset;
  uint32_t length;
};

std::vector<TPwpEntry> ReadEntries(TPkgStream* stream) {
  std::vector<TPwpEntry> entries;
  char magic[6];
  if (PkgSeek(stream, 0, SEEK_SET) != 0 || PkgRead(magic, 1, sizeof magic, stream) != sizeof magic ||
      std::memcmp(magic, "SFW95B", sizeof magic) != 0 || PkgSeek(stream, 0, SEEK_END) != 0)
    return entries;
  const int64_t size = PkgTell(stream);
  for (int64_t data = kFirstData; data < size && entries.size() < kMaxEntries;) {
    char name[kNameSize + 1] = {};
    uint8_t trailer[kTrailerSize];
    if (PkgSeek(stream, data - kEntryHeaderSize, SEEK_SET) != 0 || PkgRead(name, 1, kNameSize, stream) != kNameSize ||
        PkgSeek(stream, data - kTrailerSize, SEEK_SET) != 0 ||
        PkgRead(trailer, 1, sizeof trailer, stream) != sizeof trailer)
      break;
    uint32_t length = trailer[4] | trailer[5] << 8 | trailer[6] << 16 | static_cast<uint32_t>(trailer[7]) << 24;
    entries.push_back({name, data, length});
    data += int64_t{length} + kEntryHeaderSize;
  }
  return entries;
}

class TPwpArchive final : public TPkgIndexedListing {
public:
  explicit TPwpArchive(std::vector<TPwpEntry> entries) : m_entries(std::move(entries)) {}
  ~TPwpArchive() override {
    if (m_source) PkgClose(m_source, kPkgKeep);
  }
  TPkgStream* m_source = nullptr;
  std::vector<TPwpEntry> m_entries;

protected:
  size_t EntryCount() const override { return m_entries.size(); }
  std::string EntryName(size_t index) const override {
    const std::string& name = m_entries[index].name;
    return name.empty() ? name : std::string(m_source->info.name) + "/" + name;
  }
};

TPwpArchive* ArchiveOf(TPkgStream* stream) { return static_cast<TPwpArchive*>(stream->layerData); }

// Copies an entry's data into a scratch stream named after it.
TPkgStream* CopyEntry(TPkgStream* source, const TPwpEntry& entry, const TPkgRequest& request) {
  TPkgStream* copy = PkgTempStream(request.blockSize, request.blockCount);
  if (!copy) return nullptr;
  bool whole = PkgSeek(source, entry.offset, SEEK_SET) == 0;
  for (uint32_t left = entry.length; whole && left > 0;) {
    uint8_t* bytes = nullptr;
    int32_t got = PkgMapRead(&bytes, static_cast<int32_t>(std::min<uint32_t>(left, kCopyBlock)), source);
    whole = got > 0 && PkgWrite(bytes, 1, got, copy) == static_cast<size_t>(got);
    left -= static_cast<uint32_t>(std::max(got, 0));
  }
  // A picture cut short by the end of the archive is what there is of it.
  PkgSeek(copy, 0, SEEK_SET);
  return copy;
}

TPkgStream* ArchiveOpenMember(TPkgStream* handle, TPkgRequest* request) {
  TPwpArchive* archive = ArchiveOf(handle);
  const char* rest = request->name + request->parseIndex;
  size_t length = std::strcspn(rest, "/");
  if (request->mode != 'r' || request->access != 'r' || request->type == 'd' || length == 0) return nullptr;
  for (const TPwpEntry& entry : archive->m_entries) {
    if (entry.name.size() != length || strncasecmp(entry.name.data(), rest, length) != 0) continue;
    TPkgStream* member = CopyEntry(archive->m_source, entry, *request);
    if (!member || !PkgSetInfo(&member->info, std::string(archive->m_source->info.name) + "/" + entry.name, 'r', 'b',
                               'r', "pwp", archive->m_source->info.time, member->info.blockSize,
                               member->info.blockCount)) {
      PkgClose(member, kPkgKeep);
      return nullptr;
    }
    request->parseIndex += static_cast<int32_t>(length + (rest[length] == '/' ? 1 : 0));
    PkgClose(handle, kPkgKeep);
    return member;
  }
  return nullptr;
}

int ArchiveClose(TPkgStream* stream, int closeMode) {
  delete ArchiveOf(stream);
  return closeMode == kPkgDelete ? -1 : 0;
}

const TPkgOps kArchiveOps = {ArchiveOpenMember, TPkgListing::Map, TPkgListing::Fill, nullptr, ArchiveClose};

} // namespace

TPkgStream* PwpClaim(TPkgStream* source, TPkgRequest*) {
  std::vector<TPwpEntry> entries = ReadEntries(source);
  if (entries.empty()) return nullptr;
  auto* archive = new (std::nothrow) TPwpArchive(std::move(entries));
  if (!archive) return nullptr;
  TPkgStream* handle = PkgNewContainerHandle(&kArchiveOps, archive, *source, "pwp");
  // A handle that cannot be made leaves the stream with the caller.
  if (handle) archive->m_source = source;
  return handle;
}
