// The package core: parses mode strings, walks a name through the layers and
// offers the stream operations every codec uses. The layers themselves are
// reached only through the tables of pkg_layers.cpp and the operations each
// handle carries.
#include "filepkg/filepkg.h"

#include <strings.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>

#include "filepkg/pkg_layers.h"

namespace {

constexpr int32_t kOpenBlockSize = 32768;
constexpr int32_t kOpenBlockCount = 2;
// Every level either consumes a name component or wraps a stream in a
// container; a name of 511 characters cannot honestly need more levels than
// this, so a longer walk means two layers keep claiming each other.
constexpr int kMaxLevels = 1024;

void ClearWindow(TPkgStream* stream) {
  stream->windowPtr = nullptr;
  stream->windowCount = 0;
}

// The largest position a stream may reach; seeks and writes beyond it fail.
constexpr int64_t kMaxPosition = INT64_MAX / 2;

// The position a read or write of length bytes from position would reach,
// kept inside the range of positions.
int64_t TargetOf(int64_t position, size_t length) {
  return position + static_cast<int64_t>(std::min<uint64_t>(length, static_cast<uint64_t>(kMaxPosition - position)));
}

bool Enabled(const char* enableName) { return PkgGetInt(enableName) != 0; }

// Mode strings: the first character gives the mode ('r', 's', 'w' or '*'),
// then at most one type letter ('b' or 'd') and any number of '+' for read
// and write access.
bool ParseMode(const char* mode, TPkgRequest* request) {
  char first = mode[0];
  if (first != 'r' && first != 's' && first != 'w' && first != '*') return false;
  request->mode = first == 's' ? 'r' : first;
  request->searchFlag = first == 's' ? 1 : 0;
  request->access = first == 'w' ? 'w' : first == '*' ? '*' : 'r';
  char type = 0;
  for (const char* c = mode + 1; *c; ++c) {
    if (*c == '+') {
      request->access = '*';
    } else if ((*c == 'b' || *c == 'd') && type == 0) {
      type = *c;
    } else {
      return false;
    }
  }
  request->type = type ? type : 'b';
  return true;
}

bool BuildRequest(const char* name, const char* mode, TPkgRequest* request) {
  *request = TPkgRequest{};
  size_t length = std::strlen(name);
  if (length == 0 || length >= sizeof(request->name) || !ParseMode(mode, request)) return false;
  for (size_t i = 0; i < length; ++i) request->name[i] = name[i] == '\\' ? '/' : name[i];
  const char* password = static_cast<const char*>(PkgGetPtr("ZipPassword"));
  std::strncpy(request->password, password ? password : "", sizeof(request->password) - 1);
  request->blockSize = kOpenBlockSize;
  request->blockCount = kOpenBlockCount;
  return true;
}

// Marks a name that no first-level layer recognised: every layer may try it.
constexpr size_t kNoOwner = SIZE_MAX;

// Lets the first-level layers bring the name into their canonical form; the
// first one that recognises the name owns it. False when the name cannot be
// used; *owner is the owning layer's index, or kNoOwner.
bool Canonicalize(TPkgRequest* request, size_t* owner) {
  *owner = kNoOwner;
  const std::vector<TPkgFirstLevel>& levels = PkgFirstLevels();
  for (size_t i = 0; i < levels.size(); ++i) {
    if (!levels[i].Canonical || !Enabled(levels[i].enableName)) continue;
    int answer = levels[i].Canonical(request);
    if (answer == 0) continue;
    *owner = i;
    return answer > 0;
  }
  return true;
}

// Opens the first level of a name. A name that a layer recognised is opened
// only by that layer and by those that may hold any name (the cache): a URL
// that cannot be opened for writing must not turn into a disk path instead.
TPkgStream* OpenFirstLevel(TPkgRequest* request, size_t owner) {
  request->type = '*';
  const std::vector<TPkgFirstLevel>& levels = PkgFirstLevels();
  for (size_t i = 0; i < levels.size(); ++i) {
    const TPkgFirstLevel& level = levels[i];
    if (!level.OpenFirst || !Enabled(level.enableName)) continue;
    if (owner != kNoOwner && i != owner && !level.opensEveryName) continue;
    TPkgRequest attempt = *request;
    if (TPkgStream* stream = level.OpenFirst(&attempt)) {
      *request = attempt;
      return stream;
    }
  }
  return nullptr;
}

// True when the rest of a name being written starts with a component such as
// "sub.zip" that is followed by more: that component is a container file to
// be created, not a directory.
bool StartsWithContainerFile(const char* rest) {
  const char* slash = std::strchr(rest, '/');
  const char* dot = std::strchr(rest, '.');
  if (!slash || !dot || slash - dot != 4) return false;
  return strncasecmp(dot + 1, "tif", 3) == 0 || strncasecmp(dot + 1, "uue", 3) == 0 ||
         strncasecmp(dot + 1, "zip", 3) == 0;
}

// True when rest is a single component, perhaps followed by one '/'.
bool IsLastComponent(const char* rest) {
  const char* slash = std::strchr(rest, '/');
  return !slash || slash[1] == '\0';
}

// Sets mode, type and access of the request for the next level: the caller's
// own values on the last level, any type while the name goes on, and
// creation of the intermediate levels of a name being written. A level that
// is written below is read as well: a container must be read to be changed.
// A directory
// asked to be created keeps its type for its own component, so that it is
// made as a directory, and an existing file of that name is refused instead
// of being truncated by an open that is bound to fail.
//
// Returns true when a member being written names a container file followed
// by more ("sub.zip/m.gif"): such a member is opened as a byte stream, so
// that a missing one is created as a file for a container layer to claim,
// never as a folder.
bool PrepareLevel(TPkgRequest* request, const TPkgRequest& asked) {
  request->mode = asked.mode;
  request->type = asked.type;
  request->access = asked.access;
  const char* rest = request->name + request->parseIndex;
  bool createsDirectory = asked.type == 'd' && asked.mode != 'r' && IsLastComponent(rest);
  if (*rest && !createsDirectory) request->type = '*';
  if (!std::strchr(rest, '/')) return false;
  if (request->access == 'w') request->access = '*';
  if (request->mode != 'w') return false;
  request->mode = '*';
  return StartsWithContainerFile(rest);
}

// Opens the next level below current: through its own OpenMember when it has
// one (a directory-like handle), else by letting a container layer claim it.
// The byte-stream rule for container files applies to member opens only; it
// never keeps a claim from being asked.
TPkgStream* NextLevel(TPkgStream* current, TPkgRequest* request, bool containerFileMember) {
  if (current->ops->OpenMember) {
    if (containerFileMember) request->type = 'b';
    return current->ops->OpenMember(current, request);
  }
  if (request->type == 'b') return nullptr;
  for (const TPkgClaimLayer& layer : PkgClaimLayers()) {
    if (!Enabled(layer.enableName)) continue;
    if (TPkgStream* claimed = layer.Claim(current, request)) return claimed;
  }
  return nullptr;
}

bool NameConsumed(const TPkgRequest& request) {
  return request.parseIndex >= 0 && request.parseIndex < kPkgNameSize &&
         request.name[request.parseIndex] == '\0';
}

// Moves bytes between the caller's buffer and the handle, one Map at a time,
// until total bytes have moved or Map gives nothing. Exactly one of readInto
// and writeFrom is set.
size_t Transfer(TPkgStream* stream, uint8_t* readInto, const uint8_t* writeFrom, size_t total) {
  if (!stream->ops->Map) return 0;
  size_t done = 0;
  while (done < total) {
    int32_t asked = static_cast<int32_t>(std::min<size_t>(total - done, INT32_MAX));
    int32_t length = asked;
    uint8_t* data = stream->ops->Map(stream, writeFrom != nullptr, &length);
    if (!data || length <= 0) break;
    length = std::min(length, asked);
    if (writeFrom)
      std::memcpy(data, writeFrom + done, length);
    else
      std::memcpy(readInto + done, data, length);
    done += length;
  }
  return done;
}

int32_t MapOnce(uint8_t** data, int32_t length, TPkgStream* stream, int forWriting) {
  *data = nullptr;
  if (length <= 0 || !stream->ops->Map) return 0;
  int32_t available = length;
  uint8_t* mapped = stream->ops->Map(stream, forWriting, &available);
  if (!mapped || available <= 0) return 0;
  *data = mapped;
  return std::min(available, length);
}

} // namespace

TPkgStream* PkgNewStream(const TPkgOps* ops, void* layerData) {
  TPkgStream* stream = new (std::nothrow) TPkgStream{};
  if (!stream) return nullptr;
  stream->ops = ops;
  stream->layerData = layerData;
  return stream;
}

void PkgFreeStream(TPkgStream* stream) { delete stream; }

bool PkgSetInfo(TPkgInfo* info, std::string_view name, char mode, char type, char access,
                const char* layerId, int32_t time, uint32_t blockSize, uint32_t blockCount) {
  *info = TPkgInfo{};
  info->mode = mode;
  info->type = type;
  info->access = access;
  std::strncpy(info->layerId, layerId, sizeof(info->layerId) - 1);
  info->time = time;
  info->blockSize = blockSize;
  info->blockCount = blockCount;
  if (name.size() >= sizeof(info->name)) return false;
  std::memcpy(info->name, name.data(), name.size());
  return true;
}

TPkgStream* PkgOpen(const char* name, const char* mode) {
  if (!name || !mode) return nullptr;
  TPkgRequest request;
  size_t owner = kNoOwner;
  if (!BuildRequest(name, mode, &request) || !Canonicalize(&request, &owner)) return nullptr;
  const TPkgRequest asked = request;
  TPkgStream* current = OpenFirstLevel(&request, owner);
  if (!current) return nullptr;
  for (int level = 0; level < kMaxLevels; ++level) {
    bool containerFileMember = PrepareLevel(&request, asked);
    TPkgStream* next = NextLevel(current, &request, containerFileMember);
    if (!next) {
      if (NameConsumed(request) && (asked.type == '*' || asked.type == current->info.type)) {
        current->position = 0;
        ClearWindow(current);
        return current;
      }
      break;
    }
    current = next;
  }
  // Whatever the open made on its way (a file for a container, say) goes
  // again.
  PkgClose(current, kPkgAbandon);
  return nullptr;
}

int PkgClose(TPkgStream* stream, int closeMode) {
  if (!stream) return -1;
  ClearWindow(stream);
  int result = stream->ops && stream->ops->Close ? stream->ops->Close(stream, closeMode) : -1;
  PkgFreeStream(stream);
  return result;
}

int PkgGetc(TPkgStream* stream) {
  if (!stream) return -1;
  ClearWindow(stream);
  if (!stream->ops->Map || stream->position < 0 || stream->position >= kMaxPosition) return -1;
  if (PkgFill(stream, stream->position + 1) != 0) return -1;
  int64_t start = stream->position;
  int32_t length = static_cast<int32_t>(std::clamp<uint32_t>(stream->info.blockSize, 1, INT32_MAX));
  uint8_t* data = stream->ops->Map(stream, 0, &length);
  if (!data || length <= 0) return -1;
  // The rest of the mapped bytes become the read window; the position stays
  // exact, just past the byte handed out.
  stream->position = start + 1;
  stream->windowPtr = data + 1;
  stream->windowCount = length - 1;
  return data[0];
}

int PkgPutc(int byte, TPkgStream* stream) {
  if (!stream) return -1;
  ClearWindow(stream);
  if (!stream->ops->Map || stream->position < 0 || stream->position >= kMaxPosition) return -1;
  if (PkgFill(stream, stream->position + 1) != 0) return -1;
  int32_t length = 1;
  uint8_t* data = stream->ops->Map(stream, 1, &length);
  if (!data || length <= 0) return -1;
  *data = static_cast<uint8_t>(byte);
  return *data;
}

size_t PkgRead(void* buffer, size_t itemSize, size_t itemCount, TPkgStream* stream) {
  if (!stream) return 0;
  ClearWindow(stream);
  size_t total = 0;
  if (!buffer || __builtin_mul_overflow(itemSize, itemCount, &total) || total == 0) return 0;
  if (PkgFill(stream, TargetOf(stream->position, total)) != 0) return 0;
  return Transfer(stream, static_cast<uint8_t*>(buffer), nullptr, total) / itemSize;
}

size_t PkgWrite(const void* buffer, size_t itemSize, size_t itemCount, TPkgStream* stream) {
  if (!stream) return 0;
  ClearWindow(stream);
  size_t total = 0;
  if (!buffer || __builtin_mul_overflow(itemSize, itemCount, &total) || total == 0) return 0;
  PkgFill(stream, TargetOf(stream->position, total));
  return Transfer(stream, nullptr, static_cast<const uint8_t*>(buffer), total) / itemSize;
}

int32_t PkgMapRead(uint8_t** data, int32_t length, TPkgStream* stream) {
  if (!data) return 0;
  *data = nullptr;
  if (!stream) return 0;
  ClearWindow(stream);
  if (length <= 0 || PkgFill(stream, TargetOf(stream->position, length)) != 0) return 0;
  return MapOnce(data, length, stream, 0);
}

int32_t PkgMapWrite(uint8_t** data, int32_t length, TPkgStream* stream) {
  if (!data) return 0;
  *data = nullptr;
  if (!stream) return 0;
  ClearWindow(stream);
  if (length <= 0) return 0;
  PkgFill(stream, TargetOf(stream->position, length));
  return MapOnce(data, length, stream, 1);
}

int PkgSeek(TPkgStream* stream, int64_t offset, int origin) {
  if (!stream) return -1;
  ClearWindow(stream);
  if (offset < -kMaxPosition || offset > kMaxPosition) return -1;
  int64_t target = 0;
  switch (origin) {
  case 0: target = offset; break;
  case 1: target = stream->position + offset; break;
  case 2:
    if (PkgFill(stream, kMaxPosition) != 0) return -1;
    target = stream->size + offset;
    break;
  default: return -1;
  }
  // A position before the start or past the range of positions could only
  // make every later operation fail, so such a seek fails at once instead.
  if (target < 0 || target > kMaxPosition) return -1;
  if (origin != 2 && PkgFill(stream, target) != 0) return -1;
  stream->position = target;
  return 0;
}

int64_t PkgTell(TPkgStream* stream) {
  if (!stream) return -1;
  ClearWindow(stream);
  return stream->position;
}

int PkgFill(TPkgStream* stream, int64_t target) {
  if (!stream) return -1;
  ClearWindow(stream);
  while (stream->size < target) {
    if (PkgAbortRequested()) return -1;
    if (!stream->ops->Fill || stream->ops->Fill(stream) != 0) break;
  }
  return 0;
}

int PkgGetInfo(TPkgStream* stream, TPkgInfo* info) {
  if (!stream || !info) return -1;
  ClearWindow(stream);
  *info = stream->info;
  return 0;
}

int PkgSetTime(TPkgStream* stream, int32_t time) {
  if (!stream) return -1;
  ClearWindow(stream);
  stream->info.time = time;
  return 0;
}

int PkgTruncate(TPkgStream* stream) {
  if (!stream) return -1;
  ClearWindow(stream);
  return stream->ops->Truncate ? stream->ops->Truncate(stream) : -1;
}

int PkgDelete(const char* name) {
  TPkgStream* stream = PkgOpen(name, "rb+");
  if (!stream) return -1;
  return PkgClose(stream, kPkgDelete);
}

std::string PkgFullName(std::string_view name) {
  TPkgRequest request;
  size_t owner = kNoOwner;
  const std::string text(name);
  if (!BuildRequest(text.c_str(), "rb", &request) || !Canonicalize(&request, &owner)) return {};
  return request.name;
}

int PkgReadEntry(TPkgStream* stream, char* entryName) {
  if (!entryName) return 0;
  entryName[0] = '\0';
  if (PkgRead(entryName, 1, kPkgRecordSize, stream) != static_cast<size_t>(kPkgRecordSize)) {
    entryName[0] = '\0';
    return 0;
  }
  entryName[kPkgRecordSize - 1] = '\0';
  return 1;
}
