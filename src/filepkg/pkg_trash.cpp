// Deleting disk files, optionally into the user's Trash laid out the
// freedesktop.org way that file managers share: the file moves to
// <trash>/files/<name>, and <trash>/info/<name>.trashinfo records where it
// came from and when it was deleted, so a file manager can restore it. The
// trash is $XDG_DATA_HOME/Trash, else ~/.local/share/Trash.
#include "filepkg/pkg_trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "filepkg/filepkg.h"

namespace {

// How many numbered names are tried when "a.gif" is already in the trash.
constexpr int kMaxTrashNames = 10000;

std::string TrashDirectory() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return std::string(data) + "/Trash";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.local/share/Trash";
  return {};
}

// Creates path and any missing parents, private to the user.
bool MakeDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string part = path.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

// The original path as the trash info file wants it: percent-encoded bytes
// except letters, digits, "-._~" and '/'.
std::string EncodePath(const char* path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const unsigned char* c = reinterpret_cast<const unsigned char*>(path); *c; ++c) {
    bool plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') ||
                 *c == '-' || *c == '.' || *c == '_' || *c == '~' || *c == '/';
    if (plain) {
      encoded += static_cast<char>(*c);
    } else {
      encoded += '%';
      encoded += kHex[*c >> 4];
      encoded += kHex[*c & 15];
    }
  }
  return encoded;
}

// "a.gif", then "a.2.gif", "a.3.gif", ...
std::string TrashName(const std::string& leaf, int number) {
  if (number == 1) return leaf;
  size_t dot = leaf.rfind('.');
  if (dot == std::string::npos || dot == 0) dot = leaf.size();
  return leaf.substr(0, dot) + "." + std::to_string(number) + leaf.substr(dot);
}

bool WriteInfo(int fd, const char* path) {
  char date[32];
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(date, sizeof(date), "%Y-%m-%dT%H:%M:%S", &local);
  std::string text = "[Trash Info]\nPath=" + EncodePath(path) + "\nDeletionDate=" + date + "\n";
  return write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

// Moves the file into the trash under a name no other trashed file has. The
// info file is created first and exclusively: it reserves the name.
bool MoveToTrash(const char* path) {
  std::string trash = TrashDirectory();
  if (trash.empty() || !MakeDirectories(trash + "/files") || !MakeDirectories(trash + "/info")) return false;
  std::string full = path;
  std::string leaf = full.substr(full.rfind('/') + 1);
  for (int number = 1; number <= kMaxTrashNames; ++number) {
    std::string name = TrashName(leaf, number);
    std::string info = trash + "/info/" + name + ".trashinfo";
    std::string target = trash + "/files/" + name;
    int fd = open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return false;
    struct stat status;
    bool taken = lstat(target.c_str(), &status) == 0;
    bool written = !taken && WriteInfo(fd, path);
    close(fd);
    if (written && rename(path, target.c_str()) == 0) return true;
    unlink(info.c_str());
    if (!taken) return false;
  }
  return false;
}

} // namespace

int DiskDeleteFile(const char* path) {
  bool toTrash = PkgGetInt("EnableRecycleBin") != 0 && PkgGetInt("AsyncWindow") != 0;
  if (toTrash && MoveToTrash(path)) return 0;
  return unlink(path) == 0 ? 0 : -1;
}
