// The URL name test. A name is a URL when it starts with "http://" or
// "https://", or when its first component looks like a host name: more than
// three characters with at least two dots, and either only digits and dots
// (a numeric address), or ending in a dot and "com", "edu", "net", "org" or
// "gov", or in a dot and two letters (a country domain).
#include "filepkg/pkg_url.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

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
