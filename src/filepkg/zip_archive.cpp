// The records of a ZIP archive.
//
// An archive, as it is read and written here (all numbers little-endian):
//   per member: local header (30 bytes: signature "PK\3\4", version, flags,
//     method, DOS time and date, CRC-32, compressed and uncompressed size,
//     name and extra lengths), the name, the extra field, the data, and with
//     flag bit 3 a data descriptor after the data;
//   the central directory: one header per member (46 bytes: signature
//     "PK\1\2", versions, flags, method, time, date, CRC-32, sizes, name,
//     extra and comment lengths, disk, attributes, offset of the local
//     header), each followed by name, extra field and comment;
//   for ZIP64 archives, a ZIP64 end record ("PK\6\6") and its locator
//     ("PK\6\7"), which hold the counts, sizes and offsets that do not fit in
//     16 or 32 bits (those fields then read 0xFFFF or 0xFFFFFFFF, and the
//     members' ZIP64 extra fields carry their sizes and offsets);
//   the end record ("PK\5\6", 22 bytes and a comment of up to 65535 bytes).
//
// The central directory is read once, whole: listing an archive of 100,000
// members, or opening one member of it, never walks the others. Its sizes
// serve members written with flag bit 3, whose local headers hold zeros. A self-extracting archive has code in front: the
// offsets of its directory are corrected by the distance between where the
// directory is and where the end record says it is. An archive without an
// end record (cut short) is read by walking its local headers instead.
//
// Names with flag bit 11 are UTF-8; other names with bytes of 0x80 or above
// are code page 437, as MS-DOS wrote them, and are turned into UTF-8. An
// Info-ZIP Unicode path field (0x7075) that matches the name gives the name.
#include "filepkg/zip_archive.h"

#include <strings.h>
#include <sys/random.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/utf8.h"

namespace {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kDescriptorSignature = 0x08074b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndSize = 22;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kMaxCommentSize = 65535;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint16_t kUnicodePathExtraId = 0x7075;
constexpr uint16_t kVersionNeededZip64 = 45;
// A central directory larger than this is not read (about four million
// members).
constexpr uint64_t kMaxDirectorySize = uint64_t{256} << 20;
// Central directories up to this size are remembered with their entries.
constexpr size_t kMaxCachedDirectory = size_t{8} << 20;
// Bytes moved per call when copying and compressing.
constexpr size_t kCopyBlock = 65536;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16; }
uint64_t Le64(const uint8_t* p) { return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32; }

bool ReadAt(TPkgStream* stream, int64_t offset, void* buffer, size_t count) {
  return offset >= 0 && PkgSeek(stream, offset, SEEK_SET) == 0 && PkgRead(buffer, 1, count, stream) == count;
}

// One member as the central directory (or its local header) describes it.

void Put16(std::string& bytes, uint16_t value) {
  bytes += static_cast<char>(value & 0xFF);
  bytes += static_cast<char>(value >> 8);
}
void Put32(std::string& bytes, uint32_t value) {
  Put16(bytes, static_cast<uint16_t>(value));
  Put16(bytes, static_cast<uint16_t>(value >> 16));
}
void Put64(std::string& bytes, uint64_t value) {
  Put32(bytes, static_cast<uint32_t>(value));
  Put32(bytes, static_cast<uint32_t>(value >> 32));
}

// Code page 437 above 0x7F, as Unicode code points.
constexpr std::array<uint16_t, 128> kCp437 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

std::string Cp437ToUtf8(std::string_view bytes) {
  std::string text;
  for (unsigned char c : bytes) AppendUtf8(text, c < 0x80 ? c : kCp437[c - 0x80]);
  return text;
}

// The name as the program shows and matches it: cut at a NUL, '\' turned
// into '/', a leading '/' dropped (a member is always inside its archive).
} // namespace

std::string ZipMemberName(std::string_view raw, uint16_t flags) {
  raw = raw.substr(0, raw.find('\0'));
  bool plain = std::all_of(raw.begin(), raw.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  std::string name = (flags & kZipFlagUtf8) || plain ? std::string(raw) : Cp437ToUtf8(raw);
  std::replace(name.begin(), name.end(), '\\', '/');
  name.erase(0, name.find_first_not_of('/'));
  return name;
}

namespace {

bool IsDirectoryName(const std::string& name) { return !name.empty() && name.back() == '/'; }

// A folder entry need not end in '/': MS-DOS tools mark it with the
// directory attribute (10 hex) of the low byte of the external attributes,
// Unix tools with the file type in their high half.
bool IsDirectoryAttribute(uint16_t madeBy, uint32_t external) {
  constexpr uint32_t kDosDirectory = 0x10;
  constexpr int kUnixHost = 3;
  constexpr uint32_t kUnixTypeMask = 0170000;
  constexpr uint32_t kUnixDirectory = 0040000;
  if (external & kDosDirectory) return true;
  return (madeBy >> 8) == kUnixHost && ((external >> 16) & kUnixTypeMask) == kUnixDirectory;
}

// Walks the fields of an extra block: id, size, data.
template <typename TVisit>
void ForEachExtra(const uint8_t* extra, size_t size, TVisit visit) {
  while (size >= 4) {
    uint16_t id = Le16(extra);
    size_t length = std::min<size_t>(Le16(extra + 2), size - 4);
    visit(id, extra + 4, length);
    extra += 4 + length;
    size -= 4 + length;
  }
}

// The fields of an extra block but its ZIP64 field.
std::string WithoutZip64(const uint8_t* extra, size_t size) {
  std::string kept;
  ForEachExtra(extra, size, [&](uint16_t id, const uint8_t* data, size_t length) {
    if (id == kZip64ExtraId) return;
    Put16(kept, id);
    Put16(kept, static_cast<uint16_t>(length));
    kept.append(reinterpret_cast<const char*>(data), length);
  });
  return kept;
}

// Takes the 64-bit values of a ZIP64 extra field for the fields that read
// all ones, and the UTF-8 name of a Unicode path field whose check matches
// the raw name.
void ApplyExtra(const uint8_t* extra, size_t size, std::string_view rawName, TZipEntry& entry, uint32_t* offset32,
                uint64_t* offset) {
  ForEachExtra(extra, size, [&](uint16_t id, const uint8_t* data, size_t length) {
    if (id == kZip64ExtraId) {
      size_t at = 0;
      auto take = [&](uint64_t& field) {
        if (at + 8 <= length) field = Le64(data + at);
        at += 8;
      };
      if (entry.uncompressedSize == UINT32_MAX) take(entry.uncompressedSize);
      if (entry.compressedSize == UINT32_MAX) take(entry.compressedSize);
      if (offset32 && *offset32 == UINT32_MAX) take(*offset);
    } else if (id == kUnicodePathExtraId && length > 5 && data[0] == 1) {
      uint32_t check = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(rawName.data()),
                                                   static_cast<uInt>(rawName.size())));
      if (Le32(data + 1) == check) {
        entry.name = ZipMemberName(std::string_view(reinterpret_cast<const char*>(data + 5), length - 5), kZipFlagUtf8);
      }
    }
  });
}

// The fields local and central headers share, in the same order: flags,
// method, DOS time and date, CRC-32, compressed and uncompressed size.
TZipEntry EntryFromFields(const uint8_t* fields) {
  TZipEntry entry;
  entry.flags = Le16(fields);
  entry.method = Le16(fields + 2);
  entry.dosTime = Le16(fields + 4);
  entry.dosDate = Le16(fields + 6);
  entry.crc = Le32(fields + 8);
  entry.compressedSize = Le32(fields + 12);
  entry.uncompressedSize = Le32(fields + 16);
  return entry;
}

// Where the central directory is, from the end record (and the ZIP64 end
// record when the end record says so), with the offsets of a
// self-extracting archive corrected.
struct TDirectory {
  int64_t offset = 0;
  uint64_t size = 0;
  uint64_t count = 0;
  int64_t shift = 0; // added to every offset the directory states
  int64_t archiveSize = 0;
};

bool FindZip64Directory(TPkgStream* source, int64_t endAt, TDirectory& directory) {
  uint8_t locator[kZip64LocatorSize];
  if (endAt < static_cast<int64_t>(kZip64LocatorSize) ||
      !ReadAt(source, endAt - kZip64LocatorSize, locator, sizeof locator) ||
      Le32(locator) != kZip64LocatorSignature)
    return false;
  // The ZIP64 end record stands right before its locator (it may carry
  // more data, which this program does not use; then its stated offset is
  // taken).
  uint8_t record[kZip64EndSize];
  int64_t recordAt = endAt - static_cast<int64_t>(kZip64LocatorSize + kZip64EndSize);
  if (!ReadAt(source, recordAt, record, sizeof record) || Le32(record) != kZip64EndSignature) {
    recordAt = static_cast<int64_t>(Le64(locator + 8));
    if (!ReadAt(source, recordAt, record, sizeof record) || Le32(record) != kZip64EndSignature) return false;
  }
  const uint64_t size = Le64(record + 40);
  const uint64_t offset = Le64(record + 48);
  // A directory larger than the archive, or beyond it, is no directory.
  const auto archiveSize = static_cast<uint64_t>(directory.archiveSize);
  if (size > archiveSize || offset > archiveSize) return false;
  directory.count = Le64(record + 32);
  directory.size = size;
  directory.offset = static_cast<int64_t>(offset);
  directory.shift = recordAt - static_cast<int64_t>(size) - directory.offset;
  return true;
}

// Looks for the end record in the last 64 KB and 22 bytes of the source.
bool FindDirectory(TPkgStream* source, TDirectory& directory) {
  if (PkgSeek(source, 0, SEEK_END) != 0) return false;
  const int64_t size = PkgTell(source);
  directory.archiveSize = size;
  const int64_t tailSize = std::min<int64_t>(size, kEndSize + kMaxCommentSize);
  if (tailSize < static_cast<int64_t>(kEndSize)) return false;
  std::vector<uint8_t> tail(tailSize);
  if (!ReadAt(source, size - tailSize, tail.data(), tail.size())) return false;
  for (int64_t at = tailSize - kEndSize; at >= 0; --at) {
    const uint8_t* end = tail.data() + at;
    if (Le32(end) != kEndSignature) continue;
    const int64_t endAt = size - tailSize + at;
    directory.count = Le16(end + 10);
    directory.size = Le32(end + 12);
    directory.offset = Le32(end + 16);
    bool needs64 = directory.count == 0xFFFF || directory.size == UINT32_MAX || directory.offset == UINT32_MAX;
    if (needs64 && FindZip64Directory(source, endAt, directory)) return true;
    directory.shift = endAt - static_cast<int64_t>(directory.size) - directory.offset;
    return true;
  }
  return false;
}

// The central directories read last with their entries, known again by
// their bytes and where they stand.
class TDirectoryCache {
public:
  TZipEntries Find(const std::vector<uint8_t>& bytes, int64_t shift) {
    std::lock_guard lock(m_mutex);
    for (const TCached& cached : m_cached)
      if (cached.entries && cached.shift == shift && cached.bytes == bytes) return cached.entries;
    return nullptr;
  }
  void Keep(std::vector<uint8_t> bytes, int64_t shift, TZipEntries entries) {
    if (bytes.size() > kMaxCachedDirectory) return;
    std::lock_guard lock(m_mutex);
    m_cached[m_next] = {std::move(bytes), shift, std::move(entries)};
    m_next = (m_next + 1) % m_cached.size();
  }

private:
  struct TCached {
    std::vector<uint8_t> bytes;
    int64_t shift = 0;
    TZipEntries entries;
  };
  std::mutex m_mutex;
  std::array<TCached, 4> m_cached;
  size_t m_next = 0;
};

TDirectoryCache& DirectoryCache() {
  static TDirectoryCache cache;
  return cache;
}

void ParseDirectory(const std::vector<uint8_t>& bytes, const TDirectory& directory, int64_t shift,
                    std::vector<TZipEntry>& entries) {
  entries.reserve(std::min<uint64_t>(directory.count, directory.size / kCentralHeaderSize));
  size_t at = 0;
  while (at + kCentralHeaderSize <= bytes.size() && Le32(&bytes[at]) == kCentralSignature) {
    const uint8_t* header = &bytes[at];
    size_t nameLength = Le16(header + 28);
    size_t extraLength = Le16(header + 30);
    size_t commentLength = Le16(header + 32);
    if (at + kCentralHeaderSize + nameLength + extraLength + commentLength > bytes.size()) break;
    const uint8_t* name = header + kCentralHeaderSize;
    std::string_view rawName(reinterpret_cast<const char*>(name), nameLength);
    TZipEntry entry = EntryFromFields(header + 8);
    entry.name = ZipMemberName(rawName, entry.flags);
    entry.rawName = rawName;
    entry.madeBy = Le16(header + 4);
    entry.versionNeeded = Le16(header + 6);
    entry.internalAttributes = Le16(header + 36);
    entry.externalAttributes = Le32(header + 38);
    entry.isDirectory = IsDirectoryName(entry.name) || IsDirectoryAttribute(entry.madeBy, entry.externalAttributes);
    uint32_t offset32 = Le32(header + 42);
    uint64_t offset = offset32;
    ApplyExtra(name + nameLength, extraLength, rawName, entry, &offset32, &offset);
    entry.centralExtra = WithoutZip64(name + nameLength, extraLength);
    entry.comment.assign(reinterpret_cast<const char*>(name + nameLength + extraLength), commentLength);
    entry.headerOffset = static_cast<int64_t>(std::min<uint64_t>(offset, INT64_MAX / 2)) + shift;
    entries.push_back(std::move(entry));
    at += kCentralHeaderSize + nameLength + extraLength + commentLength;
  }
}

// Reads the central directory into entries (shared with an earlier read of
// the same bytes). False when it is not where the end record puts it.
bool ReadDirectory(TPkgStream* source, const TDirectory& directory, TZipEntries& entries) {
  int64_t shift = directory.shift >= 0 ? directory.shift : 0;
  if (directory.size > kMaxDirectorySize || static_cast<int64_t>(directory.size) > directory.archiveSize ||
      directory.offset < 0)
    return false;
  std::vector<uint8_t> bytes(directory.size);
  if (!ReadAt(source, directory.offset + shift, bytes.data(), bytes.size())) return false;
  entries = DirectoryCache().Find(bytes, shift);
  if (entries) return true;
  auto parsed = std::make_shared<std::vector<TZipEntry>>();
  ParseDirectory(bytes, directory, shift, *parsed);
  entries = parsed;
  if (parsed->empty()) return directory.count == 0;
  DirectoryCache().Keep(std::move(bytes), shift, entries);
  return true;
}

// Finds the first local header: at offset 0, or in search mode after any
// code in front ("PK\3\4" and version 2.0 needed).
int64_t FirstLocalHeader(TPkgStream* source, bool search) {
  if (!search) return 0;
  static const uint8_t kStart[6] = {'P', 'K', 3, 4, 20, 0};
  if (PkgSeek(source, 0, SEEK_SET) != 0) return -1;
  size_t matched = 0;
  for (int64_t position = 0;; ++position) {
    int byte = PkgGetByte(source);
    if (byte < 0) return -1;
    matched = byte == kStart[matched] ? matched + 1 : byte == kStart[0] ? 1 : 0;
    if (matched == sizeof kStart) return position + 1 - static_cast<int64_t>(sizeof kStart);
  }
}

// Reads an archive without an end record by walking its local headers. A
// member whose sizes follow its data cannot be stepped over; the walk ends
// there.
void WalkLocalHeaders(TPkgStream* source, bool search, std::vector<TZipEntry>& entries) {
  int64_t offset = FirstLocalHeader(source, search);
  uint8_t header[kLocalHeaderSize];
  while (offset >= 0 && ReadAt(source, offset, header, sizeof header) && Le32(header) == kLocalSignature) {
    TZipEntry entry = EntryFromFields(header + 6);
    size_t nameLength = Le16(header + 26);
    size_t extraLength = Le16(header + 28);
    std::vector<uint8_t> rest(nameLength + extraLength);
    if (!ReadAt(source, offset + kLocalHeaderSize, rest.data(), rest.size())) break;
    std::string_view rawName(reinterpret_cast<const char*>(rest.data()), nameLength);
    entry.name = ZipMemberName(rawName, entry.flags);
    entry.rawName = rawName;
    entry.versionNeeded = Le16(header + 4);
    ApplyExtra(rest.data() + nameLength, extraLength, rawName, entry, nullptr, nullptr);
    entry.centralExtra = WithoutZip64(rest.data() + nameLength, extraLength);
    entry.isDirectory = IsDirectoryName(entry.name);
    entry.headerOffset = offset;
    bool sizesFollow = (entry.flags & kZipFlagDataDescriptor) && entry.compressedSize == 0;
    if (sizesFollow && entry.method != kZipMethodStored) break;
    entries.push_back(entry);
    offset += kLocalHeaderSize + nameLength + extraLength + entry.compressedSize;
  }
}


bool Write(TPkgStream* out, const std::string& bytes) {
  return PkgWrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
}

// A size or offset as a 32-bit field: all ones when its value is in the
// ZIP64 field instead.
uint32_t Field32(uint64_t value) { return value >= UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value); }

bool NeedsZip64Sizes(const TZipEntry& entry) {
  return entry.compressedSize >= UINT32_MAX || entry.uncompressedSize >= UINT32_MAX;
}

// An extra block that still fits its 16-bit length once a ZIP64 field of
// zip64Size bytes is added; the entry's other fields are dropped otherwise.
std::string ExtraWith(const std::string& zip64Data, const std::string& extra) {
  std::string block;
  if (!zip64Data.empty()) {
    Put16(block, kZip64ExtraId);
    Put16(block, static_cast<uint16_t>(zip64Data.size()));
    block += zip64Data;
  }
  if (block.size() + extra.size() <= UINT16_MAX) block += extra;
  return block;
}

std::string LocalHeader(const TZipEntry& entry, const std::string& extra, bool zip64) {
  std::string zip64Data;
  if (zip64) {
    Put64(zip64Data, entry.uncompressedSize);
    Put64(zip64Data, entry.compressedSize);
  }
  std::string block = ExtraWith(zip64Data, extra);
  std::string header;
  Put32(header, kLocalSignature);
  Put16(header, zip64 ? std::max(entry.versionNeeded, kVersionNeededZip64) : entry.versionNeeded);
  Put16(header, entry.flags);
  Put16(header, entry.method);
  Put16(header, entry.dosTime);
  Put16(header, entry.dosDate);
  Put32(header, entry.crc);
  Put32(header, zip64 ? UINT32_MAX : static_cast<uint32_t>(entry.compressedSize));
  Put32(header, zip64 ? UINT32_MAX : static_cast<uint32_t>(entry.uncompressedSize));
  Put16(header, static_cast<uint16_t>(entry.rawName.size()));
  Put16(header, static_cast<uint16_t>(block.size()));
  return header + entry.rawName + block;
}

std::string CentralHeader(const TZipEntry& entry) {
  std::string zip64Data;
  if (entry.uncompressedSize >= UINT32_MAX) Put64(zip64Data, entry.uncompressedSize);
  if (entry.compressedSize >= UINT32_MAX) Put64(zip64Data, entry.compressedSize);
  if (static_cast<uint64_t>(entry.headerOffset) >= UINT32_MAX) Put64(zip64Data, entry.headerOffset);
  std::string block = ExtraWith(zip64Data, entry.centralExtra);
  std::string header;
  Put32(header, kCentralSignature);
  Put16(header, entry.madeBy);
  Put16(header, zip64Data.empty() ? entry.versionNeeded : std::max(entry.versionNeeded, kVersionNeededZip64));
  Put16(header, entry.flags);
  Put16(header, entry.method);
  Put16(header, entry.dosTime);
  Put16(header, entry.dosDate);
  Put32(header, entry.crc);
  Put32(header, Field32(entry.compressedSize));
  Put32(header, Field32(entry.uncompressedSize));
  Put16(header, static_cast<uint16_t>(entry.rawName.size()));
  Put16(header, static_cast<uint16_t>(block.size()));
  Put16(header, static_cast<uint16_t>(entry.comment.size()));
  Put16(header, 0); // disk number
  Put16(header, entry.internalAttributes);
  Put32(header, entry.externalAttributes);
  Put32(header, Field32(entry.headerOffset));
  return header + entry.rawName + block + entry.comment;
}

// Copies count bytes from source at offset to the end of out.
bool CopyBytes(TPkgStream* source, int64_t offset, uint64_t count, TPkgStream* out) {
  if (PkgSeek(source, offset, SEEK_SET) != 0) return false;
  while (count > 0) {
    uint8_t* bytes = nullptr;
    int32_t got = PkgMapRead(&bytes, static_cast<int32_t>(std::min<uint64_t>(count, kCopyBlock)), source);
    if (got <= 0 || PkgWrite(bytes, 1, got, out) != static_cast<size_t>(got)) return false;
    count -= static_cast<uint64_t>(got);
  }
  return true;
}

// The first ten bytes of an encryption header are random; the last two are
// the CRC's top bytes, which a reader checks its password against.
std::string EncryptionHeader(uint32_t crc, TZipCipher& cipher) {
  uint8_t header[kZipEncryptionHeaderSize];
  if (getrandom(header, kZipEncryptionHeaderSize - 2, 0) != static_cast<ssize_t>(kZipEncryptionHeaderSize - 2)) {
    for (size_t i = 0; i < kZipEncryptionHeaderSize - 2; ++i) header[i] = static_cast<uint8_t>(std::rand() >> 8);
  }
  header[10] = static_cast<uint8_t>(crc >> 16);
  header[11] = static_cast<uint8_t>(crc >> 24);
  cipher.Encrypt(header, sizeof header);
  return std::string(reinterpret_cast<char*>(header), sizeof header);
}

uint32_t CrcOf(TPkgStream* data) {
  uLong crc = crc32(0, nullptr, 0);
  PkgSeek(data, 0, SEEK_SET);
  uint8_t* bytes = nullptr;
  while (int32_t got = PkgMapRead(&bytes, kCopyBlock, data)) crc = crc32(crc, bytes, static_cast<uInt>(got));
  return static_cast<uint32_t>(crc);
}

} // namespace

TZipEntries ZipReadEntries(TPkgStream* source, bool search) {
  TZipEntries entries;
  TDirectory directory;
  if (!FindDirectory(source, directory) || !ReadDirectory(source, directory, entries)) {
    auto walked = std::make_shared<std::vector<TZipEntry>>();
    WalkLocalHeaders(source, search, *walked);
    entries = std::move(walked);
  }
  return entries;
}

int64_t ZipDataOffset(TPkgStream* source, const TZipEntry& entry) {
  uint8_t header[kLocalHeaderSize];
  if (!ReadAt(source, entry.headerOffset, header, sizeof header) || Le32(header) != kLocalSignature) return -1;
  return entry.headerOffset + static_cast<int64_t>(kLocalHeaderSize + Le16(header + 26) + Le16(header + 28));
}

TZipCipher::TZipCipher(const std::string& password) : m_table(get_crc_table()) {
  for (unsigned char c : password) Update(c);
}

void TZipCipher::Decrypt(uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    bytes[i] ^= StreamByte();
    Update(bytes[i]);
  }
}

void TZipCipher::Encrypt(uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    uint8_t plain = bytes[i];
    bytes[i] ^= StreamByte();
    Update(plain);
  }
}

uint8_t TZipCipher::StreamByte() const {
  uint32_t temp = (m_keys[2] | 2) & 0xFFFF;
  return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
}

void TZipCipher::Update(uint8_t plain) {
  auto crc = [this](uint32_t value, uint8_t byte) { return m_table[(value ^ byte) & 0xFF] ^ (value >> 8); };
  m_keys[0] = crc(m_keys[0], plain);
  m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813 + 1;
  m_keys[2] = crc(m_keys[2], static_cast<uint8_t>(m_keys[1] >> 24));
}

bool TZipWriter::Copy(TPkgStream* source, const TZipEntry& entry) {
  uint8_t header[kLocalHeaderSize];
  if (!ReadAt(source, entry.headerOffset, header, sizeof header) || Le32(header) != kLocalSignature) return false;
  size_t nameLength = Le16(header + 26);
  std::vector<uint8_t> extra(Le16(header + 28));
  if (!ReadAt(source, entry.headerOffset + kLocalHeaderSize + nameLength, extra.data(), extra.size())) return false;
  int64_t dataStart = entry.headerOffset + static_cast<int64_t>(kLocalHeaderSize + nameLength + extra.size());
  TZipEntry written = entry;
  written.headerOffset = PkgTell(m_out);
  bool zip64 = NeedsZip64Sizes(entry);
  if (!Write(m_out, LocalHeader(written, WithoutZip64(extra.data(), extra.size()), zip64)) ||
      !CopyBytes(source, dataStart, entry.compressedSize, m_out))
    return false;
  // The sizes are in the local header now, but a member that had them after
  // its data keeps its flag and so its descriptor: for an encrypted member
  // the flag decides which byte checks the password.
  if (entry.flags & kZipFlagDataDescriptor) {
    std::string descriptor;
    Put32(descriptor, kDescriptorSignature);
    Put32(descriptor, entry.crc);
    if (zip64) {
      Put64(descriptor, entry.compressedSize);
      Put64(descriptor, entry.uncompressedSize);
    } else {
      Put32(descriptor, static_cast<uint32_t>(entry.compressedSize));
      Put32(descriptor, static_cast<uint32_t>(entry.uncompressedSize));
    }
    if (!Write(m_out, descriptor)) return false;
  }
  m_written.push_back(std::move(written));
  return true;
}

bool TZipWriter::Add(TZipEntry entry, TPkgStream* data, const std::string& password) {
  if (PkgSeek(data, 0, SEEK_END) != 0) return false;
  entry.uncompressedSize = static_cast<uint64_t>(PkgTell(data));
  entry.method = kZipMethodDeflated;
  entry.flags = (entry.flags & kZipFlagUtf8) | (password.empty() ? 0 : kZipFlagEncrypted);
  entry.compressedSize = 0;
  entry.crc = password.empty() ? 0 : CrcOf(data);
  // Whether the sizes need ZIP64 fields must be known before the header is
  // written: the worst the deflater can do decides.
  bool zip64 = deflateBound(nullptr, static_cast<uLong>(entry.uncompressedSize)) + kZipEncryptionHeaderSize >= UINT32_MAX;
  entry.headerOffset = PkgTell(m_out);
  if (!Write(m_out, LocalHeader(entry, "", zip64))) return false;

  std::unique_ptr<TZipCipher> cipher;
  uint64_t written = 0;
  if (!password.empty()) {
    cipher = std::make_unique<TZipCipher>(password);
    std::string header = EncryptionHeader(entry.crc, *cipher);
    if (!Write(m_out, header)) return false;
    written += header.size();
  }
  z_stream deflater{};
  if (deflateInit2(&deflater, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  uLong crc = crc32(0, nullptr, 0);
  uint8_t output[kCopyBlock];
  bool good = PkgSeek(data, 0, SEEK_SET) == 0;
  for (int flush = Z_NO_FLUSH; good && flush != Z_FINISH;) {
    uint8_t* bytes = nullptr;
    int32_t got = PkgMapRead(&bytes, kCopyBlock, data);
    if (got == 0)
      flush = Z_FINISH;
    else
      crc = crc32(crc, bytes, static_cast<uInt>(got));
    deflater.next_in = bytes;
    deflater.avail_in = static_cast<uInt>(got);
    int result = Z_OK;
    do {
      deflater.next_out = output;
      deflater.avail_out = sizeof output;
      result = deflate(&deflater, flush);
      size_t produced = sizeof output - deflater.avail_out;
      if (cipher) cipher->Encrypt(output, produced);
      good = result != Z_STREAM_ERROR && PkgWrite(output, 1, produced, m_out) == produced;
      written += produced;
    } while (good && (deflater.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END)));
  }
  deflateEnd(&deflater);
  if (!good) return false;
  entry.crc = static_cast<uint32_t>(crc);
  entry.compressedSize = written;
  // The header is written again now that sizes and CRC are known.
  int64_t end = PkgTell(m_out);
  if (PkgSeek(m_out, entry.headerOffset, SEEK_SET) != 0 || !Write(m_out, LocalHeader(entry, "", zip64)) ||
      PkgSeek(m_out, end, SEEK_SET) != 0)
    return false;
  m_written.push_back(std::move(entry));
  return true;
}

bool TZipWriter::Finish() {
  if (m_written.empty()) return true;
  const int64_t directoryStart = PkgTell(m_out);
  std::string buffer;
  for (const TZipEntry& entry : m_written) {
    buffer += CentralHeader(entry);
    if (buffer.size() >= kCopyBlock && !Write(m_out, buffer)) return false;
    if (buffer.size() >= kCopyBlock) buffer.clear();
  }
  if (!Write(m_out, buffer)) return false;
  const uint64_t count = m_written.size();
  const uint64_t directorySize = static_cast<uint64_t>(PkgTell(m_out) - directoryStart);
  std::string end;
  if (count >= UINT16_MAX || directorySize >= UINT32_MAX || static_cast<uint64_t>(directoryStart) >= UINT32_MAX) {
    const int64_t zip64Start = PkgTell(m_out);
    Put32(end, kZip64EndSignature);
    Put64(end, kZip64EndSize - 12); // the record's size after this field
    Put16(end, kVersionNeededZip64);
    Put16(end, kVersionNeededZip64);
    Put32(end, 0); // this disk
    Put32(end, 0); // the directory's disk
    Put64(end, count);
    Put64(end, count);
    Put64(end, directorySize);
    Put64(end, static_cast<uint64_t>(directoryStart));
    Put32(end, kZip64LocatorSignature);
    Put32(end, 0); // the disk of the ZIP64 end record
    Put64(end, static_cast<uint64_t>(zip64Start));
    Put32(end, 1); // disks in all
  }
  Put32(end, kEndSignature);
  Put32(end, 0); // this disk and the directory's disk
  Put16(end, static_cast<uint16_t>(std::min<uint64_t>(count, UINT16_MAX)));
  Put16(end, static_cast<uint16_t>(std::min<uint64_t>(count, UINT16_MAX)));
  Put32(end, Field32(directorySize));
  Put32(end, Field32(directoryStart));
  Put16(end, 0); // comment length
  return Write(m_out, end);
}
