// Deleting disk files, optionally into a Trash laid out the freedesktop.org
// way that file managers share: the file moves to <trash>/files/<name>, and
// <trash>/info/<name>.trashinfo records where it came from and when it was
// deleted, so a file manager can restore it.
//
// A file can only be moved, never copied, into a trash, so every file system
// has its own. A file on the file system of the user's home trash
// ($XDG_DATA_HOME/Trash, else ~/.local/share/Trash) goes there. A file on
// any other file system goes to a trash in that file system's top directory:
// $topdir/.Trash/$uid when the administrator made $topdir/.Trash a shared
// trash (a directory, not a symbolic link, with the sticky bit), else the
// user's own $topdir/.Trash-$uid. The info files of those trashes give the
// file's path relative to $topdir, so that the trash still works when the
// file system is mounted elsewhere. Only a file for which no trash can be
// made is deleted for good, and the log says so.
#include "filepkg/pkg_trash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "core/log_sink.h"
#include "filepkg/filepkg.h"

namespace {

// How many numbered names are tried when "a.gif" is already in the trash.
constexpr int kMaxTrashNames = 10000;

std::string HomeTrash() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return std::string(data) + "/Trash";
  const char* home = std::getenv("HOME");
  if (home && home[0] == '/') return std::string(home) + "/.local/share/Trash";
  return {};
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// The path with its folder resolved (symbolic links, "." and ".."), so that
// it can be compared with the top directory of its file system; the path
// itself when its folder cannot be resolved.
std::string ResolvedPath(const std::string& path) {
  char* folder = realpath(ParentOf(path).c_str(), nullptr);
  if (!folder) return path;
  std::string resolved = folder;
  std::free(folder);
  if (resolved != "/") resolved += '/';
  return resolved + path.substr(path.rfind('/') + 1);
}

// The device of path, or of its nearest existing parent: the home trash
// need not exist yet to tell which file system it will be on.
bool DeviceOf(std::string path, dev_t* device) {
  struct stat status;
  while (stat(path.c_str(), &status) != 0) {
    if (path == "/") return false;
    path = ParentOf(path);
  }
  *device = status.st_dev;
  return true;
}

// A directory of the user's that is not a symbolic link, made private to
// the user when missing. Trashes in top directories are shared with other
// users, so one of them must not be able to hand us theirs.
bool MakeOwnDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == getuid();
}

// A trash in a top directory with its files/ and info/ folders, made when
// missing.
bool MakeTrash(const std::string& trash) {
  return MakeOwnDirectory(trash) && MakeOwnDirectory(trash + "/files") && MakeOwnDirectory(trash + "/info");
}

// Creates path and any missing parents, private to the user. The home
// trash is the user's own business: it may be a link to somewhere else.
bool MakeDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    std::string part = path.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

// The path as the trash info file wants it: percent-encoded bytes except
// letters, digits, "-._~" and '/'.
std::string EncodePath(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : path) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                 c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += kHex[c >> 4];
      encoded += kHex[c & 15];
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

bool WriteInfo(int fd, const std::string& recordedPath) {
  char date[32];
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(date, sizeof(date), "%Y-%m-%dT%H:%M:%S", &local);
  std::string text = "[Trash Info]\nPath=" + EncodePath(recordedPath) + "\nDeletionDate=" + date + "\n";
  return write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

} // namespace

std::string MountTopOf(const std::string& path) {
  std::string top = ParentOf(ResolvedPath(path));
  struct stat status;
  if (stat(top.c_str(), &status) != 0) return {};
  const dev_t device = status.st_dev;
  while (top != "/") {
    std::string parent = ParentOf(top);
    if (stat(parent.c_str(), &status) != 0 || status.st_dev != device) break;
    top = parent;
  }
  return top;
}

std::string TopDirTrash(const std::string& topDir) {
  const std::string base = topDir == "/" ? "" : topDir;
  const std::string uid = std::to_string(getuid());
  struct stat shared;
  if (lstat((base + "/.Trash").c_str(), &shared) == 0 && S_ISDIR(shared.st_mode) && (shared.st_mode & S_ISVTX) &&
      MakeTrash(base + "/.Trash/" + uid))
    return base + "/.Trash/" + uid;
  return MakeTrash(base + "/.Trash-" + uid) ? base + "/.Trash-" + uid : "";
}

bool MoveToTrash(const std::string& path, const std::string& trash, const std::string& topDir) {
  std::string recorded = path;
  if (!topDir.empty()) recorded = path.substr(topDir == "/" ? 1 : topDir.size() + 1);
  std::string leaf = path.substr(path.rfind('/') + 1);
  for (int number = 1; number <= kMaxTrashNames; ++number) {
    std::string name = TrashName(leaf, number);
    std::string info = trash + "/info/" + name + ".trashinfo";
    std::string target = trash + "/files/" + name;
    // The info file is created first and exclusively: it reserves the name.
    int fd = open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd < 0) return false;
    struct stat status;
    bool taken = lstat(target.c_str(), &status) == 0;
    bool written = !taken && WriteInfo(fd, recorded);
    close(fd);
    if (written && rename(path.c_str(), target.c_str()) == 0) return true;
    unlink(info.c_str());
    if (!taken) return false;
  }
  return false;
}

std::string TrashFor(const std::string& path, std::string* topDir) {
  topDir->clear();
  struct stat file;
  if (lstat(path.c_str(), &file) != 0) return {};
  std::string home = HomeTrash();
  dev_t homeDevice;
  if (!home.empty() && DeviceOf(home, &homeDevice) && homeDevice == file.st_dev)
    return MakeDirectories(home + "/files") && MakeDirectories(home + "/info") ? home : "";
  *topDir = MountTopOf(path);
  return topDir->empty() ? "" : TopDirTrash(*topDir);
}

int DiskDeleteFile(const char* path) {
  bool toTrash = PkgGetInt("EnableRecycleBin") != 0 && PkgGetInt("AsyncWindow") != 0;
  if (!toTrash) return unlink(path) == 0 ? 0 : -1;
  std::string resolved = ResolvedPath(path);
  std::string topDir;
  std::string trash = TrashFor(resolved, &topDir);
  if (!trash.empty() && MoveToTrash(resolved, trash, topDir)) return 0;
  if (unlink(path) != 0) return -1;
  LogMessage("Deleted %s: %s", path,
             trash.empty() ? "no trash can be made on its file system" : "it could not be moved to the trash");
  return 0;
}
