// HTML pages. The page is scanned tag by tag; "<img ... src="...">" and
// "<body ... background="...">" give names. A name with a scheme (http: or
// https:) stands as it is; one with another ':' (mailto:, javascript:) is
// left out; one starting with '/' is joined to the root of the page (the
// server of a page on the web); any other to the page's folder. Values
// without double quotes are left out.
#include "filepkg/pkg_html.h"

#include <strings.h>

#include <cctype>
#include <cstring>
#include <new>
#include <string>

#include "filepkg/pkg_layers.h"
#include "filepkg/pkg_listing.h"

namespace {

constexpr size_t kSample = 16384;
constexpr size_t kMinPageBytes = 128;
constexpr size_t kMaxBinaryBytes = 32;
// A tag longer than this is cut; its attributes beyond are not seen.
constexpr size_t kMaxTagLength = 510;

bool StartsNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// A page: mostly text in its first bytes (the last five not counted), and
// "<html" among them.
bool LooksLikePage(TPkgStream* stream, size_t blockSize) {
  std::string sample(std::min(blockSize, kSample), '\0');
  size_t count = PkgSeek(stream, 0, SEEK_SET) == 0 ? PkgRead(sample.data(), 1, sample.size(), stream) : 0;
  if (count < kMinPageBytes) return false;
  sample.resize(count);
  size_t binary = 0;
  for (size_t i = 0; i + 5 < count; ++i) {
    auto c = static_cast<unsigned char>(sample[i]);
    binary += !(c == '\t' || c == '\n' || c == '\r' || (c >= 32 && c <= 127));
  }
  return binary <= kMaxBinaryBytes && strcasestr(sample.c_str(), "<html") != nullptr;
}

// The quoted value of attribute (" src=") in a tag, or empty.
std::string AttributeValue(const std::string& tag, const char* attribute) {
  const char* at = strcasestr(tag.c_str(), attribute);
  if (!at) return {};
  at += std::strlen(attribute);
  if (*at != '"') return {};
  const char* end = std::strchr(at + 1, '"');
  return end ? std::string(at + 1, end) : std::string();
}

class THtmlPage final : public TPkgListing {
public:
  THtmlPage() = default;
  ~THtmlPage() override {
    if (m_source) PkgClose(m_source, kPkgKeep);
  }
  void Adopt(TPkgStream* source) {
    m_source = source;
    std::string page = source->info.name;
    m_folder = page.substr(0, page.rfind('/') + 1);
    size_t scheme = page.find("://");
    m_root = scheme == std::string::npos ? std::string() : page.substr(0, page.find('/', scheme + 3));
    Rewind();
  }

protected:
  bool Rewind() override { return PkgSeek(m_source, 0, SEEK_SET) == 0; }

  bool NextEntry(char* record) override {
    std::string tag;
    while (NextTag(tag)) {
      std::string value;
      if (StartsNoCase(tag, "img ")) value = AttributeValue(tag, " src=");
      else if (StartsNoCase(tag, "body ")) value = AttributeValue(tag, " background=");
      std::string name = FullName(value);
      if (name.empty() || name.size() >= static_cast<size_t>(kPkgRecordSize)) continue;
      std::memcpy(record, name.data(), name.size());
      return true;
    }
    return false;
  }

private:
  // The text of the next tag, bytes below 32 read as spaces; false at the
  // end of the page.
  bool NextTag(std::string& tag) {
    int byte;
    while ((byte = PkgGetByte(m_source)) >= 0 && byte != '<') {
    }
    if (byte < 0) return false;
    tag.clear();
    while ((byte = PkgGetByte(m_source)) >= 0 && byte != '>')
      if (tag.size() < kMaxTagLength) tag += static_cast<char>(byte < 32 ? ' ' : byte);
    return true;
  }

  std::string FullName(const std::string& value) const {
    if (value.empty()) return {};
    if (StartsNoCase(value, "http:") || StartsNoCase(value, "https:")) return value;
    if (value.find(':') != std::string::npos) return {};
    if (value[0] == '/') return m_root + value;
    return m_folder + value;
  }

  TPkgStream* m_source = nullptr;
  std::string m_folder; // the page's name up to its last '/'
  std::string m_root;   // "http://host:port" of a page on the web, else empty
};

// The names a page lists are opened by themselves.
TPkgStream* PageOpenMember(TPkgStream*, TPkgRequest*) { return nullptr; }

int PageClose(TPkgStream* stream, int closeMode) {
  delete static_cast<THtmlPage*>(stream->layerData);
  return closeMode == kPkgDelete ? -1 : 0;
}

const TPkgOps kPageOps = {PageOpenMember, TPkgListing::Map, TPkgListing::Fill, nullptr, PageClose};

} // namespace

TPkgStream* HtmlClaim(TPkgStream* source, TPkgRequest* request) {
  if (request->type == 'b' || !LooksLikePage(source, source->info.blockSize)) return nullptr;
  auto* page = new (std::nothrow) THtmlPage;
  if (!page) return nullptr;
  TPkgStream* handle = PkgNewContainerHandle(&kPageOps, page, *source, "htm");
  // A handle that cannot be made leaves the stream with the caller.
  if (handle) page->Adopt(source);
  return handle;
}
