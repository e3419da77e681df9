// Encoded files as package containers. The text is read a line at a time;
// header lines (a MIME Content-Type, a BinHex header, a uuencode "begin")
// name the next file, start lines begin its decoding, and the file runs
// until its decoder reports the end or a header or start line of another
// file comes. Files are numbered in the order they appear; a file without a
// name of its own, or with only an extension, is "file0001.dat",
// "file0002.jpg" and so on by that number.
#include "filepkg/pkg_encoded.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "filepkg/encoded_text.h"
#include "filepkg/pkg_cache.h"
#include "filepkg/pkg_layers.h"
#include "filepkg/pkg_listing.h"
#include "filepkg/filepkg.h"

namespace {

// Lines of the text are cut to this length; the rest is the next line.
constexpr size_t kMaxLineLength = 249;
// A text file: at least this many bytes among its first kTextSample.
constexpr size_t kMinTextBytes = 64;
constexpr size_t kTextSample = 16384;
// A member's Fill decodes until this many bytes have come, or its end.
constexpr size_t kFillStep = 65536;
// Decoded files stay in memory up to 32 blocks of 2 MB.
constexpr int32_t kDataBlockSize = 1 << 21;
constexpr int32_t kDataBlockCount = 32;

bool LooksLikeText(TPkgStream* stream) { return PkgLooksLikeText(stream, kTextSample, kMinTextBytes); }

// The name a decoded file is listed under: the header's name without any
// folders; "file%4.4d" and the extension for a name that is only one, and
// with ".dat" for none at all (or one that would name a folder).
std::string FileName(const std::string& headerName, int number) {
  std::string name = headerName.substr(headerName.find_last_of("/\\") + 1);
  if (name == "." || name == "..") name.clear();
  if (!name.empty() && name[0] != '.') return name;
  char numbered[32];
  std::snprintf(numbered, sizeof numbered, "file%4.4d", number);
  return numbered + (name.empty() ? std::string(".dat") : name);
}

// "Name: value", as the header fields of mail are written: a name of
// letters, digits and '-', a colon and a space.
bool IsHeaderField(std::string_view line) {
  size_t colon = line.find(": ");
  if (colon == std::string::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(line[0]))) return false;
  return std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(colon),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; });
}

// Walks the files of a text: finds the next one and decodes it, line by
// line, into a sink.
class TFileWalk {
public:
  explicit TFileWalk(TPkgStream* source) : m_reader(source, kMaxLineLength, true) {}

  void Restart() {
    m_reader.Restart();
    m_number = 0;
    m_decoder.reset();
  }

  // Finds the next file and starts its decoder on its start line; false
  // when the text holds no more.
  bool NextFile(TDecoder::TSink sink, void* context) {
    std::string headerName;
    std::string_view line;
    m_decoder.reset();
    while (m_reader.Next(line)) {
      std::string named = HeaderName(line);
      if (!named.empty()) headerName = named;
      TEncoding kind = StartOf(line, TEncoding::None);
      if (kind == TEncoding::None) continue;
      m_decoder = MakeDecoder(kind, sink, context);
      m_ended = m_decoder->Feed(line);
      // The header fields of a MIME part may go on after its
      // "Content-Transfer-Encoding"; a "Content-Disposition" among them
      // names the part.
      if (IsHeaderField(line)) {
        while (!m_ended && m_reader.Next(line) && IsHeaderField(line))
          if (IsMimeHeader(line)) headerName = HeaderName(line);
        if (!m_ended) m_reader.Unread(std::string(line));
      }
      m_name = FileName(headerName, ++m_number);
      return true;
    }
    return false;
  }

  // Feeds the current file's lines to its decoder, at most lines of them;
  // false once the file has ended.
  bool Decode(int lines) {
    std::string_view line;
    for (int i = 0; !m_ended && i < lines; ++i) {
      if (!m_reader.Next(line)) {
        m_ended = true;
      } else if (!HeaderName(line).empty() || StartOf(line, m_decoder->Kind()) != TEncoding::None) {
        // That line belongs to the next file.
        m_reader.Unread(std::string(line));
        m_ended = true;
      } else {
        m_ended = m_decoder->Feed(line);
      }
    }
    return !m_ended;
  }

  const std::string& Name() const { return m_name; }
  // True when the current file was decoded to its end (not stopped).
  bool Complete() const { return m_ended && !m_reader.Stopped(); }

private:
  TLineReader m_reader;
  std::unique_ptr<TDecoder> m_decoder;
  std::string m_name;
  int m_number = 0;
  bool m_ended = true;
};

void Discard(void*, const uint8_t*, size_t) {}

// Decoded bytes are collected and written to the member's data a step at a
// time.
void Collect(void* context, const uint8_t* bytes, size_t count) {
  static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(bytes), count);
}

// The container's state: the text and the listing of its files.
class TEncodedText final : public TPkgListing {
public:
  explicit TEncodedText(std::string prefix) : m_prefix(std::move(prefix)) {}
  ~TEncodedText() override {
    if (m_source) PkgClose(m_source, kPkgKeep);
  }

  void Adopt(TPkgStream* source) {
    m_source = source;
    m_walk = std::make_unique<TFileWalk>(source);
  }

  TPkgStream* m_source = nullptr;
  std::string m_prefix; // container name + '/'
  std::unique_ptr<TFileWalk> m_walk;

protected:
  bool Rewind() override {
    m_walk->Restart();
    return true;
  }
  bool NextEntry(char* record) override {
    if (!m_walk->NextFile(Discard, nullptr)) return false;
    while (m_walk->Decode(kMaxLines)) {
    }
    std::string name = m_prefix + m_walk->Name();
    std::memcpy(record, name.data(), std::min<size_t>(name.size(), kPkgRecordSize - 1));
    return true;
  }

private:
  static constexpr int kMaxLines = 1 << 20;
};

TEncodedText* TextOf(TPkgStream* stream) { return static_cast<TEncodedText*>(stream->layerData); }

// A decoded file: the container handle (owned) whose walk stands at the
// file, and the bytes decoded so far; or, being written, its new bytes.
struct TEncodedMember {
  TPkgStream* container = nullptr;
  TPkgStream* data = nullptr;
  std::string decoded; // bytes decoded since they last went to data
  bool complete = false;
  int number = 0; // the file's place in the text, from 1; 0 for a new file
  std::string name;
  bool modified = false;

  // Moves the bytes decoded so far to the end of data, wherever its reader
  // stands.
  void Store() {
    if (!decoded.empty() && PkgSeek(data, 0, SEEK_END) == 0) PkgWrite(decoded.data(), 1, decoded.size(), data);
    decoded.clear();
  }
  ~TEncodedMember() {
    if (data) PkgClose(data, kPkgKeep);
    if (container) PkgClose(container, kPkgKeep);
  }
};

TEncodedMember* MemberOf(TPkgStream* stream) { return static_cast<TEncodedMember*>(stream->layerData); }

int MemberFill(TPkgStream* stream) {
  TEncodedMember& member = *MemberOf(stream);
  if (member.number == 0 || member.complete) return 1;
  TFileWalk& walk = *TextOf(member.container)->m_walk;
  bool more = true;
  while (more && member.decoded.size() < kFillStep) more = walk.Decode(64);
  member.Store();
  stream->size = member.data->size;
  member.complete = walk.Complete() || !more;
  return more ? 0 : 1;
}

uint8_t* MemberMap(TPkgStream* stream, int forWriting, int32_t* length) {
  return PkgMapProduced(stream, MemberOf(stream)->data, MemberOf(stream)->modified, forWriting, length);
}

int MemberTruncate(TPkgStream* stream) {
  return PkgTruncateProduced(stream, MemberOf(stream)->data, MemberOf(stream)->modified);
}

bool WriteText(TPkgStream* out, std::string_view text) {
  return PkgWrite(text.data(), 1, text.size(), out) == text.size();
}

// One file uuencoded into the new text: the section header when one is set
// (EncodeHeader), "begin 644 name", lines of 45 bytes, "`" and "end", and
// the header again.
bool Encode(TPkgStream* out, const std::string& name, TPkgStream* data) {
  std::string header;
  if (const char* format = static_cast<const char*>(PkgGetPtr("EncodeHeader"))) {
    char text[kPkgNameSize + 256];
    std::snprintf(text, sizeof text, format, 1, 1, name.c_str());
    header = text;
  }
  bool good = WriteText(out, header) && WriteText(out, "begin 644 " + name + "\r\n") && PkgSeek(data, 0, SEEK_SET) == 0;
  uint8_t bytes[kUuLineBytes * 1024];
  while (good) {
    size_t count = PkgRead(bytes, 1, sizeof bytes, data);
    for (size_t at = 0; good && at < count; at += kUuLineBytes)
      good = WriteText(out, UuencodeLine(bytes + at, std::min(kUuLineBytes, count - at)));
    if (count < sizeof bytes) break;
  }
  return good && WriteText(out, "`\r\nend\r\n") && WriteText(out, header);
}

// Writes the text anew as its files, uuencoded one after the other: the
// member's new bytes in its place (a new file at the end), or without it
// when it is removed. The text between the files is not kept. A text left
// without files is deleted.
bool Rebuild(TEncodedMember& member, bool remove) {
  TEncodedText& text = *TextOf(member.container);
  const std::string container = text.m_prefix.substr(0, text.m_prefix.size() - 1);
  TPkgStream* out = PkgOpen(container.c_str(), "wb");
  TPkgStream* file = PkgTempStream(kDataBlockSize, kDataBlockCount);
  bool good = out && file;
  int files = 0;
  std::string bytes;
  TFileWalk walk(text.m_source);
  walk.Restart();
  for (int number = 1; good && walk.NextFile(Collect, &bytes); ++number) {
    while (walk.Decode(1 << 10)) {
    }
    if (number == member.number) {
      if (!remove) good = Encode(out, member.name, member.data);
    } else {
      good = PkgSeek(file, 0, SEEK_SET) == 0 && PkgTruncate(file) == 0 &&
             PkgWrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && Encode(out, walk.Name(), file);
    }
    files += number != member.number || !remove;
    bytes.clear();
  }
  if (good && member.number == 0 && !remove) {
    good = Encode(out, member.name, member.data);
    ++files;
  }
  PkgClose(file, kPkgKeep);
  bool closed = out && PkgClose(out, good ? kPkgKeep : kPkgAbandon) == 0;
  if (good && closed && files == 0) PkgDelete(container.c_str());
  return good && closed;
}

// Closing a file written keeps its bytes in the text; deleting it writes
// the text without it. A file decoded to its end is kept by the open-file
// cache, so that opening it again does not decode it again.
int MemberClose(TPkgStream* stream, int closeMode) {
  TEncodedMember* member = MemberOf(stream);
  bool good = true;
  if (closeMode == kPkgDelete) {
    good = member->number != 0 && Rebuild(*member, true);
  } else if (closeMode == kPkgKeep && member->modified) {
    PkgProduceAll(stream);
    good = Rebuild(*member, false);
  } else if (closeMode == kPkgKeep && member->complete && stream->info.access == 'r') {
    PkgClose(PkgCacheWrap(member->data, stream->info.name), kPkgKeep);
    member->data = nullptr;
  }
  delete member;
  return good ? 0 : -1;
}

const TPkgOps kMemberOps = {nullptr, MemberMap, MemberFill, MemberTruncate, MemberClose};

// The name a new file takes from the rest of the request: all of it, or up
// to the first '/' after a component ending in ".uue".
std::string NewFileName(std::string_view rest) {
  for (size_t slash = rest.find('/'); slash != std::string_view::npos; slash = rest.find('/', slash + 1))
    if (slash >= 4 && strncasecmp(rest.data() + slash - 4, ".uue", 4) == 0) return std::string(rest.substr(0, slash));
  return std::string(rest);
}

// Opens the decoded file the next component names: the files are walked
// from the first until one of that name (without regard to case) starts.
// Writing opens it empty ("wb") or as it is ("rb+"), or makes a new file.
TPkgStream* TextOpenMember(TPkgStream* handle, TPkgRequest* request) {
  TEncodedText* text = TextOf(handle);
  std::string_view rest = request->name + request->parseIndex;
  size_t length = std::min(rest.find('/'), rest.size());
  if (length == 0 || request->type == 'd') return nullptr;
  auto* member = new (std::nothrow) TEncodedMember;
  if (!member) return nullptr;
  member->data = PkgTempStream(kDataBlockSize, kDataBlockCount);
  TFileWalk& walk = *text->m_walk;
  walk.Restart();
  for (int number = 1; member->data && walk.NextFile(Collect, &member->decoded); ++number) {
    const std::string& name = walk.Name();
    if (name.size() == length && strncasecmp(name.data(), rest.data(), length) == 0) {
      member->number = number;
      member->name = name;
      break;
    }
    // The bytes of a file passed over go.
    while (walk.Decode(1 << 10)) member->decoded.clear();
    member->decoded.clear();
  }
  const bool writes = request->mode != 'r' || request->access != 'r';
  if (member->number == 0) member->name = NewFileName(rest);
  // "wb" starts the file empty; reading starts from its decoded bytes.
  if (member->number != 0 && request->mode == 'w') {
    member->decoded.clear();
    member->complete = true;
  }
  member->Store();
  // The file the name ends with is stored when it is closed even if nothing
  // was written to it; a file on the way to another is stored only when
  // written.
  member->modified = writes && rest.size() <= member->name.size() + 1 && (member->number == 0 || request->mode == 'w');
  bool opens = member->data && (member->number != 0 || writes);
  TPkgStream* stream = opens ? PkgNewStream(&kMemberOps, member) : nullptr;
  if (!stream || !PkgSetInfo(&stream->info, text->m_prefix + member->name, request->mode, 'b', request->access, "uue",
                             handle->info.time, request->blockSize, request->blockCount)) {
    PkgFreeStream(stream);
    delete member;
    return nullptr;
  }
  member->container = handle;
  stream->size = member->data->size;
  size_t consumed = member->name.size() + (rest.size() > member->name.size() && rest[member->name.size()] == '/');
  request->parseIndex += static_cast<int32_t>(consumed);
  return stream;
}

int TextClose(TPkgStream* stream, int closeMode) {
  delete TextOf(stream);
  return closeMode == kPkgDelete ? -1 : 0;
}

const TPkgOps kTextOps = {TextOpenMember, TPkgListing::Map, TPkgListing::Fill, nullptr, TextClose};

} // namespace

TPkgStream* EncodedClaim(TPkgStream* source, TPkgRequest* request) {
  if (request->type == 'b') return nullptr;
  // A text that holds an encoded file is claimed, and for writing also an
  // empty file named like one (a new encoded file).
  bool writes = request->mode != 'r' || request->access != 'r';
  bool empty = PkgSeek(source, 0, SEEK_END) == 0 && PkgTell(source) == 0;
  size_t nameLength = std::strlen(source->info.name);
  bool newText = writes && empty && nameLength > 4 && strcasecmp(source->info.name + nameLength - 4, ".uue") == 0;
  if (!newText) {
    if (!LooksLikeText(source)) return nullptr;
    PkgSeek(source, 0, SEEK_SET);
    TFileWalk probe(source);
    probe.Restart();
    if (!probe.NextFile(Discard, nullptr)) return nullptr;
  }
  PkgSeek(source, 0, SEEK_SET);
  auto* text = new (std::nothrow) TEncodedText(std::string(source->info.name) + "/");
  if (!text) return nullptr;
  TPkgStream* handle = PkgNewContainerHandle(&kTextOps, text, *source, "uue");
  // A handle that cannot be made leaves the stream with the caller.
  if (handle) text->Adopt(source);
  return handle;
}
