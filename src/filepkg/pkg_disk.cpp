// The disk layer: a name such as "/home/me/pics/fun.zip/a.gif" is opened one
// component at a time, each directory handle opening the next component, so
// that the first component that is a file ends the disk's part of the name
// and the layers above take over. Components are matched exactly first and
// then without regard to case, the spelling on disk winning.
#include "filepkg/pkg_disk.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "filepkg/pkg_diskfile.h"
#include "filepkg/pkg_layers.h"
#include "filepkg/pkg_listing.h"

namespace {

enum class TDiskKind { Missing, Directory, File, Other };

struct TDiskEntry {
  TDiskKind kind = TDiskKind::Missing;
  std::string path; // the spelling on disk
  int32_t time = 0;
};

// Replaces the last component of path by an entry of its directory that
// matches it without regard to case. False when there is none.
bool FindSpelling(std::string* path) {
  size_t slash = path->rfind('/');
  if (slash == std::string::npos || slash + 1 == path->size()) return false;
  std::string directory = slash == 0 ? "/" : path->substr(0, slash);
  DIR* dir = opendir(directory.c_str());
  if (!dir) return false;
  bool found = false;
  while (dirent* entry = readdir(dir)) {
    if (strcasecmp(entry->d_name, path->c_str() + slash + 1) == 0) {
      path->replace(slash + 1, std::string::npos, entry->d_name);
      found = true;
      break;
    }
  }
  closedir(dir);
  return found;
}

// What a path is on disk. Fifos, sockets and devices are "Other": they are
// listed as system files and never opened, so that a read can never block.
TDiskEntry Describe(std::string path) {
  struct stat status;
  if (stat(path.c_str(), &status) != 0 &&
      (errno != ENOENT || !FindSpelling(&path) || stat(path.c_str(), &status) != 0))
    return {TDiskKind::Missing, path, 0};
  TDiskKind kind = S_ISDIR(status.st_mode) ? TDiskKind::Directory
                   : S_ISREG(status.st_mode) ? TDiskKind::File
                                              : TDiskKind::Other;
  return {kind, path, PkgDosRound(status.st_mtime)};
}

// The listing of a disk directory: its entries in the order the file system
// gives them, "." and ".." left out, hidden entries (names starting with '.')
// and system entries (neither file nor directory) only when asked for.
class TDiskDir final : public TPkgListing {
public:
  explicit TDiskDir(std::string name) : m_name(std::move(name)) {}
  ~TDiskDir() override { Rewind(); }

protected:
  bool Rewind() override {
    if (m_dir) closedir(m_dir);
    m_dir = nullptr;
    return true;
  }

  bool NextEntry(char* record) override {
    if (!m_dir && !(m_dir = opendir(m_name.c_str()))) return false;
    bool hidden = PkgGetInt("EnableHiddenFiles") != 0;
    bool system = PkgGetInt("EnableSystemFiles") != 0;
    while (dirent* entry = readdir(m_dir)) {
      const char* name = entry->d_name;
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
      if (name[0] == '.' && !hidden) continue;
      TDiskKind kind = KindOf(*entry);
      if (kind == TDiskKind::Other && !system) continue;
      // An entry whose full name does not fit in a record could only be
      // listed cut short, that is under the name of something else.
      size_t length = m_name.size() + std::strlen(name) + (kind == TDiskKind::Directory ? 1 : 0);
      if (length >= static_cast<size_t>(kPkgRecordSize)) continue;
      std::string full = m_name + name;
      if (kind == TDiskKind::Directory) full += '/';
      std::memcpy(record, full.data(), full.size());
      return true;
    }
    Rewind();
    return false;
  }

private:
  TDiskKind KindOf(const dirent& entry) const {
    if (entry.d_type == DT_DIR) return TDiskKind::Directory;
    if (entry.d_type == DT_REG) return TDiskKind::File;
    // Symbolic links count as what they point at; a broken one is a system
    // entry.
    struct stat status;
    if (fstatat(dirfd(m_dir), entry.d_name, &status, 0) != 0) return TDiskKind::Other;
    return S_ISDIR(status.st_mode) ? TDiskKind::Directory
           : S_ISREG(status.st_mode) ? TDiskKind::File
                                      : TDiskKind::Other;
  }

  std::string m_name; // ends in '/'
  DIR* m_dir = nullptr;
};

TPkgStream* DirOpenMember(TPkgStream* dir, TPkgRequest* request);

int DirClose(TPkgStream* stream, int closeMode) {
  delete static_cast<TDiskDir*>(stream->layerData);
  // Directories are never deleted through the package.
  return closeMode == kPkgDelete ? -1 : 0;
}

const TPkgOps kDirOps = {DirOpenMember, TPkgListing::Map, TPkgListing::Fill, nullptr, DirClose};

// A directory handle for path ("/" or "/x/y" without a trailing '/').
TPkgStream* NewDirHandle(const std::string& path, char mode, char access, int32_t time) {
  std::string name = path == "/" ? path : path + '/';
  TDiskDir* listing = new (std::nothrow) TDiskDir(name);
  if (!listing) return nullptr;
  TPkgStream* stream = PkgNewStream(&kDirOps, listing);
  if (!stream || !PkgSetInfo(&stream->info, name, mode, 'd', access, "fil", time, kPkgRecordSize, 1)) {
    delete listing;
    PkgFreeStream(stream);
    return nullptr;
  }
  return stream;
}

TPkgStream* NewFileHandle(const std::string& path, const TPkgRequest& request, char access) {
  TPkgInfo info;
  if (!PkgSetInfo(&info, path, request.mode, 'b', access, "fil", 0, request.blockSize, request.blockCount))
    return nullptr;
  return DiskFileOpen(info);
}

// The path a component names inside the directory dirName ("/" or "/x/y/").
// "." and an empty component (from "a//b") stay in the directory, ".." goes
// to its parent but never above the root.
std::string MemberPath(std::string_view dirName, std::string_view component) {
  std::string base(dirName.size() > 1 ? dirName.substr(0, dirName.size() - 1) : dirName);
  if (component.empty() || component == ".") return base;
  if (component == "..") {
    size_t slash = base.rfind('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : base.substr(0, slash);
  }
  return std::string(dirName) + std::string(component);
}

bool IsNavigation(std::string_view component) {
  return component.empty() || component == "." || component == "..";
}

// Opens an object that exists. While the name goes on, a write request opens
// this level for reading and writing; on the last component a requested type
// must be the type found.
TPkgStream* OpenExisting(const TDiskEntry& entry, const TPkgRequest& request, bool more) {
  if (entry.kind == TDiskKind::Other) return nullptr;
  char type = entry.kind == TDiskKind::Directory ? 'd' : 'b';
  if (!more && request.type != '*' && request.type != type) return nullptr;
  char access = more && request.access != 'r' ? '*' : request.access;
  if (type == 'd') return NewDirHandle(entry.path, request.mode, access, entry.time);
  return NewFileHandle(entry.path, request, access);
}

// Creates a missing object for writing: a component followed by more becomes
// a directory, unless it has a '.' ("new/sub.zip/m.gif" makes the file
// sub.zip for the layer above to fill); the last component becomes a file,
// or a directory when one was asked for.
TPkgStream* CreateMissing(const std::string& path, std::string_view component, const TPkgRequest& request,
                          bool more) {
  if (request.mode == 'r' || IsNavigation(component)) return nullptr;
  bool directory = more ? component.find('.') == std::string_view::npos : request.type == 'd';
  if (!directory) return NewFileHandle(path, request, request.access);
  if (mkdir(path.c_str(), 0777) != 0) return nullptr;
  return NewDirHandle(path, request.mode, request.access, PkgNow());
}

bool OneOf(char c, const char* choices) { return c != '\0' && std::strchr(choices, c) != nullptr; }

bool ValidRequest(const TPkgRequest& request) {
  return OneOf(request.mode, "rw*") && OneOf(request.type, "bd*") && OneOf(request.access, "rw*") &&
         request.blockSize > 0 && request.blockCount > 0 && request.parseIndex >= 0 &&
         request.parseIndex < kPkgNameSize;
}

// Opens the next component of the name inside a directory handle. On success
// the directory handle is closed and the member's handle returned; on failure
// the directory handle is left as it was.
TPkgStream* DirOpenMember(TPkgStream* dir, TPkgRequest* request) {
  if (!ValidRequest(*request)) return nullptr;
  const char* rest = request->name + request->parseIndex;
  if (*rest == '\0') return nullptr;
  size_t length = std::strcspn(rest, "/");
  std::string_view component(rest, length);
  int32_t nextIndex = request->parseIndex + static_cast<int32_t>(length) + (rest[length] == '/' ? 1 : 0);
  bool more = request->name[nextIndex] != '\0';
  std::string path = MemberPath(dir->info.name, component);
  // A directory's name also needs room for its trailing '/'; its handle
  // refuses a name that does not fit.
  if (path.size() >= static_cast<size_t>(kPkgNameSize)) return nullptr;
  TDiskEntry entry = Describe(path);
  TPkgStream* member = entry.kind == TDiskKind::Missing ? CreateMissing(path, component, *request, more)
                                                        : OpenExisting(entry, *request, more);
  if (!member) return nullptr;
  request->parseIndex = nextIndex;
  PkgClose(dir, 0);
  return member;
}

} // namespace

int DiskMakeAbsolute(TPkgRequest* request) {
  if (request->name[0] == '/') return 1;
  char current[PATH_MAX];
  if (!getcwd(current, sizeof(current)) || current[0] != '/') return -1;
  std::string name = current;
  if (name.back() != '/') name += '/';
  name += request->name;
  if (name.size() >= sizeof(request->name)) return -1;
  std::memcpy(request->name, name.c_str(), name.size() + 1);
  return 1;
}

TPkgStream* DiskOpenFirst(TPkgRequest* request) {
  if (request->name[0] != '/' && DiskMakeAbsolute(request) < 0) return nullptr;
  TPkgStream* root = NewDirHandle("/", 'r', 'r', PkgNow());
  if (root) request->parseIndex = 1;
  return root;
}
