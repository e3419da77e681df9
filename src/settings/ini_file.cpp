#include "settings/ini_file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unordered_set>

namespace {

constexpr std::string_view kBlanks = " \t\r\f\v";

std::string_view Trim(std::string_view text) {
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

std::string Lowercase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// The name of a section header line "[Name]", or nothing.
std::optional<std::string_view> HeaderName(std::string_view line) {
  std::string_view text = Trim(line);
  if (text.empty() || text.front() != '[') return std::nullopt;
  size_t close = text.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(text.substr(1, close - 1));
}

// The key of a "key=value" line; empty for comments and lines without '='.
std::string_view LineKey(std::string_view line) {
  std::string_view text = Trim(line);
  if (text.empty() || text.front() == ';' || text.front() == '#') return {};
  size_t equals = text.find('=');
  if (equals == std::string_view::npos) return {};
  return Trim(text.substr(0, equals));
}

std::string_view LineValue(std::string_view line) { return Trim(line.substr(line.find('=') + 1)); }

bool StorableKey(std::string_view key) {
  return !key.empty() && key == Trim(key) && key.find_first_of("=\r\n") == std::string_view::npos &&
         key.front() != '[' && key.front() != ';' && key.front() != '#';
}

// Reads the whole file; nullopt when it exists but cannot be read in full.
std::optional<std::string> ReadWholeFile(const std::string& path) {
  // Non-blocking, so that a fifo in the file's place cannot stall the open;
  // only regular files are read.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? std::optional<std::string>("") : std::nullopt;
  struct stat info;
  std::optional<std::string> text;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && static_cast<size_t>(info.st_size) <= kMaxIniFileBytes) {
    text.emplace();
    char block[65536];
    ssize_t count;
    while ((count = read(fd, block, sizeof block)) > 0 && text) {
      text->append(block, static_cast<size_t>(count));
      if (text->size() > kMaxIniFileBytes) text.reset(); // grew while being read
    }
    if (count < 0) text.reset();
  }
  close(fd);
  return text;
}

bool MakeFolders(const std::string& folder) {
  struct stat info;
  if (folder.empty() || stat(folder.c_str(), &info) == 0) return true;
  size_t slash = folder.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(folder.substr(0, slash))) return false;
  return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t count = write(fd, text.data() + done, text.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    done += static_cast<size_t>(count);
  }
  return true;
}

// A file or folder without any write permission bit is read-only for this
// program even where the system would let it write (as the superuser).
bool ReadOnly(const struct stat& info) { return (info.st_mode & 0222) == 0; }

mode_t NewFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

} // namespace

TIniFile::TIniFile(std::string path) : m_path(std::move(path)) {
  std::optional<std::string> text = ReadWholeFile(m_path);
  if (!text) {
    m_readable = false;
    return;
  }
  m_sections.emplace_back(); // the lines before the first header
  size_t start = 0;
  while (start < text->size()) {
    size_t end = text->find('\n', start);
    if (end == std::string::npos) end = text->size();
    std::string_view line(text->data() + start, end - start);
    if (start == 0 && !line.empty() && line.back() == '\r') m_crlf = true;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::optional<std::string_view> name = HeaderName(line);
    if (name) m_sections.emplace_back(*name);
    m_lines.push_back(TLine{std::string(line), static_cast<uint32_t>(m_sections.size() - 1), name.has_value()});
    start = end + 1;
  }
}

bool TIniFile::InSection(const TLine& line, std::string_view section) const {
  return EqualNoCase(m_sections[line.section], section);
}

int TIniFile::FindKey(std::string_view section, std::string_view key) const {
  for (size_t i = 0; i < m_lines.size(); ++i) {
    const TLine& line = m_lines[i];
    if (!line.isHeader && InSection(line, section) && EqualNoCase(LineKey(line.text), key) &&
        !key.empty())
      return static_cast<int>(i);
  }
  return -1;
}

int TIniFile::EndOfSection(std::string_view section) const {
  int end = -1;
  for (size_t i = 0; i < m_lines.size(); ++i) {
    const TLine& line = m_lines[i];
    if (line.isHeader) {
      if (end >= 0) break; // only the section's first occurrence grows
      if (InSection(line, section)) end = static_cast<int>(i) + 1;
    } else if (end >= 0 && !Trim(line.text).empty()) {
      end = static_cast<int>(i) + 1;
    }
  }
  return end;
}

std::optional<std::string> TIniFile::Get(std::string_view section, std::string_view key) const {
  int index = FindKey(section, key);
  if (index < 0) return std::nullopt;
  return std::string(LineValue(m_lines[index].text));
}

std::vector<std::pair<std::string, std::string>> TIniFile::Entries(std::string_view section) const {
  std::vector<std::pair<std::string, std::string>> entries;
  std::unordered_set<std::string> seen;
  for (const TLine& line : m_lines) {
    if (line.isHeader || !InSection(line, section)) continue;
    std::string_view key = LineKey(line.text);
    if (key.empty() || !seen.insert(Lowercase(key)).second) continue;
    entries.emplace_back(key, LineValue(line.text));
  }
  return entries;
}

std::vector<std::string> TIniFile::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  for (auto& entry : Entries(section)) keys.push_back(std::move(entry.first));
  return keys;
}

bool TIniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  if (!StorableKey(key)) return false;
  value = Trim(value.substr(0, value.find_first_of("\r\n")));
  std::string text = std::string(key) + "=" + std::string(value);
  int index = FindKey(section, key);
  if (index >= 0) {
    if (m_lines[index].text == text) return true;
    m_lines[index].text = std::move(text);
  } else {
    AddSection(section);
    int end = EndOfSection(section);
    m_lines.insert(m_lines.begin() + end, TLine{std::move(text), m_lines[end - 1].section, false});
  }
  m_changed = true;
  return true;
}

void TIniFile::Remove(std::string_view section, std::string_view key) {
  if (key.empty()) return;
  size_t before = m_lines.size();
  std::erase_if(m_lines, [&](const TLine& line) {
    return !line.isHeader && InSection(line, section) && EqualNoCase(LineKey(line.text), key);
  });
  m_changed = m_changed || m_lines.size() != before;
}

void TIniFile::AddSection(std::string_view section) {
  if (EndOfSection(section) >= 0) return;
  // A blank line before the header keeps sections apart in a file that has
  // other content.
  if (!m_lines.empty() && !Trim(m_lines.back().text).empty()) m_lines.push_back(TLine{"", m_lines.back().section, false});
  m_sections.emplace_back(section);
  m_lines.push_back(TLine{"[" + std::string(section) + "]", static_cast<uint32_t>(m_sections.size() - 1), true});
  m_changed = true;
}

bool TIniFile::Save(TIniAccess access) {
  if (!m_readable) return false;
  if (!m_changed) return true;

  // Write through a symbolic link to the file it names, so a linked
  // settings file stays linked.
  std::string target = m_path;
  if (char* resolved = realpath(m_path.c_str(), nullptr)) {
    target = resolved;
    std::free(resolved);
  }
  size_t slash = target.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : target.substr(0, slash);
  std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (folder.empty()) folder = "/";

  mode_t mode = NewFileMode();
  struct stat info;
  if (stat(target.c_str(), &info) == 0) {
    if (!S_ISREG(info.st_mode) || ReadOnly(info)) return false;
    mode = info.st_mode & 07777;
  }
  if (access == TIniAccess::OwnerOnly) mode = S_IRUSR | S_IWUSR;
  if (!MakeFolders(folder) || stat(folder.c_str(), &info) != 0 || ReadOnly(info)) return false;

  std::string text;
  const char* ending = m_crlf ? "\r\n" : "\n";
  for (const TLine& line : m_lines) text += line.text + ending;

  std::string temporary = folder + "/." + name + ".XXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0) return false;
  bool written = WriteAll(fd, text) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  written = close(fd) == 0 && written;
  if (!written || rename(temporary.c_str(), target.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  // Make the rename itself durable.
  int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd >= 0) {
    fsync(folderFd);
    close(folderFd);
  }
  m_changed = false;
  return true;
}

std::string IniReadString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view defaultValue) {
  std::optional<std::string> value = TIniFile(path).Get(section, key);
  return value ? *value : std::string(defaultValue);
}

bool IniWriteString(const std::string& path, std::string_view section, std::string_view key, const char* value,
                    TIniAccess access) {
  TIniFile file(path);
  if (value) {
    if (!file.Set(section, key, value)) return false;
  } else {
    file.Remove(section, key);
  }
  return file.Save(access);
}

std::vector<std::string> IniKeys(const std::string& path, std::string_view section) {
  return TIniFile(path).Keys(section);
}
