// ZIP archives as package containers.
//
// An archive, as this layer reads it (all numbers little-endian):
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
// The central directory is read once, when the archive is claimed: listing
// an archive of 100,000 members, or opening one member of it, never walks
// the others. Its sizes serve members written with flag bit 3, whose local
// headers hold zeros. A self-extracting archive has code in front: the
// offsets of its directory are corrected by the distance between where the
// directory is and where the end record says it is. An archive without an
// end record (cut short) is read by walking its local headers instead.
//
// Names with flag bit 11 are UTF-8; other names with bytes of 0x80 or above
// are code page 437, as MS-DOS wrote them, and are turned into UTF-8. An
// Info-ZIP Unicode path field (0x7075) that matches the name gives the name.
#include "filepkg/pkg_zip.h"

#include <strings.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/log_sink.h"
#include "filepkg/pkg_layers.h"
#include "filepkg/pkg_listing.h"

namespace {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
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

constexpr uint16_t kFlagEncrypted = 1 << 0;
constexpr uint16_t kFlagDataDescriptor = 1 << 3;
constexpr uint16_t kFlagUtf8 = 1 << 11;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

// Compressed bytes taken per Fill, and the size of the inflater's output
// pieces: small steps, so that a stop request is noticed between them.
constexpr size_t kStepSize = 16384;
constexpr size_t kEncryptionHeaderSize = 12;
// A central directory larger than this is not read (about four million
// members).
constexpr uint64_t kMaxDirectorySize = uint64_t{256} << 20;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) { return Le16(p) | static_cast<uint32_t>(Le16(p + 2)) << 16; }
uint64_t Le64(const uint8_t* p) { return Le32(p) | static_cast<uint64_t>(Le32(p + 4)) << 32; }

bool ReadAt(TPkgStream* stream, int64_t offset, void* buffer, size_t count) {
  return offset >= 0 && PkgSeek(stream, offset, SEEK_SET) == 0 && PkgRead(buffer, 1, count, stream) == count;
}

// One member as the central directory (or its local header) describes it.
struct TZipEntry {
  std::string name; // UTF-8, '/' separators
  bool isDirectory = false;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  int64_t headerOffset = 0; // of the local header in the source
};

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
  for (unsigned char c : bytes) {
    uint32_t code = c < 0x80 ? c : kCp437[c - 0x80];
    if (code < 0x80) {
      text += static_cast<char>(code);
    } else if (code < 0x800) {
      text += static_cast<char>(0xC0 | code >> 6);
      text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      text += static_cast<char>(0xE0 | code >> 12);
      text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return text;
}

// The name as the program shows and matches it: cut at a NUL, '\' turned
// into '/', a leading '/' dropped (a member is always inside its archive).
std::string MemberName(std::string_view raw, uint16_t flags) {
  raw = raw.substr(0, raw.find('\0'));
  bool plain = std::all_of(raw.begin(), raw.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  std::string name = (flags & kFlagUtf8) || plain ? std::string(raw) : Cp437ToUtf8(raw);
  std::replace(name.begin(), name.end(), '\\', '/');
  name.erase(0, name.find_first_not_of('/'));
  return name;
}

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
        entry.name = MemberName(std::string_view(reinterpret_cast<const char*>(data + 5), length - 5), kFlagUtf8);
      }
    }
  });
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
  directory.count = Le64(record + 32);
  directory.size = Le64(record + 40);
  directory.offset = static_cast<int64_t>(Le64(record + 48));
  directory.shift = recordAt - static_cast<int64_t>(directory.size) - directory.offset;
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

// Reads the central directory into entries. False when it is not where the
// end record puts it.
bool ReadDirectory(TPkgStream* source, const TDirectory& directory, std::vector<TZipEntry>& entries) {
  int64_t shift = directory.shift >= 0 ? directory.shift : 0;
  if (directory.size > kMaxDirectorySize || static_cast<int64_t>(directory.size) > directory.archiveSize ||
      directory.offset < 0)
    return false;
  std::vector<uint8_t> bytes(directory.size);
  if (!ReadAt(source, directory.offset + shift, bytes.data(), bytes.size())) return false;
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
    TZipEntry entry;
    entry.flags = Le16(header + 8);
    entry.method = Le16(header + 10);
    entry.dosTime = Le16(header + 12);
    entry.dosDate = Le16(header + 14);
    entry.crc = Le32(header + 16);
    entry.compressedSize = Le32(header + 20);
    entry.uncompressedSize = Le32(header + 24);
    entry.name = MemberName(rawName, entry.flags);
    entry.isDirectory = IsDirectoryName(entry.name) || IsDirectoryAttribute(Le16(header + 4), Le32(header + 38));
    uint32_t offset32 = Le32(header + 42);
    uint64_t offset = offset32;
    ApplyExtra(name + nameLength, extraLength, rawName, entry, &offset32, &offset);
    entry.headerOffset = static_cast<int64_t>(std::min<uint64_t>(offset, INT64_MAX / 2)) + shift;
    entries.push_back(std::move(entry));
    at += kCentralHeaderSize + nameLength + extraLength + commentLength;
  }
  return !entries.empty() || directory.count == 0;
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
    TZipEntry entry;
    entry.flags = Le16(header + 6);
    entry.method = Le16(header + 8);
    entry.dosTime = Le16(header + 10);
    entry.dosDate = Le16(header + 12);
    entry.crc = Le32(header + 14);
    entry.compressedSize = Le32(header + 18);
    entry.uncompressedSize = Le32(header + 22);
    size_t nameLength = Le16(header + 26);
    size_t extraLength = Le16(header + 28);
    std::vector<uint8_t> rest(nameLength + extraLength);
    if (!ReadAt(source, offset + kLocalHeaderSize, rest.data(), rest.size())) break;
    std::string_view rawName(reinterpret_cast<const char*>(rest.data()), nameLength);
    entry.name = MemberName(rawName, entry.flags);
    ApplyExtra(rest.data() + nameLength, extraLength, rawName, entry, nullptr, nullptr);
    entry.isDirectory = IsDirectoryName(entry.name);
    entry.headerOffset = offset;
    bool sizesFollow = (entry.flags & kFlagDataDescriptor) && entry.compressedSize == 0;
    if (sizesFollow && entry.method != kMethodStored) break;
    entries.push_back(entry);
    offset += kLocalHeaderSize + nameLength + extraLength + entry.compressedSize;
  }
}

// The archive handle's state: the claimed stream, its members, and the
// listing of the members that are files.
class TZipArchive final : public TPkgListing {
public:
  TZipArchive(TPkgStream* source, std::string prefix, std::string password)
      : m_source(source), m_prefix(std::move(prefix)), m_password(std::move(password)) {}
  ~TZipArchive() override {
    if (m_source) PkgClose(m_source, kPkgKeep);
  }

  // The member a name starting at rest stands for: an entry whose name the
  // rest begins with and then ends or goes on with '/'. Names are compared
  // without regard to case, but a member of exactly the spelling asked for
  // wins, so that members whose names differ only in case can each be
  // opened. Directory entries are never members.
  const TZipEntry* Find(std::string_view rest) const {
    const TZipEntry* found = nullptr;
    for (const TZipEntry& entry : m_entries) {
      size_t length = entry.name.size();
      if (entry.isDirectory || length == 0 || rest.size() < length) continue;
      if (rest.size() > length && rest[length] != '/') continue;
      if (rest.compare(0, length, entry.name) == 0) return &entry;
      if (!found && strncasecmp(rest.data(), entry.name.data(), length) == 0) found = &entry;
    }
    return found;
  }

  TPkgStream* m_source;
  std::string m_prefix; // archive name + '/'
  std::string m_password;
  std::vector<TZipEntry> m_entries;

protected:
  bool Rewind() override {
    m_next = 0;
    return true;
  }
  bool NextEntry(char* record) override {
    while (m_next < m_entries.size()) {
      const TZipEntry& entry = m_entries[m_next++];
      // A name that does not fit a record could only be listed cut short,
      // that is under the name of something else.
      if (entry.isDirectory || entry.name.empty() ||
          m_prefix.size() + entry.name.size() >= static_cast<size_t>(kPkgRecordSize))
        continue;
      std::memcpy(record, m_prefix.data(), m_prefix.size());
      std::memcpy(record + m_prefix.size(), entry.name.data(), entry.name.size());
      return true;
    }
    return false;
  }

private:
  size_t m_next = 0;
};

TZipArchive* ArchiveOf(TPkgStream* stream) { return static_cast<TZipArchive*>(stream->layerData); }

// PKWARE's traditional encryption: three keys updated with every plain byte.
class TZipCipher {
public:
  explicit TZipCipher(const std::string& password) : m_table(get_crc_table()) {
    for (unsigned char c : password) Update(c);
  }
  void Decrypt(uint8_t* bytes, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      bytes[i] ^= StreamByte();
      Update(bytes[i]);
    }
  }

private:
  uint32_t Crc(uint32_t crc, uint8_t byte) const { return m_table[(crc ^ byte) & 0xFF] ^ (crc >> 8); }
  uint8_t StreamByte() const {
    uint32_t temp = (m_keys[2] | 2) & 0xFFFF;
    return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
  }
  void Update(uint8_t plain) {
    m_keys[0] = Crc(m_keys[0], plain);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFF)) * 134775813 + 1;
    m_keys[2] = Crc(m_keys[2], static_cast<uint8_t>(m_keys[1] >> 24));
  }

  const z_crc_t* m_table;
  std::array<uint32_t, 3> m_keys = {0x12345678, 0x23456789, 0x34567890};
};

// A member being read: its compressed bytes are taken from the archive's
// source a step at a time, decrypted and inflated into a scratch stream
// that the member's handle reads.
struct TZipMember {
  TPkgStream* archive = nullptr; // the archive handle, owned
  TZipEntry entry;
  TPkgStream* data = nullptr; // the uncompressed bytes so far
  int64_t nextCompressed = 0;  // offset in the source
  uint64_t compressedLeft = 0;
  std::unique_ptr<TZipCipher> cipher;
  bool headerChecked = false;
  z_stream inflater{};
  bool inflating = false;
  uLong crc = 0;
  bool ended = false;

  ~TZipMember() {
    if (inflating) inflateEnd(&inflater);
    if (data) PkgClose(data, kPkgKeep);
    if (archive) PkgClose(archive, kPkgKeep);
  }
};

TZipMember* MemberOf(TPkgStream* stream) { return static_cast<TZipMember*>(stream->layerData); }

TPkgStream* SourceOf(const TZipMember& member) { return ArchiveOf(member.archive)->m_source; }

// Appends bytes to the member's scratch stream and its running CRC.
bool Produce(TZipMember& member, const uint8_t* bytes, size_t count) {
  member.crc = crc32(member.crc, bytes, static_cast<uInt>(count));
  return PkgSeek(member.data, 0, SEEK_END) == 0 && PkgWrite(bytes, 1, count, member.data) == count;
}

// Ends the member's data: a member that ended early or whose bytes do not
// match their CRC is reported, and keeps what was produced.
int EndMember(TZipMember& member, bool complete) {
  member.ended = true;
  if (member.inflating) inflateEnd(&member.inflater);
  member.inflating = false;
  const char* name = member.entry.name.c_str();
  if (!complete)
    LogMessage("ZIP member %s is damaged or its password is wrong; it ends early", name);
  else if (member.crc != member.entry.crc)
    LogMessage("ZIP member %s does not match its checksum", name);
  return 1;
}

// Checks the 12-byte encryption header: its last byte must be the high byte
// of the CRC, or of the DOS time for members whose sizes follow their data
// (as Info-ZIP writes them), else the password is wrong.
bool CheckEncryptionHeader(TZipMember& member) {
  uint8_t header[kEncryptionHeaderSize];
  if (member.compressedLeft < sizeof header || !ReadAt(SourceOf(member), member.nextCompressed, header, sizeof header))
    return false;
  member.cipher->Decrypt(header, sizeof header);
  member.nextCompressed += sizeof header;
  member.compressedLeft -= sizeof header;
  uint8_t check = (member.entry.flags & kFlagDataDescriptor) ? static_cast<uint8_t>(member.entry.dosTime >> 8)
                                                            : static_cast<uint8_t>(member.entry.crc >> 24);
  return header[kEncryptionHeaderSize - 1] == check;
}

// Inflates one step of input into pieces of kStepSize bytes.
bool InflateStep(TZipMember& member, uint8_t* input, size_t count, bool& finished) {
  uint8_t output[kStepSize];
  member.inflater.next_in = input;
  member.inflater.avail_in = static_cast<uInt>(count);
  do {
    member.inflater.next_out = output;
    member.inflater.avail_out = sizeof output;
    int result = inflate(&member.inflater, Z_NO_FLUSH);
    size_t produced = sizeof output - member.inflater.avail_out;
    if (produced && !Produce(member, output, produced)) return false;
    if (result == Z_STREAM_END) {
      finished = true;
      return true;
    }
    // No progress possible: the step's input is used up.
    if (result == Z_BUF_ERROR) return true;
    if (result != Z_OK) return false;
  } while (member.inflater.avail_in > 0 || member.inflater.avail_out == 0);
  return true;
}

// One step of the member's production: decrypt and inflate (or copy) up to
// kStepSize compressed bytes. 0 = call again, 1 = no more bytes will come.
int MemberFill(TPkgStream* stream) {
  TZipMember& member = *MemberOf(stream);
  if (member.ended) return 1;
  if (member.cipher && !member.headerChecked) {
    member.headerChecked = true;
    if (!CheckEncryptionHeader(member)) return EndMember(member, false);
  }
  if (member.compressedLeft == 0) return EndMember(member, !member.inflating);
  uint8_t input[kStepSize];
  size_t count = static_cast<size_t>(std::min<uint64_t>(sizeof input, member.compressedLeft));
  if (!ReadAt(SourceOf(member), member.nextCompressed, input, count)) return EndMember(member, false);
  member.nextCompressed += static_cast<int64_t>(count);
  member.compressedLeft -= count;
  if (member.cipher) member.cipher->Decrypt(input, count);
  bool finished = false;
  bool good = member.inflating ? InflateStep(member, input, count, finished)
                               : Produce(member, input, count);
  stream->size = member.data->size;
  if (!good) return EndMember(member, false);
  if (finished) {
    inflateEnd(&member.inflater);
    member.inflating = false;
    return EndMember(member, true);
  }
  return 0;
}

uint8_t* MemberMap(TPkgStream* stream, int forWriting, int32_t* length) {
  if (forWriting || stream->position < 0) return nullptr;
  TPkgStream* data = MemberOf(stream)->data;
  data->position = stream->position;
  uint8_t* bytes = data->ops->Map(data, 0, length);
  if (bytes) stream->position = data->position;
  return bytes;
}

int MemberClose(TPkgStream* stream, int closeMode) {
  delete MemberOf(stream);
  // Members are only read here; nothing of the archive can be deleted.
  return closeMode == kPkgDelete ? -1 : 0;
}

const TPkgOps kMemberOps = {nullptr, MemberMap, MemberFill, nullptr, MemberClose};

// Where a member's data start: after its local header's name and extra
// field, which may differ from those of the central directory.
int64_t DataOffset(TPkgStream* source, const TZipEntry& entry) {
  uint8_t header[kLocalHeaderSize];
  if (!ReadAt(source, entry.headerOffset, header, sizeof header) || Le32(header) != kLocalSignature) return -1;
  return entry.headerOffset + static_cast<int64_t>(kLocalHeaderSize + Le16(header + 26) + Le16(header + 28));
}

// Prepares the reading of a member: where its data are, and the cipher and
// inflater it needs. False, with a log line, for a member this program
// cannot read.
bool StartMember(TZipMember& member, const TPkgRequest& request) {
  const TZipEntry& entry = member.entry;
  if (entry.method != kMethodStored && entry.method != kMethodDeflated) {
    LogMessage("ZIP member %s uses compression method %u, which this program does not read", entry.name.c_str(),
               static_cast<unsigned>(entry.method));
    return false;
  }
  member.nextCompressed = DataOffset(SourceOf(member), entry);
  if (member.nextCompressed < 0) {
    LogMessage("ZIP member %s is missing from its archive", entry.name.c_str());
    return false;
  }
  member.compressedLeft = entry.compressedSize;
  // Without a password an encrypted member is delivered as it is stored.
  if ((entry.flags & kFlagEncrypted) && !ArchiveOf(member.archive)->m_password.empty())
    member.cipher = std::make_unique<TZipCipher>(ArchiveOf(member.archive)->m_password);
  if (entry.method == kMethodDeflated) {
    if (inflateInit2(&member.inflater, -MAX_WBITS) != Z_OK) return false;
    member.inflating = true;
  }
  member.data = PkgTempStream(request.blockSize, request.blockCount);
  return member.data != nullptr;
}

TPkgStream* ArchiveOpenMember(TPkgStream* archiveHandle, TPkgRequest* request) {
  TZipArchive* archive = ArchiveOf(archiveHandle);
  const char* rest = request->name + request->parseIndex;
  if (*rest == '\0' || request->mode != 'r' || request->access != 'r') return nullptr;
  const TZipEntry* entry = archive->Find(rest);
  if (!entry) return nullptr;
  auto* member = new (std::nothrow) TZipMember;
  if (!member) return nullptr;
  member->entry = *entry;
  member->archive = archiveHandle;
  TPkgStream* stream = StartMember(*member, *request) ? PkgNewStream(&kMemberOps, member) : nullptr;
  if (!stream ||
      !PkgSetInfo(&stream->info, archive->m_prefix + entry->name, request->mode, 'b', request->access, "zip",
                  PkgDosToTime(entry->dosDate, entry->dosTime), request->blockSize, request->blockCount)) {
    // The archive handle stays with the caller when the open fails.
    member->archive = nullptr;
    delete member;
    PkgFreeStream(stream);
    return nullptr;
  }
  size_t consumed = entry->name.size() + (rest[entry->name.size()] == '/' ? 1 : 0);
  request->parseIndex += static_cast<int32_t>(consumed);
  return stream;
}

int ArchiveClose(TPkgStream* stream, int closeMode) {
  delete ArchiveOf(stream);
  return closeMode == kPkgDelete ? -1 : 0;
}

const TPkgOps kArchiveOps = {ArchiveOpenMember, TPkgListing::Map, TPkgListing::Fill, nullptr, ArchiveClose};

} // namespace

TPkgStream* ZipClaim(TPkgStream* source, TPkgRequest* request) {
  if (request->type == 'b' || request->mode != 'r' || request->access != 'r') return nullptr;
  std::vector<TZipEntry> entries;
  TDirectory directory;
  if (!FindDirectory(source, directory) || !ReadDirectory(source, directory, entries)) {
    entries.clear();
    WalkLocalHeaders(source, request->searchFlag != 0, entries);
  }
  if (entries.empty()) return nullptr;
  auto* archive = new (std::nothrow) TZipArchive(nullptr, std::string(source->info.name) + "/", request->password);
  if (!archive) return nullptr;
  archive->m_entries = std::move(entries);
  TPkgStream* stream = PkgNewStream(&kArchiveOps, archive);
  if (!stream || !PkgSetInfo(&stream->info, archive->m_prefix, request->mode, 'd', request->access, "zip",
                             source->info.time, kPkgRecordSize, 1)) {
    delete archive;
    PkgFreeStream(stream);
    return nullptr;
  }
  archive->m_source = source;
  return stream;
}
