#include "output/desktop_integration.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "filepkg/filepkg.h"
#include "platform/folders.h"

namespace {

constexpr const char* kDesktopId = "zerbalin.desktop";
constexpr const char* kDefaults = "Default Applications";
constexpr const char* kKept = "Kept";

std::string EnvironmentOr(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

std::string Home() { return EnvironmentOr("HOME", "/"); }

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// The type of "*.ext" in one glob list ("weight:type:pattern" lines).
std::string TypeInGlobs(const std::string& path, const std::string& pattern) {
  std::ifstream globs(path);
  std::string line;
  while (std::getline(globs, line)) {
    const size_t first = line.find(':');
    const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const size_t end = line.find(':', second + 1);
    if (Lower(line.substr(second + 1, end - second - 1)) == pattern) return line.substr(first + 1, second - first - 1);
  }
  return "";
}

} // namespace

TDesktopPlaces UserDesktopPlaces() {
  const std::string data = EnvironmentOr("XDG_DATA_HOME", Home() + "/.local/share");
  const std::string config = EnvironmentOr("XDG_CONFIG_HOME", Home() + "/.config");
  return {data + "/applications/" + kDesktopId, config + "/mimeapps.list", ConfigFolder() + "/associations.ini"};
}

std::string MimeTypeOf(std::string_view extension) {
  if (extension.size() < 2 || extension[0] != '.') return "";
  const std::string pattern = "*" + Lower(extension);
  // The user's own definitions first, then the system's.
  std::vector<std::string> folders{EnvironmentOr("XDG_DATA_HOME", Home() + "/.local/share")};
  std::stringstream system(EnvironmentOr("XDG_DATA_DIRS", "/usr/local/share:/usr/share"));
  for (std::string folder; std::getline(system, folder, ':');)
    if (!folder.empty()) folders.push_back(folder);
  for (const std::string& folder : folders)
    if (std::string type = TypeInGlobs(folder + "/mime/globs2", pattern); !type.empty()) return type;
  return "";
}

TAssociations::TAssociations(const TDesktopPlaces& places, TLineSink log)
    : m_apps(places.mimeApps), m_backup(places.backup), m_log(std::move(log)) {}

void TAssociations::Associate(const std::string& mimeType) {
  if (mimeType.empty()) return;
  const std::optional<std::string> before = m_apps.Get(kDefaults, mimeType);
  if (before && *before == kDesktopId) return;
  if (before && !before->empty()) {
    m_backup.Set(kKept, mimeType, *before);
    m_log("Saved association of " + mimeType + " files with " + *before);
  }
  m_apps.Set(kDefaults, mimeType, kDesktopId);
  m_log("Associated " + mimeType + " files with Zerbalin");
}

void TAssociations::Disassociate(const std::string& mimeType) {
  const std::optional<std::string> kept = m_backup.Get(kKept, mimeType);
  if (kept && !kept->empty() && m_apps.Set(kDefaults, mimeType, *kept)) {
    m_backup.Remove(kKept, mimeType);
    m_log("Restored association of " + mimeType + " files with " + *kept);
    return;
  }
  if (m_apps.Get(kDefaults, mimeType) != std::optional<std::string>(kDesktopId)) return;
  m_apps.Remove(kDefaults, mimeType);
  m_log("Disassociated " + mimeType + " files from Zerbalin");
}

std::vector<std::string> TAssociations::Types() const {
  std::vector<std::string> types = m_backup.Keys(kKept);
  for (const auto& [type, application] : m_apps.Entries(kDefaults))
    if (application == kDesktopId && std::find(types.begin(), types.end(), type) == types.end()) types.push_back(type);
  return types;
}

bool TAssociations::Save() {
  const bool apps = m_apps.Save();
  return m_backup.Save() && apps;
}

bool WriteMenuEntry(const TDesktopPlaces& places, const std::string& program, const std::vector<std::string>& types) {
  std::string mimeTypes;
  for (const std::string& type : types) mimeTypes += type + ";";
  const std::string text = "[Desktop Entry]\nType=Application\nName=Zerbalin\n"
                           "Comment=View, convert and show pictures\nExec=\"" +
                           program + "\" %F\nTerminal=false\nCategories=Graphics;Viewer;\nMimeType=" + mimeTypes + "\n";
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(places.menuEntry).parent_path(), ignored);
  TPkgStream* out = PkgOpen(places.menuEntry.c_str(), "wb");
  if (!out) return false;
  const bool written = PkgWrite(text.data(), 1, text.size(), out) == text.size();
  return PkgClose(out, written ? kPkgKeep : kPkgAbandon) == 0 && written;
}
