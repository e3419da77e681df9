// The URL name test. A name is a URL when it starts with "http://" or
// "https://", or when its first component looks like a host name: more than
// three characters with at least two dots, and either only digits and dots
// (a numeric address), or ending in a dot and "com", "edu", "net", "org" or
// "gov", or in a dot and two letters (a country domain).
#include "filepkg/pkg_url.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "core/log_sink.h"
#include "filepkg/pkg_cache.h"
#include "filepkg/pkg_layers.h"
#include "platform/shared_library.h"

namespace {

constexpr size_t kMaxHostLength = 127;
constexpr size_t kMaxPathLength = 511;
constexpr int kMaxPort = 65535;

struct TScheme {
  std::string_view prefix;
  int defaultPort;
};

constexpr TScheme kHttp = {"http://", 80};
constexpr TScheme kHttps = {"https://", 443};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         strncasecmp(text.data() + text.size() - suffix.size(), suffix.data(), suffix.size()) == 0;
}

bool LooksLikeHost(std::string_view part) {
  if (part.size() <= 3 || std::count(part.begin(), part.end(), '.') < 2) return false;
  if (std::all_of(part.begin(), part.end(), [](char c) { return c == '.' || std::isdigit(static_cast<unsigned char>(c)); }))
    return true;
  for (std::string_view domain : {".com", ".edu", ".net", ".org", ".gov"})
    if (EndsWithNoCase(part, domain)) return true;
  size_t n = part.size();
  return part[n - 3] == '.' && std::isalpha(static_cast<unsigned char>(part[n - 2])) &&
         std::isalpha(static_cast<unsigned char>(part[n - 1]));
}

} // namespace

int UrlCanonical(TPkgRequest* request) {
  std::string_view name = request->name;
  TScheme scheme = kHttp;
  if (StartsWithNoCase(name, kHttps.prefix)) {
    scheme = kHttps;
    name.remove_prefix(kHttps.prefix.size());
  } else if (StartsWithNoCase(name, kHttp.prefix)) {
    name.remove_prefix(kHttp.prefix.size());
  } else if (!LooksLikeHost(name.substr(0, name.find_first_of("/:")))) {
    return 0;
  }
  std::string_view host = name.substr(0, name.find_first_of("/:"));
  name.remove_prefix(host.size());
  // After a ':' the port is the value of its digits up to the next '/';
  // anything else there is ignored.
  int port = scheme.defaultPort;
  if (!name.empty() && name[0] == ':') {
    const size_t slash = name.find('/');
    std::string_view portText = name.substr(1, slash == std::string_view::npos ? slash : slash - 1);
    port = 0;
    for (char c : portText) {
      if (!std::isdigit(static_cast<unsigned char>(c))) continue;
      port = port * 10 + (c - '0');
      if (port > kMaxPort) return -1;
    }
    name.remove_prefix(1 + portText.size());
  }
  std::string_view path = name.empty() ? std::string_view("/") : name;
  // A name cut to fit would stand for another object, so it is refused.
  if (host.empty() || host.size() > kMaxHostLength || path.size() > kMaxPathLength) return -1;
  std::string canonical(scheme.prefix);
  canonical.append(host);
  if (port != scheme.defaultPort) canonical += ":" + std::to_string(port);
  canonical.append(path);
  if (canonical.size() >= sizeof(request->name)) return -1;
  std::memcpy(request->name, canonical.c_str(), canonical.size() + 1);
  return 1;
}

// Downloads. Each URL handle runs one transfer of libcurl's multi interface;
// its Fill performs what is ready and waits a moment for more, so that a
// reader blocks only in the package's Fill loop, which asks between steps
// whether the user wants to stop. Redirects are followed (at most 10), and a
// reply that is not a success delivers no bytes: an error page is never
// taken for the object. A transfer that receives nothing for 60 seconds
// ends.
namespace {

// libcurl and the thirty libraries it brings (TLS, LDAP, SSH, ...) are loaded
// the first time an address is opened.
struct TCurlCalls {
  decltype(&curl_global_init) globalInit;
  decltype(&curl_easy_init) easyInit;
  decltype(&curl_easy_setopt) easySetopt;
  decltype(&curl_easy_getinfo) easyGetinfo;
  decltype(&curl_easy_cleanup) easyCleanup;
  decltype(&curl_multi_init) multiInit;
  decltype(&curl_multi_add_handle) multiAddHandle;
  decltype(&curl_multi_remove_handle) multiRemoveHandle;
  decltype(&curl_multi_perform) multiPerform;
  decltype(&curl_multi_poll) multiPoll;
  decltype(&curl_multi_info_read) multiInfoRead;
  decltype(&curl_multi_cleanup) multiCleanup;
};

// The calls of the library, set once LoadCurl answered true.
TCurlCalls g_curl;

// True once libcurl is loaded and initialised; the failure is logged once.
bool LoadCurl() {
  static const bool loaded = [] {
    static TSharedLibrary library("libcurl.so.4");
    library.Bind(g_curl.globalInit, "curl_global_init");
    library.Bind(g_curl.easyInit, "curl_easy_init");
    library.Bind(g_curl.easySetopt, "curl_easy_setopt");
    library.Bind(g_curl.easyGetinfo, "curl_easy_getinfo");
    library.Bind(g_curl.easyCleanup, "curl_easy_cleanup");
    library.Bind(g_curl.multiInit, "curl_multi_init");
    library.Bind(g_curl.multiAddHandle, "curl_multi_add_handle");
    library.Bind(g_curl.multiRemoveHandle, "curl_multi_remove_handle");
    library.Bind(g_curl.multiPerform, "curl_multi_perform");
    library.Bind(g_curl.multiPoll, "curl_multi_poll");
    library.Bind(g_curl.multiInfoRead, "curl_multi_info_read");
    library.Bind(g_curl.multiCleanup, "curl_multi_cleanup");
    if (!library.Ok() || g_curl.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      LogMessage("Cannot read web addresses: %s",
                 library.Ok() ? "libcurl could not be set up" : library.Error().c_str());
      return false;
    }
    return true;
  }();
  return loaded;
}

constexpr long kMaxRedirects = 10;
constexpr long kStallSeconds = 60;
constexpr int kStepMilliseconds = 50;
// Bytes handed over per callback, and the memory blocks the body is kept in
// before it goes to a scratch file.
constexpr long kReceiveBuffer = 256 * 1024;
constexpr int32_t kBodyBlockSize = 1 << 21;
constexpr int32_t kBodyBlockCount = 32;

struct TDownload {
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  TPkgStream* body = nullptr; // what has arrived
  bool finished = false;      // the transfer ended, well or not
  bool complete = false;      // it ended with the whole object

  ~TDownload() {
    if (easy) {
      g_curl.multiRemoveHandle(multi, easy);
      g_curl.easyCleanup(easy);
    }
    if (multi) g_curl.multiCleanup(multi);
    if (body) PkgClose(body, kPkgKeep);
  }
};

TDownload* DownloadOf(TPkgStream* stream) { return static_cast<TDownload*>(stream->layerData); }

// Bytes of a successful reply go to the body; any other reply stops the
// transfer at its first byte.
size_t Receive(char* bytes, size_t size, size_t count, void* context) {
  auto* download = static_cast<TDownload*>(context);
  long status = 0;
  g_curl.easyGetinfo(download->easy, CURLINFO_RESPONSE_CODE, &status);
  if (status < 200 || status > 299) return 0;
  size_t total = size * count;
  if (PkgSeek(download->body, 0, SEEK_END) != 0) return 0;
  return PkgWrite(bytes, 1, total, download->body);
}

int DownloadFill(TPkgStream* stream) {
  TDownload& download = *DownloadOf(stream);
  if (download.finished) return 1;
  int running = 0;
  g_curl.multiPerform(download.multi, &running);
  if (running) g_curl.multiPoll(download.multi, nullptr, 0, kStepMilliseconds, nullptr);
  int pending = 0;
  while (CURLMsg* message = g_curl.multiInfoRead(download.multi, &pending)) {
    if (message->msg != CURLMSG_DONE) continue;
    download.finished = true;
    download.complete = message->data.result == CURLE_OK;
  }
  stream->size = download.body->size;
  return download.finished ? 1 : 0;
}

uint8_t* DownloadMap(TPkgStream* stream, int forWriting, int32_t* length) {
  return PkgMapData(stream, DownloadOf(stream)->body, forWriting, length);
}

// A finished download is kept by the open-file cache under the URL; a URL
// cannot be deleted.
int DownloadClose(TPkgStream* stream, int closeMode) {
  TDownload* download = DownloadOf(stream);
  if (download->complete && closeMode != kPkgDelete) {
    PkgClose(PkgCacheWrap(download->body, stream->info.name), kPkgKeep);
    download->body = nullptr;
  }
  delete download;
  return closeMode == kPkgDelete ? -1 : 0;
}

const TPkgOps kDownloadOps = {nullptr, DownloadMap, DownloadFill, nullptr, DownloadClose};

// The length of the part of a canonical URL that is downloaded: up to the
// end of the first path component with a three-letter extension, or all.
size_t DownloadedLength(std::string_view url) {
  size_t path = url.find('/', url.find("://") + 3);
  if (path == std::string_view::npos) return url.size();
  for (size_t start = path + 1; start < url.size();) {
    size_t end = std::min(url.find('/', start), url.size());
    std::string_view component = url.substr(start, end - start);
    size_t dot = component.rfind('.');
    if (dot != std::string_view::npos && component.size() - dot == 4 &&
        std::all_of(component.begin() + dot + 1, component.end(),
                    [](char c) { return std::isalpha(static_cast<unsigned char>(c)); }))
      return end;
    start = end + 1;
  }
  return url.size();
}

bool StartDownload(TDownload& download, const std::string& url) {
  download.multi = LoadCurl() ? g_curl.multiInit() : nullptr;
  download.easy = download.multi ? g_curl.easyInit() : nullptr;
  if (!download.easy) return false;
  g_curl.easySetopt(download.easy, CURLOPT_URL, url.c_str());
  g_curl.easySetopt(download.easy, CURLOPT_FOLLOWLOCATION, 1L);
  g_curl.easySetopt(download.easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  g_curl.easySetopt(download.easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
  g_curl.easySetopt(download.easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  g_curl.easySetopt(download.easy, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  g_curl.easySetopt(download.easy, CURLOPT_CONNECTTIMEOUT, kStallSeconds);
  g_curl.easySetopt(download.easy, CURLOPT_NOSIGNAL, 1L);
  g_curl.easySetopt(download.easy, CURLOPT_BUFFERSIZE, kReceiveBuffer);
  g_curl.easySetopt(download.easy, CURLOPT_WRITEFUNCTION, Receive);
  g_curl.easySetopt(download.easy, CURLOPT_WRITEDATA, &download);
  g_curl.easySetopt(download.easy, CURLOPT_PROTOCOLS_STR, "http,https");
  g_curl.easySetopt(download.easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  download.finished = false;
  return g_curl.multiAddHandle(download.multi, download.easy) == CURLM_OK;
}

} // namespace

TPkgStream* UrlOpenFirst(TPkgRequest* request) {
  std::string_view name = request->name;
  // Only names the URL test made canonical are URLs.
  bool isUrl = StartsWithNoCase(name, kHttp.prefix) || StartsWithNoCase(name, kHttps.prefix);
  if (!isUrl || request->mode == 'w' || request->access != 'r') return nullptr;
  size_t length = DownloadedLength(name);
  std::string url(name.substr(0, length));
  auto* download = new (std::nothrow) TDownload;
  if (!download) return nullptr;
  download->body = PkgTempStream(kBodyBlockSize, kBodyBlockCount);
  TPkgStream* stream = download->body && StartDownload(*download, url) ? PkgNewStream(&kDownloadOps, download) : nullptr;
  if (!stream ||
      !PkgSetInfo(&stream->info, url, 'r', 'b', 'r', "url", PkgNow(), request->blockSize, request->blockCount)) {
    delete download;
    PkgFreeStream(stream);
    return nullptr;
  }
  request->parseIndex = static_cast<int32_t>(length + (length < name.size() && name[length] == '/' ? 1 : 0));
  return stream;
}
