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
};

// The number of directories in the file, 0 when it is no TIFF file.
size_t CountPages(TPkgStream* stream) {
  uint8_t header[16];
  if (PkgSeek(stream, 0, SEEK_SET) != 0 || PkgRead(header, 1, 8, stream) != 8) return 0;
  if (std::memcmp(header, "II", 2) != 0 && std::memcmp(header, "MM", 2) != 0) return 0;
  TTiffReader reader{stream, header[0] == 'M'};
  uint64_t version = reader.Value(header + 2, 2);
  if (version != 42 && version != 43) return 0;
  const bool big = version == 43;
  if (big && !reader.Read(0, header, 16)) return 0;
  const size_t offsetSize = big ? 8 : 4;
  const size_t countSize = big ? 8 : 2;
  const size_t entrySize = big ? 20 : 12;
  uint64_t next = reader.Value(header + (big ? 8 : 4), offsetSize);
  std::set<uint64_t> seen;
  while (next != 0 && seen.size() < kMaxPages && seen.insert(next).second) {
    uint8_t bytes[8];
    if (next > INT64_MAX / 2 || !reader.Read(static_cast<int64_t>(next), bytes, countSize)) break;
    uint64_t entries = reader.Value(bytes, countSize);
    int64_t link = static_cast<int64_t>(next + countSize + entries * entrySize);
    if (entries > 0xFFFF || !reader.Read(link, bytes, offsetSize)) break;
    next = reader.Value(bytes, offsetSize);
  }
  return seen.size();
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

// Pages are read; the file is handed on whole under the page's name.
TPkgStream* PagesOpenMember(TPkgStream* handle, TPkgRequest* request) {
  TTiffPages* pages = PagesOf(handle);
  const char* rest = request->name + request->parseIndex;
  size_t length = std::strcspn(rest, "/");
  size_t number = PageNumber(std::string_view(rest, length));
  if (request->mode != 'r' || request->access != 'r' || request->type == 'd' || number == 0 ||
      number > pages->m_count)
    return nullptr;
  TPkgStream* source = pages->m_source;
  std::string name = pages->MemberName(number);
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
  size_t count = CountPages(source);
  if (count < 2) return nullptr;
  auto* pages = new (std::nothrow) TTiffPages(count);
  if (!pages) return nullptr;
  TPkgStream* handle = PkgNewContainerHandle(&kPagesOps, pages, *source, "tif");
  // A handle that cannot be made leaves the stream with the caller.
  if (handle) pages->m_source = source;
  return handle;
}
