// TIFF pages. A TIFF file is a header ("II" little-endian or "MM"
// big-endian, the version 42, and the offset of the first directory; BigTIFF
// has version 43, two more words, and 8-byte offsets) and a chain of image
// file directories (a count of entries, the entries of 12 bytes, or 20 in
// BigTIFF, and the offset of the next directory, 0 after the last). A page is
// a directory; the chain is walked here to count them, with a guard against
// chains that loop.
#include "filepkg/pkg_tiff_pages.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "filepkg/pkg_layers.h"
#include "filepkg/pkg_listing.h"
#include "filepkg/pkg_view.h"

namespace {

constexpr size_t kMaxPages = 9999;
// The page number's place in a member name: "page%4.4d.tif".
constexpr size_t kPageNameLength = 12;

struct TTiffReader {
  TPkgStream* stream;
  bool bigEndian;

  bool Read(int64_t offset, uint8_t* bytes, size_t count) const {
    return PkgSeek(stream, offset, SEEK_SET) == 0 && PkgRead(bytes, 1, count, stream) == count;
  }
  uint64_t Value(const uint8_t* bytes, size_t count) const {
    uint64_t value = 0;
    for (size_t i = 0; i < count; ++i) value |= uint64_t{bytes[bigEndian ? count - 1 - i : i]} << (8 * i);
    return value;
  }
  void Put(uint8_t* bytes, uint64_t value, size_t count) const {
    for (size_t i = 0; i < count; ++i) bytes[bigEndian ? count - 1 - i : i] = static_cast<uint8_t>(value >> (8 * i));
  }
};

// The directories of a file: where each starts and where the link that
// leads to it lies (the header's, or the previous directory's).
struct TChain {
  bool bigEndian = false;
  bool big = false; // BigTIFF
  std::vector<uint64_t> directories;
  std::vector<uint64_t> links;
};

// Walks the chain of directories; empty when the file is no TIFF file.
TChain WalkChain(TPkgStream* stream) {
  TChain chain;
  uint8_t header[16];
  if (PkgSeek(stream, 0, SEEK_SET) != 0 || PkgRead(header, 1, 8, stream) != 8) return chain;
  if (std::memcmp(header, "II", 2) != 0 && std::memcmp(header, "MM", 2) != 0) return chain;
  TTiffReader reader{stream, header[0] == 'M'};
  uint64_t version = reader.Value(header + 2, 2);
  if (version != 42 && version != 43) return chain;
  chain.bigEndian = reader.bigEndian;
  chain.big = version == 43;
  if (chain.big && !reader.Read(0, header, 16)) return chain;
  const size_t offsetSize = chain.big ? 8 : 4;
  const size_t countSize = chain.big ? 8 : 2;
  const size_t entrySize = chain.big ? 20 : 12;
  uint64_t link = chain.big ? 8 : 4;
  uint64_t next = reader.Value(header + link, offsetSize);
  std::set<uint64_t> seen;
  while (next != 0 && seen.size() < kMaxPages && seen.insert(next).second) {
    uint8_t bytes[8];
    if (next > INT64_MAX / 2 || !reader.Read(static_cast<int64_t>(next), bytes, countSize)) break;
    uint64_t entries = reader.Value(bytes, countSize);
    chain.directories.push_back(next);
    chain.links.push_back(link);
    link = next + countSize + entries * entrySize;
    if (entries > 0xFFFF || !reader.Read(static_cast<int64_t>(link), bytes, offsetSize)) break;
    next = reader.Value(bytes, offsetSize);
  }
  // The link after the last directory, where a page added at the end goes.
  chain.links.push_back(link);
  return chain;
}

// Camera files that start like TIFF files belong to their own readers: the
// Kodak DC120 and DC50 and the Digital Camera 40 name themselves at fixed
// offsets, Canon CRW files say "HEAPCCDR".
bool IsCameraFile(TPkgStream* stream) {
  struct TMark {
    int64_t offset;
    const char* text;
  };
  static const TMark kMarks[] = {{470, "Kodak DC120 ZOOM Digital Camera"},
                                 {458, "Kodak Digital Science DC50 Zoom Camera"},
                                 {330, "Digital Camera 40"},
                                 {6, "HEAPCCDR"}};
  for (const TMark& mark : kMarks) {
    char bytes[64] = {};
    size_t length = std::strlen(mark.text);
    if (PkgSeek(stream, mark.offset, SEEK_SET) == 0 && PkgRead(bytes, 1, length + 1, stream) >= length &&
        std::memcmp(bytes, mark.text, length) == 0 && (mark.offset == 6 || bytes[length] == '\0'))
      return true;
  }
  return false;
}

// The page number a member name gives ("page0002.tif" is 2), 0 for any
// other name.
size_t PageNumber(std::string_view component) {
  if (component.size() != kPageNameLength || strncasecmp(component.data(), "page", 4) != 0 ||
      strncasecmp(component.data() + 8, ".tif", 4) != 0)
    return 0;
  size_t number = 0;
  for (char c : component.substr(4, 4)) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    number = number * 10 + static_cast<size_t>(c - '0');
  }
  return number;
}

class TTiffPages final : public TPkgIndexedListing {
public:
  explicit TTiffPages(size_t count) : m_count(count) {}
  ~TTiffPages() override {
    if (m_source) PkgClose(m_source, kPkgKeep);
  }

  std::string MemberName(size_t number) const {
    char leaf[kPageNameLength + 1];
    std::snprintf(leaf, sizeof leaf, "page%4.4zu.tif", number);
    return std::string(m_source->info.name) + "/" + leaf;
  }

  TPkgStream* m_source = nullptr;
  size_t m_count;

protected:
  size_t EntryCount() const override { return m_count; }
  std::string EntryName(size_t index) const override { return MemberName(index + 1); }
};

TTiffPages* PagesOf(TPkgStream* stream) { return static_cast<TTiffPages*>(stream->layerData); }

constexpr uint16_t kStripOffsetsTag = 273;
constexpr uint16_t kTileOffsetsTag = 324;
constexpr size_t kEntrySize = 12;

// The size of a field type's values, and of the numbers byte order applies
// to (a RATIONAL is two LONGs); 0 for types this program does not know.
size_t TypeSize(uint64_t type) {
  static const uint8_t kSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type < sizeof kSizes ? kSizes[type] : 0;
}
size_t NumberSize(uint64_t type) { return type == 5 || type == 10 ? 4 : TypeSize(type); }

// Makes a one-page classic TIFF file, held in page, ready to be appended to
// a file of the chain's byte order at offset base: every offset in its
// directory is moved by base, every number turned into that byte order, and
// its link set to continuation. Returns the offset of its directory in page,
// or 0 when page is no file this can move.
uint64_t MovePage(std::vector<uint8_t>& page, const TChain& chain, uint64_t base, uint64_t continuation) {
  if (page.size() < 8 || (std::memcmp(page.data(), "II", 2) != 0 && std::memcmp(page.data(), "MM", 2) != 0))
    return 0;
  const TTiffReader from{nullptr, page[0] == 'M'};
  const TTiffReader to{nullptr, chain.bigEndian};
  const uint64_t size = page.size();
  const uint64_t directory = from.Value(&page[4], 4);
  if (from.Value(&page[2], 2) != 42 || directory + 2 > size) return 0;
  const uint64_t entries = from.Value(&page[directory], 2);
  if (directory + 2 + entries * kEntrySize + 4 > size) return 0;
  to.Put(&page[directory], entries, 2);
  for (uint64_t i = 0; i < entries; ++i) {
    uint8_t* entry = &page[directory + 2 + i * kEntrySize];
    const uint64_t tag = from.Value(entry, 2);
    const uint64_t type = from.Value(entry + 2, 2);
    const uint64_t count = from.Value(entry + 4, 4);
    const size_t number = NumberSize(type);
    if (number == 0 || count > size) return 0;
    const uint64_t bytes = TypeSize(type) * count;
    uint8_t* values = entry + 8;
    if (bytes > 4) {
      const uint64_t at = from.Value(entry + 8, 4);
      if (at + bytes > size || at + base > UINT32_MAX) return 0;
      to.Put(entry + 8, at + base, 4);
      values = &page[at];
    }
    const bool offsets = tag == kStripOffsetsTag || tag == kTileOffsetsTag;
    const uint64_t limit = number == 2 ? UINT16_MAX : UINT32_MAX;
    for (uint64_t j = 0; j < bytes / number; ++j) {
      uint64_t value = from.Value(values + j * number, number) + (offsets ? base : 0);
      if (value > limit && number <= 4) return 0;
      to.Put(values + j * number, value, number);
    }
    to.Put(entry, tag, 2);
    to.Put(entry + 2, type, 2);
    to.Put(entry + 4, count, 4);
  }
  to.Put(&page[directory + 2 + entries * kEntrySize], continuation, 4);
  return directory;
}

bool ReadAll(TPkgStream* stream, std::vector<uint8_t>& bytes) {
  if (PkgSeek(stream, 0, SEEK_END) != 0) return false;
  bytes.resize(static_cast<size_t>(PkgTell(stream)));
  return PkgSeek(stream, 0, SEEK_SET) == 0 && PkgRead(bytes.data(), 1, bytes.size(), stream) == bytes.size();
}

bool CopyAll(TPkgStream* source, TPkgStream* out) {
  if (PkgSeek(source, 0, SEEK_SET) != 0) return false;
  uint8_t* bytes = nullptr;
  while (int32_t count = PkgMapRead(&bytes, 1 << 20, source))
    if (PkgWrite(bytes, 1, count, out) != static_cast<size_t>(count)) return false;
  return true;
}

// Writes the file anew with the one-page file in data as its page number
// (replacing it, or added after the last).
bool WritePage(TPkgStream* source, size_t number, TPkgStream* data) {
  const TChain chain = WalkChain(source);
  const size_t pages = chain.directories.size();
  std::vector<uint8_t> page;
  if (chain.big || number == 0 || number > pages + 1 || !ReadAll(data, page)) return false;
  const std::string name = source->info.name;
  TPkgStream* out = PkgOpen(name.c_str(), "wb");
  bool good = out && CopyAll(source, out);
  // Directories start on a word boundary.
  uint64_t base = good ? static_cast<uint64_t>(PkgTell(out)) : 0;
  if (good && base % 2 != 0) good = PkgWrite("", 1, 1, out) == 1 && ++base;
  const uint64_t continuation = number < pages ? chain.directories[number] : 0;
  const uint64_t directory = good ? MovePage(page, chain, base, continuation) : 0;
  good = good && directory != 0 && base + page.size() <= UINT32_MAX &&
         PkgWrite(page.data(), 1, page.size(), out) == page.size();
  if (good) {
    uint8_t link[4];
    TTiffReader{nullptr, chain.bigEndian}.Put(link, base + directory, 4);
    good = PkgSeek(out, static_cast<int64_t>(chain.links[number - 1]), SEEK_SET) == 0 && PkgWrite(link, 1, 4, out) == 4;
  }
  if (!out) return false;
  return PkgClose(out, good ? kPkgKeep : kPkgAbandon) == 0 && good;
}

// A page being written: the TIFF writer's one-page file, placed into the
// file when the page is kept.
struct TPageWrite {
  TPkgStream* pages = nullptr; // the pages handle, owned
  size_t number = 0;
  TPkgStream* data = nullptr;
  ~TPageWrite() {
    if (data) PkgClose(data, kPkgKeep);
    if (pages) PkgClose(pages, kPkgKeep);
  }
};

TPageWrite* PageWriteOf(TPkgStream* stream) { return static_cast<TPageWrite*>(stream->layerData); }

uint8_t* PageMap(TPkgStream* stream, int forWriting, int32_t* length) {
  return PkgMapData(stream, PageWriteOf(stream)->data, forWriting, length);
}

int PageTruncate(TPkgStream* stream) { return PkgTruncateData(stream, PageWriteOf(stream)->data); }

int PageClose(TPkgStream* stream, int closeMode) {
  TPageWrite* write = PageWriteOf(stream);
  bool good = closeMode != kPkgDelete;
  if (closeMode == kPkgKeep) good = WritePage(PagesOf(write->pages)->m_source, write->number, write->data);
  delete write;
  return good ? 0 : -1;
}

const TPkgOps kPageWriteOps = {nullptr, PageMap, nullptr, PageTruncate, PageClose};

TPkgStream* OpenPageToWrite(TPkgStream* handle, const TPkgRequest& request, size_t number, std::string name) {
  auto* write = new (std::nothrow) TPageWrite;
  TPkgStream* stream = write ? PkgNewStream(&kPageWriteOps, write) : nullptr;
  if (write) write->data = PkgTempStream(request.blockSize, request.blockCount);
  if (!stream || !write->data ||
      !PkgSetInfo(&stream->info, name, request.mode, 'b', '*', "tif", PkgNow(), request.blockSize, request.blockCount)) {
    delete write;
    PkgFreeStream(stream);
    return nullptr;
  }
  write->pages = handle;
  write->number = number;
  return stream;
}

// Pages are read as the whole file under the page's name; a page written
// goes into the file when it is kept (page numbers up to one past the last).
TPkgStream* PagesOpenMember(TPkgStream* handle, TPkgRequest* request) {
  TTiffPages* pages = PagesOf(handle);
  const char* rest = request->name + request->parseIndex;
  size_t length = std::strcspn(rest, "/");
  size_t number = PageNumber(std::string_view(rest, length));
  bool writes = request->mode != 'r' || request->access != 'r';
  if (request->type == 'd' || number == 0 || number > pages->m_count + (writes ? 1 : 0)) return nullptr;
  std::string name = pages->MemberName(number);
  if (writes) {
    TPkgStream* member = OpenPageToWrite(handle, *request, number, name);
    if (member) request->parseIndex += static_cast<int32_t>(length + (rest[length] == '/' ? 1 : 0));
    return member;
  }
  TPkgStream* source = pages->m_source;
  pages->m_source = nullptr;
  TPkgStream* member = PkgNewView(source, name, INT64_MAX, "tif");
  if (!member) return nullptr;
  request->parseIndex += static_cast<int32_t>(length + (rest[length] == '/' ? 1 : 0));
  PkgClose(handle, kPkgKeep);
  return member;
}

int PagesClose(TPkgStream* stream, int closeMode) {
  delete PagesOf(stream);
  return closeMode == kPkgDelete ? -1 : 0;
}

const TPkgOps kPagesOps = {PagesOpenMember, TPkgListing::Map, TPkgListing::Fill, nullptr, PagesClose};

// True for a stream that is a page already ("doc.tif/page0002.tif").
bool IsPageName(const char* name) {
  size_t length = std::strlen(name);
  return length > kPageNameLength && name[length - kPageNameLength - 1] == '/' &&
         PageNumber(name + length - kPageNameLength) != 0;
}

} // namespace

TPkgStream* TiffPagesClaim(TPkgStream* source, TPkgRequest*) {
  if (IsPageName(source->info.name) || IsCameraFile(source)) return nullptr;
  size_t count = WalkChain(source).directories.size();
  if (count < 2) return nullptr;
  auto* pages = new (std::nothrow) TTiffPages(count);
  if (!pages) return nullptr;
  TPkgStream* handle = PkgNewContainerHandle(&kPagesOps, pages, *source, "tif");
  // A handle that cannot be made leaves the stream with the caller.
  if (handle) pages->m_source = source;
  return handle;
}
