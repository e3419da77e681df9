// Disk files as package byte streams.
//
// Every file, and every scratch stream, goes through a ring of blockCount
// buffers of blockSize bytes; each buffer holds one aligned block of the
// file, is read whole with pread when a Map needs its block, and is written
// back whole when its slot is reused, truncated or closed. Reading never
// maps the file into memory: a file that another program cuts short while
// it is open then simply ends at its new end, where a mapping would kill the
// process with SIGBUS. A file opened read only takes blocks of up to
// kReadBlock bytes, so that a small file is one block served by a single Map
// and a large one is read in the large pieces the kernel copies fastest.
//
// A scratch stream has no file at all until a buffer must be written out;
// its file is then made in the temporary directory and unlinked at once, so
// it vanishes with the handle whatever happens.
//
// A file opened to be created or truncated (mode 'w') is saved the way GLib
// replaces files, so that a save costs nothing extra where nothing can be
// lost and never loses the user's file where something can:
// - a new file is written directly under its name; a handle that does not
//   close well removes it again;
// - an existing file is left alone while the new bytes go into a hidden file
//   beside it (".NAME.zer-XXXXXX"), which is flushed to the disk and renamed
//   over it at a good close, with the old file's permissions and owner; a
//   symbolic link is followed, so the link stays and its target is replaced;
// - where no such file can take the old one's place (the folder is not
//   writable, the owner cannot be kept, the file has other hard links) the
//   new bytes are prepared completely in scratch space first and written
//   over the file in place at a good close.
// A hidden file left behind by a save that was killed is removed the next
// time that target is saved; a save in progress holds a lock on its hidden
// file, so that another process's cleanup leaves it alone.
#include "filepkg/pkg_diskfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "core/pixel_memory.h"
#include "filepkg/pkg_layers.h"
#include "filepkg/pkg_trash.h"

namespace {

// Scratch streams take their caller's block size and count; these caps keep
// the ring a few buffers of sensible size.
constexpr int32_t kMaxBlockSize = 1 << 21;
constexpr int32_t kMaxBlockCount = 64;
// The largest block of a file opened read only: large enough that the cost
// of each read call vanishes beside the copy out of the page cache (with
// 128 KiB blocks a reader took 1.3 times as long as cat, with these about as
// long), small enough that the ring stays in the processor's cache.
constexpr int32_t kReadBlock = 512 * 1024;
// A file name may have at most this many bytes; the hidden file of a save
// keeps as much of its target's name as fits.
constexpr size_t kMaxLeafLength = 255;
constexpr char kSiblingMark[] = ".zer-";
constexpr char kUniqueTail[] = "XXXXXX";

// How the bytes written through a handle reach the file it names.
enum class TSaveKind {
  Direct,      // into the file itself: handles of modes 'r' and '*'
  Scratch,     // into an unnamed temporary file (PkgTempStream)
  NewFile,     // mode 'w' with no file yet: under its name, removed unless kept
  Replacement, // mode 'w' on a file: into a hidden sibling renamed over it
  InPlace,     // mode 'w' on a file: into scratch space, copied over it
};

// A slot's buffer: large ones are mapped for huge pages, so that filling a
// scratch stream of many megabytes costs a few page faults.
struct TBlockFree {
  size_t bytes = 0;
  void operator()(uint8_t* block) const noexcept { FreePixels(block, bytes); }
};
using TBlock = std::unique_ptr<uint8_t[], TBlockFree>;

TBlock NewBlock(size_t bytes) {
  try {
    return TBlock(static_cast<uint8_t*>(AllocatePixels(bytes)), TBlockFree{bytes});
  } catch (const std::bad_alloc&) {
    return TBlock(nullptr, TBlockFree{bytes});
  }
}

struct TSlot {
  int64_t offset = -1; // file offset of the block held, -1 when empty
  bool dirty = false;  // holds bytes not yet written to the file
  TBlock buffer;
};

struct TDiskFile {
  TSaveKind save = TSaveKind::Direct;
  // The file the ring reads and writes; -1 for scratch space that has not
  // needed a file yet.
  int fd = -1;
  // The file reported a size of 0 when it was opened (procfs, some FUSE file
  // systems): its bytes are read until its end whatever its size says.
  bool growing = false;
  int32_t blockSize = 0;
  int32_t blockCount = 0;
  int32_t currentSlot = 0;
  std::unique_ptr<TSlot[]> slots;
  bool written = false;
  bool writeFailed = false;
  int32_t openTime = 0; // the time stamp the handle started with
  // NewFile and Replacement: the file saved. Replacement: the hidden file
  // written, and the permissions it takes at the end.
  std::string targetPath;
  std::string siblingPath;
  mode_t targetMode = 0;
  // InPlace: the file that the prepared bytes are written over.
  int targetFd = -1;
};

TDiskFile* FileOf(TPkgStream* stream) { return static_cast<TDiskFile*>(stream->layerData); }

bool HoldsScratchSpace(const TDiskFile& file) {
  return file.save == TSaveKind::Scratch || file.save == TSaveKind::InPlace;
}

int CreateScratchFile() {
  const char* directory = std::getenv("TMPDIR");
  std::string name = directory && *directory ? directory : "/tmp";
  name += "/zerXXXXXX";
  int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) unlink(name.c_str());
  return fd;
}

enum class TIo { Read, Write };

// Moves count bytes between data and the file at offset. Returns the number
// moved, which is short only when a read met the end of the file, or -1.
int64_t Move(TIo io, int fd, uint8_t* data, int64_t count, int64_t offset) {
  int64_t done = 0;
  while (done < count) {
    ssize_t n = io == TIo::Write ? pwrite(fd, data + done, count - done, offset + done)
                                 : pread(fd, data + done, count - done, offset + done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (n == 0 && io == TIo::Write)) return -1;
    if (n == 0) break;
    done += n;
  }
  return done;
}

bool WriteOut(TPkgStream* stream, TSlot& slot) {
  TDiskFile* file = FileOf(stream);
  if (file->fd < 0 && HoldsScratchSpace(*file)) file->fd = CreateScratchFile();
  int64_t count = std::min<int64_t>(file->blockSize, stream->size - slot.offset);
  if (file->fd < 0 || (count > 0 && Move(TIo::Write, file->fd, slot.buffer.get(), count, slot.offset) != count)) {
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

// Reads the block at offset into buffer. A file that gives fewer bytes than
// its size promised was cut short by someone else, and a file of unknown
// size has ended: either way its data ends where the bytes did.
bool ReadBlock(TPkgStream* stream, uint8_t* buffer, int64_t offset) {
  TDiskFile* file = FileOf(stream);
  int64_t count = file->growing ? file->blockSize : std::min<int64_t>(file->blockSize, stream->size - offset);
  if (count <= 0) return true;
  // Scratch space without its file yet has every byte in its slots; a block
  // it does not hold there can only be zeros.
  if (file->fd < 0) {
    std::memset(buffer, 0, count);
    return true;
  }
  int64_t got = Move(TIo::Read, file->fd, buffer, count, offset);
  if (got < 0) return false;
  if (got < count) {
    stream->size = offset + got;
    file->growing = false;
  } else if (file->growing) {
    stream->size = std::max(stream->size, offset + got);
  }
  return true;
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
  const bool zeroed = !slot.buffer && NewPixelsAreZero(static_cast<size_t>(file->blockSize));
  if (!slot.buffer) slot.buffer = NewBlock(static_cast<size_t>(file->blockSize));
  if (!slot.buffer) return false;
  slot.offset = -1;
  if (!ReadBlock(stream, slot.buffer.get(), offset)) return false;
  // Bytes past the end read as zeros in a stream that may be written.
  if (stream->info.access != 'r' && !zeroed) {
    int64_t count = std::clamp<int64_t>(stream->size - offset, 0, file->blockSize);
    std::memset(slot.buffer.get() + count, 0, file->blockSize - count);
  }
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
  if (!forWriting && position >= stream->size) return nullptr;
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
  // Loading the block may have found the file shorter than it was.
  if (!forWriting && position >= stream->size) return nullptr;
  TSlot& slot = file->slots[file->currentSlot];
  int64_t inBlock = position - slot.offset;
  int64_t count = std::min<int64_t>(*length, file->blockSize - inBlock);
  if (!forWriting) count = std::min(count, stream->size - position);
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

// Reads the next block of a file whose size was unknown: 0 while more may
// come, 1 at its end.
int FileFill(TPkgStream* stream) {
  TDiskFile* file = FileOf(stream);
  if (!file->growing || !LoadBlock(stream, stream->size)) return 1;
  return file->growing ? 0 : 1;
}

int FileTruncate(TPkgStream* stream) {
  TDiskFile* file = FileOf(stream);
  if (stream->info.access == 'r' || stream->position < 0) return -1;
  // Dirty slots are written out first even for scratch space: the bytes
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

// A handle written through, or given another time stamp, leaves the file fd
// with the stamp it holds; a file only read keeps its own.
bool SetTime(const TPkgStream* stream, const TDiskFile& file, int fd) {
  if (stream->info.access == 'r') return true;
  bool wanted = (file.written || stream->info.time != file.openTime) && stream->info.time != PkgNow();
  const timespec times[2] = {{0, UTIME_OMIT}, {PkgDosRound(stream->info.time), 0}};
  return !wanted || futimens(fd, times) == 0;
}

// Gives the file fd room for newSize bytes before any of its oldSize bytes
// is overwritten: it is lengthened first (which a file size limit refuses)
// and its blocks are allocated (which a full disk refuses). Either refusal
// puts the old size back, so the file stays as it was.
bool ReserveRoom(int fd, int64_t oldSize, int64_t newSize) {
  if (newSize <= oldSize) return true;
  if (ftruncate(fd, newSize) != 0) return false;
  if (fallocate(fd, 0, oldSize, newSize - oldSize) == 0 || errno == EOPNOTSUPP) return true;
  ftruncate(fd, oldSize);
  return false;
}

// Writes the prepared bytes over the file being saved in place, block by
// block through the ring, and cuts the file at their end.
bool CopyOver(TPkgStream* stream) {
  TDiskFile* file = FileOf(stream);
  struct stat status;
  if (fstat(file->targetFd, &status) != 0 || !ReserveRoom(file->targetFd, status.st_size, stream->size))
    return false;
  for (int64_t offset = 0; offset < stream->size; offset += file->blockSize) {
    if (!LoadBlock(stream, offset)) return false;
    int64_t count = std::min<int64_t>(file->blockSize, stream->size - offset);
    if (Move(TIo::Write, file->targetFd, file->slots[file->currentSlot].buffer.get(), count, offset) != count)
      return false;
  }
  return ftruncate(file->targetFd, stream->size) == 0;
}

// Puts everything written through a handle that closes well into its file.
// A new version of an existing file is on the disk before it takes the old
// one's place, so that a crash leaves one of the two whole.
bool Finish(TPkgStream* stream) {
  TDiskFile* file = FileOf(stream);
  switch (file->save) {
  case TSaveKind::Scratch: return true;
  case TSaveKind::Direct:
  case TSaveKind::NewFile: return WriteOutAll(stream) && SetTime(stream, *file, file->fd);
  case TSaveKind::Replacement:
    return WriteOutAll(stream) && SetTime(stream, *file, file->fd) && fchmod(file->fd, file->targetMode) == 0 &&
           fsync(file->fd) == 0;
  case TSaveKind::InPlace:
    return CopyOver(stream) && SetTime(stream, *file, file->targetFd) && fsync(file->targetFd) == 0;
  }
  return false;
}

// Removes the file at path if it is still the one open as fd, so that a
// file someone else has put under that name in the meantime stays.
void RemoveIfStill(const std::string& path, int fd) {
  struct stat opened, named;
  if (fstat(fd, &opened) == 0 && lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
      opened.st_ino == named.st_ino)
    unlink(path.c_str());
}

// Ends a save of a new or existing file: a file written that is not kept is
// removed, and a replacement that is kept takes its target's name. This is
// done while the handle still holds the file open (and a replacement's
// lock), so that no cleanup by another save can take it away meanwhile.
// False when a file to be kept could not take its name.
bool SettleSave(const TDiskFile& file, bool kept) {
  if (file.save == TSaveKind::NewFile && !kept) RemoveIfStill(file.targetPath, file.fd);
  if (file.save != TSaveKind::Replacement) return true;
  if (kept && rename(file.siblingPath.c_str(), file.targetPath.c_str()) == 0) return true;
  unlink(file.siblingPath.c_str());
  return !kept;
}

int FileClose(TPkgStream* stream, int closeMode) {
  TDiskFile* file = FileOf(stream);
  // Bytes of an abandoned write stay unwritten, and so do the bytes of an
  // object about to be deleted.
  bool kept = closeMode == kPkgKeep && Finish(stream) && !file->writeFailed;
  bool failed = closeMode == kPkgKeep ? !kept : file->writeFailed;
  file->slots.reset();
  if (!SettleSave(*file, kept)) failed = true;
  if (file->fd >= 0 && close(file->fd) != 0 && stream->info.access != 'r' && kept) failed = true;
  if (file->targetFd >= 0 && close(file->targetFd) != 0 && kept) failed = true;
  // Deleting removes the file the handle was opened on; a new file the
  // handle made was removed above, as it is for any close that does not keep.
  if (closeMode == kPkgDelete && file->save != TSaveKind::Scratch && file->save != TSaveKind::NewFile &&
      DiskDeleteFile(stream->info.name) != 0)
    failed = true;
  delete file;
  return failed ? -1 : 0;
}

const TPkgOps kFileOps = {nullptr, FileMap, nullptr, FileTruncate, FileClose};
const TPkgOps kGrowingFileOps = {nullptr, FileMap, FileFill, FileTruncate, FileClose};

// A handle around an open file (fd -1 for scratch space) with the block size
// and count of info, kept within the caps.
TPkgStream* NewFileStream(const TPkgInfo& info, int fd, int64_t size, TSaveKind save) {
  TDiskFile* file = new (std::nothrow) TDiskFile;
  if (!file) return nullptr;
  file->save = save;
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

// The blocks of a file opened read only: one block for a file that fits in
// kReadBlock, else a ring of blocks of that size. A file that reports no
// size keeps the request's ring and is read until its end.
void SetReadBlocks(TPkgInfo* info, int64_t size) {
  if (size <= 0) return;
  info->blockSize = static_cast<uint32_t>(std::min<int64_t>(size, kReadBlock));
  if (size <= kReadBlock) info->blockCount = 1;
}

// A handle of save kind save around the open descriptor fd, described by
// info with the file's size and last-write time; nullptr (fd closed) when fd
// is not a regular file.
TPkgStream* StreamForDescriptor(const TPkgInfo& info, int fd, TSaveKind save) {
  struct stat status;
  TPkgStream* stream = nullptr;
  if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
    TPkgInfo described = info;
    described.time = PkgDosRound(status.st_mtime);
    if (info.access == 'r') SetReadBlocks(&described, status.st_size);
    stream = NewFileStream(described, fd, status.st_size, save);
  }
  if (!stream) close(fd);
  return stream;
}

TPkgStream* OpenNewFile(const TPkgInfo& info, const std::string& target);

// Opens a file of mode 'r' or '*'. A file that mode '*' creates is a new
// file like those of saves: it is removed again unless its handle is kept,
// so that an open or a write given up leaves nothing behind.
TPkgStream* OpenExistingFile(const TPkgInfo& info) {
  int flags = (info.access == 'r' ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = open(info.name, flags, 0666);
  if (fd < 0) return info.mode == '*' && errno == ENOENT ? OpenNewFile(info, info.name) : nullptr;
  TPkgStream* stream = StreamForDescriptor(info, fd, TSaveKind::Direct);
  if (stream && info.access == 'r') {
    posix_fadvise(FileOf(stream)->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (stream->size == 0) {
      FileOf(stream)->growing = true;
      stream->ops = &kGrowingFileOps;
    }
  }
  return stream;
}

// The hidden files of saves of the file leaf: "." + leaf + ".zer-", the
// leaf cut so that six more characters still make a valid name.
std::string SiblingPrefix(const std::string& leaf) {
  size_t room = kMaxLeafLength - 1 - (sizeof(kSiblingMark) - 1) - (sizeof(kUniqueTail) - 1);
  return "." + leaf.substr(0, room) + kSiblingMark;
}

bool IsUniqueTail(const char* tail) {
  size_t length = std::strlen(tail);
  if (length != sizeof(kUniqueTail) - 1) return false;
  for (size_t i = 0; i < length; ++i)
    if (!std::isalnum(static_cast<unsigned char>(tail[i]))) return false;
  return true;
}

// Removes the hidden files that saves of the file leaf in the folder
// directory left behind when they were killed: regular files of the user
// that no running save holds locked.
void RemoveStaleSiblings(const std::string& directory, const std::string& leaf) {
  DIR* dir = opendir(directory.c_str());
  if (!dir) return;
  const std::string prefix = SiblingPrefix(leaf);
  while (dirent* entry = readdir(dir)) {
    if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0 || !IsUniqueTail(entry->d_name + prefix.size()))
      continue;
    int fd = openat(dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) continue;
    struct stat status;
    bool stale = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == geteuid() &&
                 flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (stale) unlinkat(dirfd(dir), entry->d_name, 0);
    close(fd);
  }
  closedir(dir);
}

// Creates the hidden file of a save of target beside it, locked for as long
// as the save runs. Returns its descriptor and path, or -1 with errno set.
int CreateSibling(const std::string& target, std::string* path) {
  size_t slash = target.rfind('/');
  *path = target.substr(0, slash + 1) + SiblingPrefix(target.substr(slash + 1)) + kUniqueTail;
  int fd = mkostemp(path->data(), O_CLOEXEC);
  if (fd >= 0) flock(fd, LOCK_EX | LOCK_NB);
  return fd;
}

// The file a save of path writes: path itself, or for a symbolic link the
// file it points at, so that the link survives the save. Empty for a link
// that points nowhere.
std::string SavedFile(const char* path) {
  struct stat status;
  if (lstat(path, &status) != 0 || !S_ISLNK(status.st_mode)) return path;
  char* resolved = realpath(path, nullptr);
  std::string target = resolved ? resolved : "";
  std::free(resolved);
  return target;
}

// A save of a name with no file yet: the file is made at once and written
// directly.
TPkgStream* OpenNewFile(const TPkgInfo& info, const std::string& target) {
  int fd = open(target.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return nullptr;
  TPkgStream* stream = StreamForDescriptor(info, fd, TSaveKind::NewFile);
  if (!stream) {
    unlink(target.c_str());
    return nullptr;
  }
  FileOf(stream)->targetPath = target;
  return stream;
}

// A save of the existing file target through a hidden file beside it, which
// takes the old file's owner and group now and its permissions at the end.
// nullptr with fallBack set when the file must be saved in place instead.
TPkgStream* OpenReplacement(const TPkgInfo& info, const std::string& target, const struct stat& old,
                            bool* fallBack) {
  std::string sibling;
  int fd = CreateSibling(target, &sibling);
  if (fd < 0) {
    *fallBack = errno == EACCES || errno == EPERM;
    return nullptr;
  }
  // Only root may give a file away, and only a member of the old file's
  // group may give it that group; anyone else saves in place, so that the
  // file keeps its owner and group.
  if (fchown(fd, old.st_uid, old.st_gid) != 0) {
    close(fd);
    unlink(sibling.c_str());
    *fallBack = true;
    return nullptr;
  }
  TPkgStream* stream = StreamForDescriptor(info, fd, TSaveKind::Replacement);
  if (!stream) {
    unlink(sibling.c_str());
    return nullptr;
  }
  FileOf(stream)->targetPath = target;
  FileOf(stream)->siblingPath = std::move(sibling);
  FileOf(stream)->targetMode = old.st_mode & 07777;
  return stream;
}

// A save of the file open as targetFd in place: the handle writes into
// scratch space, copied over the file only at a good close.
TPkgStream* OpenInPlace(const TPkgInfo& info, int targetFd) {
  TPkgInfo described = info;
  described.time = PkgNow();
  TPkgStream* stream = NewFileStream(described, -1, 0, TSaveKind::InPlace);
  if (!stream) {
    close(targetFd);
    return nullptr;
  }
  FileOf(stream)->targetFd = targetFd;
  return stream;
}

// Opens a handle of mode 'w'. An existing file must be a regular file the
// user may write.
TPkgStream* OpenForSave(const TPkgInfo& info) {
  std::string target = SavedFile(info.name);
  if (target.empty()) return nullptr;
  int targetFd = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (targetFd < 0) return errno == ENOENT ? OpenNewFile(info, target) : nullptr;
  struct stat old;
  if (fstat(targetFd, &old) != 0 || !S_ISREG(old.st_mode)) {
    close(targetFd);
    return nullptr;
  }
  size_t slash = target.rfind('/');
  RemoveStaleSiblings(target.substr(0, std::max<size_t>(slash, 1)), target.substr(slash + 1));
  // A rename would part the file from its other hard links.
  bool fallBack = old.st_nlink > 1;
  if (!fallBack) {
    if (TPkgStream* stream = OpenReplacement(info, target, old, &fallBack)) {
      close(targetFd);
      return stream;
    }
  }
  if (fallBack) return OpenInPlace(info, targetFd);
  close(targetFd);
  return nullptr;
}

} // namespace

TPkgStream* DiskFileOpen(const TPkgInfo& info) {
  return info.mode == 'w' ? OpenForSave(info) : OpenExistingFile(info);
}

TPkgStream* PkgTempStream(int32_t blockSize, int32_t blockCount) {
  if (blockSize <= 0 || blockCount <= 0) return nullptr;
  TPkgInfo info;
  PkgSetInfo(&info, "", 'w', 'b', '*', "fil", PkgNow(), blockSize, blockCount);
  return NewFileStream(info, -1, 0, TSaveKind::Scratch);
}
