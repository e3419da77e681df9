// ZIP archives as package containers. The records of an archive are read and
// written by zip_archive.cpp; here an archive becomes a directory-like
// object whose listing names its members, and a member a byte stream.
//
// Reading: a member's compressed bytes are taken from the archive a step of
// 16 KB at a time, decrypted with ZipPassword and inflated into a scratch
// stream, only as far as a reader asks.
//
// Writing: a member opened for writing collects its bytes in a scratch
// stream. When it is closed and kept, the archive is written anew under its
// own name through the package ("wb"): the other members are copied with
// their compressed bytes untouched, the member is deflated (and encrypted
// when ZipPassword is set), and the central directory follows. The disk
// layer puts a new file in place only once it is complete, and an archive
// inside an archive is written as a member of the outer one, so a rebuild
// that fails or is stopped leaves the old archive whole. Abandoning a write
// leaves the archive untouched; deleting a member writes the archive
// without it, and an archive left without members is an empty file.
#include "filepkg/pkg_zip.h"

#include <strings.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/log_sink.h"
#include "filepkg/pkg_layers.h"
#include "filepkg/pkg_listing.h"
#include "filepkg/zip_archive.h"

namespace {

// Compressed bytes taken per Fill, and the size of the inflater's output
// pieces: small steps, so that a stop request is noticed between them.
constexpr size_t kStepSize = 16384;
constexpr size_t kNewMember = SIZE_MAX;

bool ReadAt(TPkgStream* stream, int64_t offset, void* buffer, size_t count) {
  return offset >= 0 && PkgSeek(stream, offset, SEEK_SET) == 0 && PkgRead(buffer, 1, count, stream) == count;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         strncasecmp(text.data() + text.size() - suffix.size(), suffix.data(), suffix.size()) == 0;
}

// The archive handle's state: the claimed stream, its members, and the
// listing of the members that are files.
class TZipArchive final : public TPkgListing {
public:
  TZipArchive(std::string prefix, std::string password, TZipEntries entries)
      : m_prefix(std::move(prefix)), m_password(std::move(password)), m_entries(std::move(entries)) {}

  // The index of the member a name starting at rest stands for: an entry
  // whose name the rest begins with and then ends or goes on with '/'.
  // Names are compared without regard to case, but a member of exactly the
  // spelling asked for wins, so that members whose names differ only in
  // case can each be opened. Directory entries are never members.
  size_t Find(std::string_view rest) const {
    size_t found = kNewMember;
    for (size_t i = 0; i < m_entries->size(); ++i) {
      const TZipEntry& entry = (*m_entries)[i];
      size_t length = entry.name.size();
      if (entry.isDirectory || length == 0 || rest.size() < length) continue;
      if (rest.size() > length && rest[length] != '/') continue;
      if (rest.compare(0, length, entry.name) == 0) return i;
      if (found == kNewMember && strncasecmp(rest.data(), entry.name.data(), length) == 0) found = i;
    }
    return found;
  }

  // The archive's own package name.
  std::string Name() const { return m_prefix.substr(0, m_prefix.size() - 1); }

  TPkgStream* m_source = nullptr; // owned
  std::string m_prefix; // archive name + '/'
  std::string m_password;
  TZipEntries m_entries;

protected:
  bool Rewind() override {
    m_next = 0;
    return true;
  }
  bool NextEntry(char* record) override {
    while (m_next < m_entries->size()) {
      const TZipEntry& entry = (*m_entries)[m_next++];
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

int ArchiveClose(TPkgStream* stream, int closeMode) {
  TZipArchive* archive = ArchiveOf(stream);
  // The claimed stream is only read here: a delete of the archive handle
  // deletes nothing, an abandon goes down to whatever the open created.
  int closed = PkgClose(archive->m_source, closeMode == kPkgAbandon ? kPkgAbandon : kPkgKeep);
  delete archive;
  return closeMode == kPkgDelete ? -1 : closed;
}

// A member: its bytes so far in a scratch stream, produced from the archive
// by the reading state below, or written by the opener.
struct TZipMember {
  TPkgStream* archive = nullptr; // the archive handle, owned
  size_t index = kNewMember;      // in the archive's entries
  TZipEntry entry;                // a new member's name and flags
  TPkgStream* data = nullptr;
  bool modified = false;
  // Reading.
  int64_t nextCompressed = 0; // offset in the archive
  uint64_t compressedLeft = 0;
  std::unique_ptr<TZipCipher> cipher;
  bool headerChecked = false;
  z_stream inflater{};
  bool inflating = false;
  uLong crc = 0;
  bool ended = true;

  ~TZipMember() {
    if (inflating) inflateEnd(&inflater);
    if (data) PkgClose(data, kPkgKeep);
  }
};

TZipMember* MemberOf(TPkgStream* stream) { return static_cast<TZipMember*>(stream->layerData); }

TZipArchive& ArchiveOf(const TZipMember& member) { return *ArchiveOf(member.archive); }

// Appends bytes to the member's scratch stream and its running CRC.
bool Produce(TZipMember& member, const uint8_t* bytes, size_t count) {
  member.crc = crc32(member.crc, bytes, static_cast<uInt>(count));
  return PkgSeek(member.data, 0, SEEK_END) == 0 && PkgWrite(bytes, 1, count, member.data) == count;
}

// Ends the member's production: a member that ended early, or whose bytes
// do not match their CRC, is reported and keeps what was produced.
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
  uint8_t header[kZipEncryptionHeaderSize];
  if (member.compressedLeft < sizeof header ||
      !ReadAt(ArchiveOf(member).m_source, member.nextCompressed, header, sizeof header))
    return false;
  member.cipher->Decrypt(header, sizeof header);
  member.nextCompressed += sizeof header;
  member.compressedLeft -= sizeof header;
  uint8_t check = (member.entry.flags & kZipFlagDataDescriptor) ? static_cast<uint8_t>(member.entry.dosTime >> 8)
                                                               : static_cast<uint8_t>(member.entry.crc >> 24);
  return header[kZipEncryptionHeaderSize - 1] == check;
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
  if (!ReadAt(ArchiveOf(member).m_source, member.nextCompressed, input, count)) return EndMember(member, false);
  member.nextCompressed += static_cast<int64_t>(count);
  member.compressedLeft -= count;
  if (member.cipher) member.cipher->Decrypt(input, count);
  bool finished = false;
  bool good = member.inflating ? InflateStep(member, input, count, finished) : Produce(member, input, count);
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
  return PkgMapProduced(stream, MemberOf(stream)->data, MemberOf(stream)->modified, forWriting, length);
}

int MemberTruncate(TPkgStream* stream) {
  return PkgTruncateProduced(stream, MemberOf(stream)->data, MemberOf(stream)->modified);
}

// The entry under which a member's new bytes are stored: a member that
// existed keeps its name and attributes, and takes the time of the handle.
TZipEntry EntryToWrite(const TZipMember& member, int32_t time) {
  TZipEntry entry = member.index == kNewMember ? member.entry : (*ArchiveOf(member).m_entries)[member.index];
  // Extra fields may hold times of their own, which would contradict the
  // new one.
  entry.centralExtra.clear();
  PkgTimeToDos(time, &entry.dosDate, &entry.dosTime);
  return entry;
}

// Writes the archive anew with the member's bytes in its place (a new
// member at the end), or without it when it is removed.
bool Rebuild(const TZipMember& member, bool remove, int32_t time) {
  const TZipArchive& archive = ArchiveOf(member);
  TPkgStream* out = PkgOpen(archive.Name().c_str(), "wb");
  if (!out) {
    LogMessage("Cannot write the ZIP archive %s", archive.Name().c_str());
    return false;
  }
  TZipWriter writer(out);
  bool good = true;
  for (size_t i = 0; good && i < archive.m_entries->size(); ++i) {
    if (i != member.index)
      good = writer.Copy(archive.m_source, (*archive.m_entries)[i]);
    else if (!remove)
      good = writer.Add(EntryToWrite(member, time), member.data, archive.m_password);
  }
  if (good && member.index == kNewMember) good = writer.Add(EntryToWrite(member, time), member.data, archive.m_password);
  good = good && writer.Finish();
  int closed = PkgClose(out, good ? kPkgKeep : kPkgAbandon);
  return good && closed == 0;
}

int MemberClose(TPkgStream* stream, int closeMode) {
  TZipMember* member = MemberOf(stream);
  bool good = true;
  if (closeMode == kPkgDelete) {
    good = member->index != kNewMember && Rebuild(*member, true, stream->info.time);
  } else if (closeMode == kPkgKeep && member->modified) {
    PkgProduceAll(stream);
    good = Rebuild(*member, false, stream->info.time);
  }
  TPkgStream* archive = member->archive;
  delete member;
  int closed = PkgClose(archive, closeMode == kPkgAbandon ? kPkgAbandon : kPkgKeep);
  return good && closed == 0 ? 0 : -1;
}

const TPkgOps kMemberOps = {nullptr, MemberMap, MemberFill, MemberTruncate, MemberClose};

// Prepares the reading of an existing member: where its data are, and the
// cipher and inflater it needs. False, with a log line, for a member this
// program cannot read.
bool StartReading(TZipMember& member) {
  const TZipEntry& entry = member.entry;
  if (entry.method != kZipMethodStored && entry.method != kZipMethodDeflated) {
    LogMessage("ZIP member %s uses compression method %u, which this program does not read", entry.name.c_str(),
               static_cast<unsigned>(entry.method));
    return false;
  }
  member.nextCompressed = ZipDataOffset(ArchiveOf(member).m_source, entry);
  if (member.nextCompressed < 0) {
    LogMessage("ZIP member %s is missing from its archive", entry.name.c_str());
    return false;
  }
  member.compressedLeft = entry.compressedSize;
  member.ended = false;
  // Without a password an encrypted member is delivered as it is stored.
  const std::string& password = ArchiveOf(member).m_password;
  if ((entry.flags & kZipFlagEncrypted) && !password.empty()) member.cipher = std::make_unique<TZipCipher>(password);
  if (entry.method == kZipMethodDeflated) {
    if (inflateInit2(&member.inflater, -MAX_WBITS) != Z_OK) return false;
    member.inflating = true;
  }
  return true;
}

// A new member's entry: its name stored as UTF-8 (flagged so when it is not
// plain ASCII), made on Unix with the permissions of any new file, so that
// unzip neither converts the name from an MS-DOS code page nor extracts a
// file nobody may read.
TZipEntry NewEntry(const std::string& name) {
  constexpr uint16_t kUnixHost = 3;
  constexpr uint32_t kRegularFile = 0100644;
  TZipEntry entry;
  entry.name = name;
  entry.rawName = name;
  bool plain = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  entry.flags = plain ? 0 : kZipFlagUtf8;
  entry.madeBy = kUnixHost << 8 | kZipVersionNeeded;
  entry.externalAttributes = kRegularFile << 16;
  return entry;
}

// The name a new member takes from the rest of the request: all of it, or
// up to the first '/' after a component ending in ".zip", so that
// "dir/b.zip/c.gif" creates the member "dir/b.zip" for the ZIP layer to
// claim next.
std::string NewMemberName(std::string_view rest) {
  for (size_t slash = rest.find('/'); slash != std::string_view::npos; slash = rest.find('/', slash + 1))
    if (EndsWithNoCase(rest.substr(0, slash), ".zip")) return std::string(rest.substr(0, slash));
  return std::string(rest);
}

// Opens the member the rest of the request names: an existing one for
// reading or changing, or, when writing, a new one.
TPkgStream* ArchiveOpenMember(TPkgStream* archiveHandle, TPkgRequest* request) {
  TZipArchive* archive = ArchiveOf(archiveHandle);
  std::string_view rest = request->name + request->parseIndex;
  if (rest.empty() || request->type == 'd') return nullptr;
  size_t index = archive->Find(rest);
  if (index == kNewMember && request->mode == 'r') return nullptr;
  auto* member = new (std::nothrow) TZipMember;
  if (!member) return nullptr;
  member->archive = archiveHandle;
  member->index = index;
  std::string name;
  if (index == kNewMember) {
    name = NewMemberName(rest);
    member->entry = NewEntry(name);
  } else {
    member->entry = (*archive->m_entries)[index];
    name = member->entry.name;
  }
  // The member the name ends with is stored when it is closed even if
  // nothing was written to it: "wb" makes it empty. A member on the way to
  // another (an archive inside this one) is stored only when written.
  bool last = rest.size() <= name.size() + 1;
  member->modified = last && (index == kNewMember || request->mode == 'w');
  bool reads = index != kNewMember && request->mode != 'w' && request->access != 'w';
  member->data = PkgTempStream(request->blockSize, request->blockCount);
  TPkgStream* stream = member->data && (!reads || StartReading(*member)) ? PkgNewStream(&kMemberOps, member) : nullptr;
  int32_t time = index == kNewMember ? PkgNow() : PkgDosToTime(member->entry.dosDate, member->entry.dosTime);
  if (!stream || !PkgSetInfo(&stream->info, archive->m_prefix + name, request->mode, 'b', request->access, "zip",
                             time, request->blockSize, request->blockCount)) {
    // The archive handle stays with the caller when the open fails.
    delete member;
    PkgFreeStream(stream);
    return nullptr;
  }
  size_t consumed = name.size() + (rest.size() > name.size() && rest[name.size()] == '/' ? 1 : 0);
  request->parseIndex += static_cast<int32_t>(consumed);
  return stream;
}

const TPkgOps kArchiveOps = {ArchiveOpenMember, TPkgListing::Map, TPkgListing::Fill, nullptr, ArchiveClose};

} // namespace

TPkgStream* ZipClaim(TPkgStream* source, TPkgRequest* request) {
  if (request->type == 'b') return nullptr;
  TZipEntries entries = ZipReadEntries(source, request->searchFlag != 0);
  bool writes = request->mode != 'r' || request->access != 'r';
  if (entries->empty()) {
    // Only an empty file named like an archive becomes a new one.
    bool empty = PkgSeek(source, 0, SEEK_END) == 0 && PkgTell(source) == 0;
    if (!writes || !empty || !EndsWithNoCase(source->info.name, ".zip")) return nullptr;
  }
  auto* archive = new (std::nothrow)
      TZipArchive(std::string(source->info.name) + "/", request->password, std::move(entries));
  if (!archive) return nullptr;
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
