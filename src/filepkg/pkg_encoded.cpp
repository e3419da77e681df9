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

namespace {

// Lines of the text are cut to this length; the rest is the next line.
constexpr size_t kMaxLineLength = 249;
// A text file: at least this many bytes, and no more than kMaxBinaryBytes
// outside tab, LF, CR and 32..127 in its first kTextSample bytes.
constexpr size_t kMinTextBytes = 64;
constexpr size_t kMaxBinaryBytes = 32;
constexpr size_t kTextSample = 16384;
// A member's Fill decodes until this many bytes have come, or its end.
constexpr size_t kFillStep = 65536;
// Decoded files stay in memory up to 64 blocks of 1 MB.
constexpr int32_t kDataBlockSize = 1 << 20;
constexpr int32_t kDataBlockCount = 64;

bool LooksLikeText(TPkgStream* stream) {
  uint8_t sample[kTextSample];
  size_t count = PkgSeek(stream, 0, SEEK_SET) == 0 ? PkgRead(sample, 1, sizeof sample, stream) : 0;
  if (count < kMinTextBytes) return false;
  size_t binary = 0;
  for (size_t i = 0; i < count; ++i) {
    uint8_t c = sample[i];
    binary += !(c == '\t' || c == '\n' || c == '\r' || (c >= 32 && c <= 127));
  }
  return binary <= kMaxBinaryBytes;
}

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
bool IsHeaderField(const std::string& line) {
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
    std::string line;
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
        if (!m_ended) m_reader.Unread(line);
      }
      m_name = FileName(headerName, ++m_number);
      return true;
    }
    return false;
  }

  // Feeds the current file's lines to its decoder, at most lines of them;
  // false once the file has ended.
  bool Decode(int lines) {
    std::string line;
    for (int i = 0; !m_ended && i < lines; ++i) {
      if (!m_reader.Next(line)) {
        m_ended = true;
      } else if (!HeaderName(line).empty() || StartOf(line, m_decoder->Kind()) != TEncoding::None) {
        // That line belongs to the next file.
        m_reader.Unread(line);
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

// A decoded file being read: the container handle (owned) whose walk stands
// at the file, and the bytes decoded so far.
struct TEncodedMember {
  TPkgStream* container = nullptr;
  TPkgStream* data = nullptr;
  std::string decoded; // bytes decoded since they last went to data
  bool complete = false;

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
  TFileWalk& walk = *TextOf(member.container)->m_walk;
  bool more = true;
  while (more && member.decoded.size() < kFillStep) more = walk.Decode(64);
  member.Store();
  stream->size = member.data->size;
  member.complete = walk.Complete();
  return more ? 0 : 1;
}

uint8_t* MemberMap(TPkgStream* stream, int forWriting, int32_t* length) {
  if (forWriting || stream->position < 0) return nullptr;
  TPkgStream* data = MemberOf(stream)->data;
  data->position = stream->position;
  uint8_t* bytes = data->ops->Map(data, 0, length);
  if (bytes) stream->position = data->position;
  return bytes;
}

// A file decoded to its end is kept by the open-file cache, so that opening
// it again does not decode it again.
int MemberClose(TPkgStream* stream, int closeMode) {
  TEncodedMember* member = MemberOf(stream);
  if (closeMode == kPkgKeep && member->complete) {
    PkgClose(PkgCacheWrap(member->data, stream->info.name), kPkgKeep);
    member->data = nullptr;
  }
  delete member;
  return closeMode == kPkgDelete ? -1 : 0;
}

const TPkgOps kMemberOps = {nullptr, MemberMap, MemberFill, nullptr, MemberClose};

// Opens the decoded file the next component names: the files are walked
// from the first until one of that name (without regard to case) starts.
TPkgStream* TextOpenMember(TPkgStream* handle, TPkgRequest* request) {
  TEncodedText* text = TextOf(handle);
  const char* rest = request->name + request->parseIndex;
  size_t length = std::strcspn(rest, "/");
  if (length == 0 || request->mode != 'r' || request->access != 'r' || request->type == 'd') return nullptr;
  auto* member = new (std::nothrow) TEncodedMember;
  if (!member) return nullptr;
  member->data = PkgTempStream(kDataBlockSize, kDataBlockCount);
  TFileWalk& walk = *text->m_walk;
  walk.Restart();
  bool found = false;
  while (member->data && walk.NextFile(Collect, &member->decoded)) {
    const std::string& name = walk.Name();
    if (name.size() == length && strncasecmp(name.data(), rest, length) == 0) {
      found = true;
      break;
    }
    // The bytes of a file passed over go.
    while (walk.Decode(1 << 10)) member->decoded.clear();
    member->decoded.clear();
  }
  if (found) member->Store();
  TPkgStream* stream = found ? PkgNewStream(&kMemberOps, member) : nullptr;
  if (!stream || !PkgSetInfo(&stream->info, text->m_prefix + walk.Name(), 'r', 'b', 'r', "uue", handle->info.time,
                             request->blockSize, request->blockCount)) {
    PkgFreeStream(stream);
    delete member;
    return nullptr;
  }
  member->container = handle;
  stream->size = member->data->size;
  request->parseIndex += static_cast<int32_t>(length + (rest[length] == '/' ? 1 : 0));
  return stream;
}

int TextClose(TPkgStream* stream, int closeMode) {
  delete TextOf(stream);
  return closeMode == kPkgDelete ? -1 : 0;
}

const TPkgOps kTextOps = {TextOpenMember, TPkgListing::Map, TPkgListing::Fill, nullptr, TextClose};

} // namespace

TPkgStream* EncodedClaim(TPkgStream* source, TPkgRequest* request) {
  if (request->type == 'b' || request->mode != 'r' || request->access != 'r' || !LooksLikeText(source))
    return nullptr;
  // Only a text that holds an encoded file is claimed.
  PkgSeek(source, 0, SEEK_SET);
  TFileWalk probe(source);
  if (!probe.NextFile(Discard, nullptr)) return nullptr;
  PkgSeek(source, 0, SEEK_SET);
  auto* text = new (std::nothrow) TEncodedText(std::string(source->info.name) + "/");
  if (!text) return nullptr;
  TPkgStream* handle = PkgNewContainerHandle(&kTextOps, text, *source, "uue");
  // A handle that cannot be made leaves the stream with the caller.
  if (handle) text->Adopt(source);
  return handle;
}
