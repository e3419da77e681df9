#include "platform/folders.h"

#include <cstdlib>
#include <fstream>
#include <string_view>

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Without a trailing '/', so the root folder is the empty string and
// HomeFolder() + "/Pictures" is always a proper path.
std::string HomeFolder() {
  std::string home = Env("HOME");
  while (!home.empty() && home.back() == '/') home.pop_back();
  return home;
}

std::string UserConfigFolder() {
  std::string config = Env("XDG_CONFIG_HOME");
  return config.empty() ? HomeFolder() + "/.config" : config;
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// The user-dirs.dirs file is a shell fragment; a line reads
// XDG_PICTURES_DIR="$HOME/Pictures". Only "$HOME/" prefixes and absolute
// paths are meaningful there, so anything else is ignored.
std::string PicturesFromUserDirs() {
  std::ifstream file(UserConfigFolder() + "/user-dirs.dirs");
  std::string line;
  constexpr std::string_view kKey = "XDG_PICTURES_DIR=";
  while (std::getline(file, line)) {
    if (line.compare(0, kKey.size(), kKey) != 0) continue;
    std::string value = line.substr(kKey.size());
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    if (value.compare(0, 6, "$HOME/") == 0) return HomeFolder() + value.substr(5);
    if (!value.empty() && value.front() == '/') return value;
    return "";
  }
  return "";
}

} // namespace

std::string ConfigFolder() {
  std::string home = Env("ZERBALIN_HOME");
  if (!home.empty()) return WithoutTrailingSlash(home);
  return WithoutTrailingSlash(UserConfigFolder() + "/zerbalin");
}

std::string ConfigFilePath(std::string_view name) { return ConfigFolder() + "/" + std::string(name); }

std::string PicturesFolder() {
  std::string pictures = Env("XDG_PICTURES_DIR");
  if (pictures.empty()) pictures = PicturesFromUserDirs();
  if (pictures.empty()) pictures = HomeFolder() + "/Pictures";
  return WithoutTrailingSlash(pictures);
}
