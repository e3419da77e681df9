#pragma once
// The records of a ZIP archive, apart from the package layer that serves
// archives as containers: reading the members' descriptions, the
// traditional cipher, and writing an archive anew member by member.
#include <zlib.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filepkg/filepkg.h"

inline constexpr uint16_t kZipFlagEncrypted = 1 << 0;
inline constexpr uint16_t kZipFlagDataDescriptor = 1 << 3;
inline constexpr uint16_t kZipFlagUtf8 = 1 << 11;
inline constexpr uint16_t kZipMethodStored = 0;
inline constexpr uint16_t kZipMethodDeflated = 8;
inline constexpr uint16_t kZipVersionNeeded = 20;
inline constexpr size_t kZipEncryptionHeaderSize = 12;

// One member as the central directory (or its local header) describes it.
struct TZipEntry {
  std::string name; // UTF-8, '/' separators, as the program shows and matches it
  bool isDirectory = false;
  // What a rebuilt archive keeps of the entry as it was stored.
  std::string rawName;
  uint16_t madeBy = kZipVersionNeeded;
  uint16_t versionNeeded = kZipVersionNeeded;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  std::string centralExtra; // without its ZIP64 field, which is written anew
  std::string comment;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t uncompressedSize = 0;
  int64_t headerOffset = 0; // of the local header in the archive
};

// Reads the descriptions of the members of the archive in source: from its
// central directory, or, when it has none (it was cut short), by walking its
// local headers from the start (or, with search, from the first local header
// after any code in front). Empty when source is no archive. The entries of
// a central directory read before with the same bytes are shared, so that
// opening member after member of a big archive parses its directory once.
using TZipEntries = std::shared_ptr<const std::vector<TZipEntry>>;
TZipEntries ZipReadEntries(TPkgStream* source, bool search);

// Where an entry's data start: after its local header's name and extra field
// (which may differ from those of the central directory); -1 when no local
// header stands at the entry's offset.
int64_t ZipDataOffset(TPkgStream* source, const TZipEntry& entry);

// The name a member is shown and matched under: cut at a NUL, '\' turned into
// '/', a leading '/' dropped; names without flag bit 11 whose bytes reach
// 0x80 are code page 437 and come out as UTF-8.
std::string ZipMemberName(std::string_view raw, uint16_t flags);

// PKWARE's traditional encryption: three keys updated with every plain byte.
class TZipCipher {
public:
  explicit TZipCipher(const std::string& password);
  void Decrypt(uint8_t* bytes, size_t count);
  void Encrypt(uint8_t* bytes, size_t count);

private:
  uint8_t StreamByte() const;
  void Update(uint8_t plain);

  const z_crc_t* m_table;
  std::array<uint32_t, 3> m_keys = {0x12345678, 0x23456789, 0x34567890};
};

// Writes an archive anew into out: members copied from an old archive with
// their compressed bytes untouched, and members added from their plain
// bytes; then the central directory, with ZIP64 records where sizes, offsets
// or the number of members need them. An archive without members is left
// empty.
class TZipWriter {
public:
  explicit TZipWriter(TPkgStream* out) : m_out(out) {}

  // Copies entry from the archive in source.
  bool Copy(TPkgStream* source, const TZipEntry& entry);
  // Adds a member holding the bytes of data, deflated at level 9 and, with a
  // password, encrypted. entry gives its stored name, flags, time and
  // attributes; sizes, CRC and method are the writer's.
  bool Add(TZipEntry entry, TPkgStream* data, const std::string& password);
  // Writes the central directory and the end records.
  bool Finish();

private:
  bool WriteLocalHeader(const TZipEntry& entry, const std::string& extra);

  TPkgStream* m_out;
  std::vector<TZipEntry> m_written;
};
