#pragma once
// Initialisation files: sections headed "[Name]" holding "key=value" lines.
// The program keeps its settings in one, and the screen-saver password and
// activation entries in "control.ini" and "system.ini" of the configuration
// folder. Section and key names are compared without regard to case; the
// first occurrence of a key wins. Lines the program does not understand
// (comments, other sections, unknown keys, garbage) are kept as they are.
//
// Every change is written through a temporary file in the same folder that is
// flushed to disk and then renamed over the original, so a crash leaves
// either the old file or the new one, never a mixture.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Files larger than this are not read, and not rewritten either, so that the
// program never loads an unbounded amount of text nor throws away what it
// could not read.
inline constexpr size_t kMaxIniFileBytes = 1u << 20;

// Who may read a file the module writes. Shared: a new file gets the mode
// the umask allows, an existing one keeps its own. OwnerOnly: the file is
// made or rewritten with mode 0600, whatever it had (the password's file).
enum class TIniAccess { Shared, OwnerOnly };

class TIniFile {
public:
  // Reads the file. A missing file is an empty one; an unreadable or
  // oversized file reads as empty and refuses to be saved.
  explicit TIniFile(std::string path);

  const std::string& Path() const { return m_path; }

  // The value of the first matching key, without the blanks around it.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  // The keys of a section with their values, in file order, each key once
  // (with its first value).
  std::vector<std::pair<std::string, std::string>> Entries(std::string_view section) const;
  // The key names of Entries.
  std::vector<std::string> Keys(std::string_view section) const;

  // Replaces the value of the first matching key, or adds the key at the end
  // of the section (adding the section at the end of the file when needed).
  // A value is one line: it is cut at the first line break. Returns false
  // for a key name that cannot be stored (empty, or holding '=' or a line
  // break, or starting with '[' or ';').
  bool Set(std::string_view section, std::string_view key, std::string_view value);
  // Removes every line of the key in the section.
  void Remove(std::string_view section, std::string_view key);
  // Adds an empty section when the file has none of that name.
  void AddSection(std::string_view section);

  // Writes the file when something changed, with the mode access gives.
  // Creates the folder when it is missing. Returns false, leaving the file
  // as it was, when the file cannot be written (read-only file or folder,
  // full disk, unreadable original).
  bool Save(TIniAccess access = TIniAccess::Shared);

private:
  struct TLine {
    std::string text;
    uint32_t section = 0; // index into m_sections
    bool isHeader = false;
  };

  bool InSection(const TLine& line, std::string_view section) const;

  // Index of the key's first line, or -1.
  int FindKey(std::string_view section, std::string_view key) const;
  // Index after the last line of the section's first occurrence that is not
  // blank, or -1 when there is no such section. Keys are added there.
  int EndOfSection(std::string_view section) const;

  std::string m_path;
  std::vector<TLine> m_lines;
  // The name of each header in file order, after the empty name of the
  // lines before the first header.
  std::vector<std::string> m_sections;
  bool m_crlf = false;
  bool m_readable = true;
  bool m_changed = false;
};

// One-key access in the manner of the platform's profile functions: each call
// reads the file, and a change rewrites it at once.
std::string IniReadString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view defaultValue);
// A null value removes the key. Returns false when the file was not written.
bool IniWriteString(const std::string& path, std::string_view section, std::string_view key, const char* value,
                    TIniAccess access = TIniAccess::Shared);
std::vector<std::string> IniKeys(const std::string& path, std::string_view section);
