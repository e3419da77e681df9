#pragma once
// The file package: the one way the program reads and writes bytes. A package
// name is a path whose first components name a disk file, a disk directory or
// an http URL, and whose further components name members inside containers,
// to any depth (/home/me/fun.zip/anim.gif/frame002.gif). Failures are
// reported by return values only: -1 for int results, nullptr for handles and
// pointers, 0 for counts. Nothing here shows messages or throws.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Room for a package name: at most 511 characters and the NUL. Longer names
// are refused, never cut, so that a name cannot end up meaning another object.
constexpr int kPkgNameSize = 512;
// Every entry of a directory listing is one record of this many bytes: the
// entry's NUL-terminated name padded with NULs.
constexpr int kPkgRecordSize = 512;

// Description of an opened object. Callers copy it out with PkgGetInfo, so
// the field widths are part of the interface.
struct TPkgInfo {
  char name[512];      // full package name, '/' separators; directories end in '/'
  char mode;           // 'r' opened existing, 'w' created or truncated, '*' opened or created
  char type;           // 'b' byte stream, 'd' directory listing, '*' not yet known
  char access;         // 'r' read only, 'w' write only, '*' read and write
  char reserved;       // zero
  char layerId[4];     // "fil", "mem", "mul", "zip", "uue", "url", "htm", "gif", "tif", "pwp", "sli"
  int32_t time;        // calendar seconds (local date and time through mktime)
  uint32_t blockSize;  // granularity of the layer's buffers; 512 for listings
  uint32_t blockCount; // number of such buffers; 1 for listings
};

// Built by PkgOpen and passed from layer to layer while the name is consumed.
struct TPkgRequest {
  char name[512];     // the full name, every '\' turned into '/'
  char mode;
  char type;
  char access;
  char reserved;
  char password[64];  // the current ZipPassword, at most 63 characters
  int32_t searchFlag; // 1 when the mode string began with 's'
  int32_t parseIndex; // offset in name of the first component not yet consumed
  int32_t blockSize;  // 32768 for every PkgOpen
  int32_t blockCount; // 2 for every PkgOpen
};

struct TPkgStream;

// What closing a handle does to the object it stands for, besides releasing
// the handle.
enum TPkgCloseMode : int {
  // Keeps what was written: a file replaced through the handle takes its new
  // bytes, a member written into a container is stored in it.
  kPkgKeep = 0,
  // Removes the object: a disk file (to the Trash when asked), a member left
  // out when its container is rewritten, an emptied container.
  kPkgDelete = 1,
  // Gives up a write: the object stays exactly as it was before the handle
  // was opened (an object the handle would have created is not created).
  // Writers close this way when they fail or are stopped.
  kPkgAbandon = 2,
};

// The five operations a layer puts into the handles it makes. Any may be
// absent: an absent operation makes the core call fail, except an absent
// Fill, which means the size is final.
struct TPkgOps {
  // Opens the next name component inside this object; nullptr when absent.
  TPkgStream* (*OpenMember)(TPkgStream* stream, TPkgRequest* request);
  // Up to *length bytes at position; stores the number available in *length,
  // advances position by it and raises size past it. nullptr at end of data
  // or when the direction is not allowed.
  uint8_t* (*Map)(TPkgStream* stream, int forWriting, int32_t* length);
  // Produces more bytes (grows size): 0 = call again, non-zero = no more.
  int (*Fill)(TPkgStream* stream);
  // Makes position the end of the data (writable streams only).
  int (*Truncate)(TPkgStream* stream);
  // Releases everything; closeMode is one of TPkgCloseMode.
  int (*Close)(TPkgStream* stream, int closeMode);
};

// One handle per opened object, created by a layer and owned by its opener
// until PkgClose.
//
// Positions and sizes are 64-bit, so that files and archives of many
// gigabytes can be read and written; a single Map still hands out at most a
// 32-bit length.
struct TPkgStream {
  int64_t position;      // current byte offset; operations fail when negative
  int64_t size;          // bytes known to exist (grows on progressive streams)
  uint8_t* windowPtr;    // read window: bytes already mapped at position
  int32_t windowCount;   // bytes left in the read window
  TPkgInfo info;
  void* layerData;       // private state of the layer, freed by its Close
  const TPkgOps* ops;
};

TPkgStream* PkgOpen(const char* name, const char* mode);
int PkgClose(TPkgStream* stream, int closeMode);
int PkgGetc(TPkgStream* stream);
int PkgPutc(int byte, TPkgStream* stream);
size_t PkgRead(void* buffer, size_t itemSize, size_t itemCount, TPkgStream* stream);
size_t PkgWrite(const void* buffer, size_t itemSize, size_t itemCount, TPkgStream* stream);
int32_t PkgMapRead(uint8_t** data, int32_t length, TPkgStream* stream);
int32_t PkgMapWrite(uint8_t** data, int32_t length, TPkgStream* stream);
int PkgSeek(TPkgStream* stream, int64_t offset, int origin);
int64_t PkgTell(TPkgStream* stream);
int PkgFill(TPkgStream* stream, int64_t target);
int PkgGetInfo(TPkgStream* stream, TPkgInfo* info);
int PkgSetTime(TPkgStream* stream, int32_t time);
int PkgTruncate(TPkgStream* stream);
int PkgDelete(const char* name);
TPkgStream* PkgTempStream(int32_t blockSize, int32_t blockCount);
int PkgSetPtr(const char* name, const void* value);
const void* PkgGetPtr(const char* name);
int PkgSetInt(const char* name, int32_t value);
int32_t PkgGetInt(const char* name);
int PkgAbortRequested();

// The byte reader every codec and layer uses to read byte by byte: bytes left
// in the read window cost no call; otherwise PkgGetc refills the window with
// one Map of up to a block. Returns 0..255, or -1 at the end of the data.
inline int PkgGetByte(TPkgStream* stream) {
  if (stream && stream->windowCount > 0) {
    --stream->windowCount;
    ++stream->position;
    return *stream->windowPtr++;
  }
  return PkgGetc(stream);
}

// The full package name of a name as PkgOpen sees it: '\' turned into '/',
// a relative disk name completed from the current directory, a web address
// in its canonical form. Empty when the name cannot be used.
std::string PkgFullName(std::string_view name);

// Reads the next record of a directory listing (a handle opened "rd") into
// entryName, which must hold kPkgRecordSize characters, and makes sure it is
// NUL-terminated. Returns 1 for an entry, 0 at the end of the listing.
int PkgReadEntry(TPkgStream* stream, char* entryName);

// The callback type of the AbortProc parameter.
using TPkgAbortProc = int (*)(const void* abortData);

// DOS date and time of the disk and ZIP layers, through the local time zone.
int32_t PkgDosToTime(uint16_t dosDate, uint16_t dosTime);
void PkgTimeToDos(int32_t time, uint16_t* dosDate, uint16_t* dosTime);
