// Disk files as package byte streams.
//
// A file opened read only is mapped whole: the view is one block as large as
// the file, so a reader gets everything with a single Map and the byte reader
// never copies. Every other file, and every scratch stream, goes through a
// ring of blockCount buffers of blockSize bytes; each buffer holds one
// aligned block of the file, is read whole when a Map needs its block, and is
// written back whole when its slot is reused, truncated or closed. A scratch
// stream has no file at all until a buffer must be written out; its file is
// then made in the temporary directory and unlinked at once, so it vanishes
// with the handle whatever happens.
//
// A file opened to be created or truncated (mode 'w') is never touched while
// it is written: the new contents go into a hidden file beside it, which takes
// its name in one rename when the handle is closed after every write has
// succeeded. A writer that fails or gives up part-way therefore leaves the
// user's file exactly as it was, and a new file never shows half-written
// under its name.
#include "filepkg/pkg_diskfile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <string>

#include "filepkg/pkg_layers.h"
#include "filepkg/pkg_trash.h"

namespace {

// Scratch streams take their caller's block size and count, which may be
// those of a mapped file (the whole file as one block); these caps keep the
// ring a few buffers of sensible size.
constexpr int32_t kMaxBlockSize = 1 << 20;
constexpr int32_t kMaxBlockCount = 64;

struct TSlot {
  int64_t offset = -1; // file offset of the block held, -1 when empty
  bool dirty = false;  // holds bytes not yet written to the file
  std::unique_ptr<uint8_t[]> buffer;
};

struct TDiskFile {
  bool isTemporary = false;
  int fd = -1;
  uint8_t* view = nullptr; // the whole file, when mapped
  size_t viewSize = 0;
  int32_t blockSize = 0;
  int32_t blockCount = 0;
  int32_t currentSlot = 0;
  std::unique_ptr<TSlot[]> slots;
  bool written = false;
  bool writeFailed = false;
  int32_t openTime = 0; // the time stamp the handle started with
  // A handle of mode 'w' writes into replacementPath, which is renamed over
  // targetPath when the handle closes well; both are empty otherwise.
  std::string replacementPath;
  std::string targetPath;
};

TDiskFile* FileOf(TPkgStream* stream) { return static_cast<TDiskFile*>(stream->layerData); }

int CreateScratchFile() {
  const char* directory = std::getenv("TMPDIR");
  std::string name = directory && *directory ? directory : "/tmp";
  name += "/zerXXXXXX";
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) unlink(name.c_str());
  return fd;
}

// How many hidden names are tried before a replacement file is given up.
constexpr int kMaxReplacementNames = 100;

// Creates a new hidden file ".zer" + eight hex digits in the directory of
// target, with the given permissions (less the umask). Returns its
// descriptor and its path, or -1.
int CreateSibling(const std::string& target, mode_t permissions, std::string* path) {
  static uint32_t counter = 0;
  std::string directory = target.substr(0, target.rfind('/') + 1);
  for (int attempt = 0; attempt < kMaxReplacementNames; ++attempt) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    uint32_t salt = static_cast<uint32_t>(now.tv_nsec) ^ (++counter * 0x9e3779b9u) ^ static_cast<uint32_t>(getpid());
    char leaf[16];
    std::snprintf(leaf, sizeof(leaf), ".zer%08x", salt);
    *path = directory + leaf;
    int fd = open(path->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, permissions);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

enum class TIo { Read, Write };

// Moves exactly count bytes between data and the file at offset. A read
// that comes short means the file shrank under us, and fails.
bool MoveAll(TIo io, int fd, uint8_t* data, size_t count, off_t offset) {
  while (count > 0) {
    ssize_t done = io == TIo::Write ? pwrite(fd, data, count, offset) : pread(fd, data, count, offset);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    count -= static_cast<size_t>(done);
    offset += done;
  }
  return true;
}

bool WriteOut(TPkgStream* stream, TSlot& slot) {
  TDiskFile* file = FileOf(stream);
  if (file->fd < 0 && file->isTemporary) file->fd = CreateScratchFile();
  int64_t count = std::min<int64_t>(file->blockSize, stream->size - slot.offset);
  if (file->fd < 0 || (count > 0 && !MoveAll(TIo::Write, file->fd, slot.buffer.get(), count, slot.offset))) {
    file->writeFailed = true;
    return false;
  }
  slot.dirty = false;
  return true;
}

bool WriteOutAll(TPkgStream* stream) {
  TDiskFile* file = FileOf(stream);
  bool ok = true;
  for (int32_t i = 0; i < file->blockCount; ++i)
    if (file->slots[i].dirty && !WriteOut(stream, file->slots[i])) ok = false;
  return ok;
}

void EmptySlots(TDiskFile* file) {
  for (int32_t i = 0; i < file->blockCount; ++i) file->slots[i] = TSlot{};
}

// Makes the block at offset (a multiple of the block size, at most the size)
// the current slot: a slot already holding it, else the next slot of the
// ring, written out first when dirty and then filled from the file.
bool LoadBlock(TPkgStream* stream, int64_t offset) {
  TDiskFile* file = FileOf(stream);
  if (offset > stream->size || offset % file->blockSize != 0) return false;
  for (int32_t i = 0; i < file->blockCount; ++i) {
    int32_t index = (file->currentSlot + i) % file->blockCount;
    if (file->slots[index].offset == offset) {
      file->currentSlot = index;
      return true;
    }
  }
  file->currentSlot = (file->currentSlot + 1) % file->blockCount;
  TSlot& slot = file->slots[file->currentSlot];
  if (slot.dirty && !WriteOut(stream, slot)) return false;
  if (!slot.buffer) slot.buffer.reset(new (std::nothrow) uint8_t[file->blockSize]);
  if (!slot.buffer) return false;
  slot.offset = -1;
  int64_t count = std::min<int64_t>(file->blockSize, stream->size - offset);
  // A scratch stream without its file yet has every byte in its slots; a
  // block it does not hold there can only be zeros.
  if (count > 0 && file->fd >= 0 && !MoveAll(TIo::Read, file->fd, slot.buffer.get(), count, offset)) return false;
  if (count > 0 && file->fd < 0) std::memset(slot.buffer.get(), 0, count);
  if (stream->info.access != 'r') std::memset(slot.buffer.get() + count, 0, file->blockSize - count);
  slot.offset = offset;
  return true;
}

bool CurrentSlotHolds(const TDiskFile& file, int64_t position) {
  const TSlot& slot = file.slots[file.currentSlot];
  return slot.offset >= 0 && position >= slot.offset && position < slot.offset + file.blockSize;
}

uint8_t* FileMap(TPkgStream* stream, int forWriting, int32_t* length) {
  TDiskFile* file = FileOf(stream);
  char access = stream->info.access;
  if (stream->position < 0 || *length <= 0 || (forWriting ? access == 'r' : access == 'w')) return nullptr;
  int64_t position = stream->position;
  int64_t count = *length;
  if (!forWriting && position >= stream->size) return nullptr;
  if (!forWriting) count = std::min<int64_t>(count, stream->size - position);
  if (count <= 0) return nullptr;
  if (file->view) {
    stream->position += count;
    *length = static_cast<int32_t>(count);
    return file->view + position;
  }
  // Writing beyond the end walks block by block from the end of the data,
  // so that the gap becomes zeros in the file.
  while (!CurrentSlotHolds(*file, position)) {
    int64_t block = file->blockSize * (std::min<int64_t>(stream->size, position) / file->blockSize);
    if (!LoadBlock(stream, block)) return nullptr;
    if (forWriting) {
      stream->size = std::max<int64_t>(stream->size, block + std::min<int64_t>(file->blockSize, position - block));
      file->slots[file->currentSlot].dirty = true;
    }
  }
  TSlot& slot = file->slots[file->currentSlot];
  int64_t inBlock = position - slot.offset;
  count = std::min<int64_t>(count, file->blockSize - inBlock);
  stream->position += count;
  stream->size = std::max(stream->size, stream->position);
  if (forWriting) {
    slot.dirty = true;
    file->written = true;
    stream->info.time = PkgNow();
  }
  *length = static_cast<int32_t>(count);
  return slot.buffer.get() + inBlock;
}

int FileTruncate(TPkgStream* stream) {
  TDiskFile* file = FileOf(stream);
  if (stream->info.access == 'r' || stream->position < 0) return -1;
  // Dirty slots are written out first even for scratch streams: the bytes
  // before the new end must survive the truncation.
  if (!WriteOutAll(stream)) return -1;
  EmptySlots(file);
  if (file->fd < 0 && stream->position > 0) file->fd = CreateScratchFile();
  if (file->fd >= 0 && ftruncate(file->fd, stream->position) != 0) {
    file->writeFailed = true;
    return -1;
  }
  if (file->fd < 0 && stream->position > 0) return -1;
  stream->size = stream->position;
  file->written = true;
  stream->info.time = PkgNow();
  return 0;
}

// A handle written through, or given another time stamp, leaves the file
// with the stamp it holds; a file only read keeps its own.
bool TimeToSet(const TPkgStream* stream, const TDiskFile& file) {
  if (file.isTemporary || stream->info.access == 'r') return false;
  return (file.written || stream->info.time != file.openTime) && stream->info.time != PkgNow();
}

// Makes a rename in the directory of path last across a crash.
void SyncDirectoryOf(const std::string& path) {
  std::string directory = path.substr(0, std::max<size_t>(path.rfind('/'), 1));
  int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// Ends the writing of a replacement file: kept, it takes the target's name;
// otherwise it is removed and the target stays as it was. False when it was
// to be kept and could not take the target's place.
bool FinishReplacement(const TDiskFile& file, bool keep) {
  if (keep && rename(file.replacementPath.c_str(), file.targetPath.c_str()) == 0) {
    SyncDirectoryOf(file.targetPath);
    return true;
  }
  unlink(file.replacementPath.c_str());
  return !keep;
}

int FileClose(TPkgStream* stream, int closeMode) {
  TDiskFile* file = FileOf(stream);
  bool replacing = !file->replacementPath.empty();
  bool keep = closeMode == kPkgKeep;
  // Bytes of an abandoned write stay unwritten.
  bool failed = !file->isTemporary && closeMode != kPkgAbandon && !WriteOutAll(stream);
  file->slots.reset();
  if (file->view) munmap(file->view, file->viewSize);
  if (file->fd >= 0) {
    if (TimeToSet(stream, *file)) {
      const timespec times[2] = {{0, UTIME_OMIT}, {PkgDosRound(stream->info.time), 0}};
      if (futimens(file->fd, times) != 0) failed = true;
    }
    // The new contents must be on the disk before they take the old ones'
    // place, or a crash could leave neither.
    if (replacing && keep && !failed && !file->writeFailed && fsync(file->fd) != 0) failed = true;
    if (close(file->fd) != 0 && stream->info.access != 'r') failed = true;
  }
  if (file->writeFailed) failed = true;
  if (replacing && !FinishReplacement(*file, keep && !failed)) failed = true;
  // Deleting a file being replaced removes the old file; the new one was
  // never put in its place.
  if (closeMode == kPkgDelete && !file->isTemporary && DiskDeleteFile(stream->info.name) != 0) failed = true;
  delete file;
  return failed ? -1 : 0;
}

const TPkgOps kFileOps = {nullptr, FileMap, nullptr, FileTruncate, FileClose};

// A handle around an open file (fd -1 for a scratch stream).
TPkgStream* NewFileStream(const TPkgInfo& info, int fd, int64_t size, bool isTemporary) {
  TDiskFile* file = new (std::nothrow) TDiskFile;
  if (!file) return nullptr;
  file->isTemporary = isTemporary;
  file->fd = fd;
  file->blockSize = static_cast<int32_t>(std::clamp<uint32_t>(info.blockSize, 1, kMaxBlockSize));
  file->blockCount = static_cast<int32_t>(std::clamp<uint32_t>(info.blockCount, 1, kMaxBlockCount));
  file->slots.reset(new (std::nothrow) TSlot[file->blockCount]);
  file->openTime = info.time;
  TPkgStream* stream = file->slots ? PkgNewStream(&kFileOps, file) : nullptr;
  if (!stream) {
    delete file;
    return nullptr;
  }
  stream->info = info;
  stream->info.blockSize = file->blockSize;
  stream->info.blockCount = file->blockCount;
  stream->size = size;
  return stream;
}

// Maps a read-only file whole; one block as large as the file then serves
// every Map. An empty file cannot be mapped, and a file too large for one
// block cannot be either: both keep the ring.
void MapWhole(TPkgStream* stream) {
  TDiskFile* file = FileOf(stream);
  if (stream->size <= 0 || stream->size > INT32_MAX) return;
  void* view = mmap(nullptr, stream->size, PROT_READ, MAP_PRIVATE, file->fd, 0);
  if (view == MAP_FAILED) return;
  file->view = static_cast<uint8_t*>(view);
  file->viewSize = stream->size;
  file->blockSize = static_cast<int32_t>(stream->size);
  stream->info.blockSize = static_cast<uint32_t>(stream->size);
  stream->info.blockCount = 1;
}

// A handle around the open descriptor fd of a regular file, described by
// info with the file's size and last-write time; nullptr (fd closed) when fd
// is not a regular file.
TPkgStream* StreamForDescriptor(const TPkgInfo& info, int fd) {
  struct stat status;
  TPkgStream* stream = nullptr;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    TPkgInfo described = info;
    described.time = PkgDosRound(status.st_mtime);
    stream = NewFileStream(described, fd, status.st_size, false);
  }
  if (!stream) close(fd);
  return stream;
}

// The file a rewrite of path replaces: path itself, or for a symbolic link
// the file it points at, so that the link survives the rewrite.
std::string ReplacedFile(const char* path) {
  struct stat status;
  if (lstat(path, &status) != 0 || !S_ISLNK(status.st_mode)) return path;
  char* resolved = realpath(path, nullptr);
  std::string target = resolved ? resolved : path;
  std::free(resolved);
  return target;
}

// Opens a handle of mode 'w': an existing file must be a regular file the
// user may write; the handle writes a new hidden file beside it, which gets
// the existing file's permissions, owner and group where the user may give
// them (permissions as for any new file otherwise).
TPkgStream* OpenReplacement(const TPkgInfo& info) {
  std::string target = info.name;
  struct stat status{};
  int existing = open(info.name, O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (existing >= 0) {
    bool regular = fstat(existing, &status) == 0 && S_ISREG(status.st_mode);
    close(existing);
    if (!regular) return nullptr;
    target = ReplacedFile(info.name);
  } else if (errno != ENOENT) {
    return nullptr;
  }
  std::string replacement;
  int fd = CreateSibling(target, existing >= 0 ? status.st_mode & 07777 : 0666, &replacement);
  if (fd < 0) return nullptr;
  if (existing >= 0) {
    // Only root may give a file away; anyone else's new file stays theirs,
    // as any new file would, but then without set-user or set-group rights
    // that were meant for the other owner.
    bool ownerKept = fchown(fd, status.st_uid, status.st_gid) == 0;
    fchmod(fd, status.st_mode & (ownerKept ? 07777 : 0777));
  }
  TPkgStream* stream = StreamForDescriptor(info, fd);
  if (!stream) {
    unlink(replacement.c_str());
    return nullptr;
  }
  FileOf(stream)->replacementPath = std::move(replacement);
  FileOf(stream)->targetPath = std::move(target);
  return stream;
}

} // namespace

TPkgStream* DiskFileOpen(const TPkgInfo& info) {
  if (info.mode == 'w') return OpenReplacement(info);
  int flags = (info.access == 'r' ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  if (info.mode == '*') flags |= O_CREAT;
  int fd = open(info.name, flags, 0666);
  if (fd < 0) return nullptr;
  TPkgStream* stream = StreamForDescriptor(info, fd);
  if (stream && info.access == 'r') MapWhole(stream);
  return stream;
}

TPkgStream* PkgTempStream(int32_t blockSize, int32_t blockCount) {
  if (blockSize <= 0 || blockCount <= 0) return nullptr;
  TPkgInfo info;
  PkgSetInfo(&info, "", 'w', 'b', '*', "fil", PkgNow(), blockSize, blockCount);
  return NewFileStream(info, -1, 0, true);
}
