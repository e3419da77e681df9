// Encoded text: the line reader, the recognisers of header and start lines,
// and the base64, BinHex 4.0 and uuencode decoders, with the tolerance each
// needs for text that went through mailers and news servers.
#include "filepkg/encoded_text.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cctype>
#include <cstring>
#include <vector>

namespace {

constexpr int32_t kReadBlock = 65536;
constexpr size_t kMaxMimeHeaderLength = 253;
constexpr size_t kBinHexLineLength = 64;
constexpr size_t kMinBinHexEndLine = 32;
constexpr size_t kMinBase64StartLength = 60;
constexpr size_t kMaxBase64LineLength = 76;
constexpr size_t kMinUuStartLength = 61;
constexpr size_t kUuFullLength = 61;
constexpr uint8_t kBinHexRunMarker = 0x90;
constexpr size_t kBinHexHeaderBase = 22;

constexpr std::string_view kUuBegin = "begin ";
constexpr std::string_view kBase64Begin = "begin-base64 ";
constexpr std::string_view kBase64Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kBinHexAlphabet = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";

// 6-bit values of an alphabet's characters; 0xFF for characters outside it.
std::array<uint8_t, 256> ValuesOf(std::string_view alphabet) {
  std::array<uint8_t, 256> values;
  values.fill(0xFF);
  for (size_t i = 0; i < alphabet.size(); ++i) values[static_cast<uint8_t>(alphabet[i])] = static_cast<uint8_t>(i);
  return values;
}

// Text is scanned and decoded sixteen characters at a time, as a chunk the
// compiler keeps in a vector register (SSE2, NEON): a line costs a few steps
// per chunk instead of a few per character.
using TChunk = uint8_t __attribute__((vector_size(16)));
constexpr size_t kChunkSize = sizeof(TChunk);

TChunk LoadChunk(const uint8_t* at) {
  TChunk chunk;
  std::memcpy(&chunk, at, kChunkSize);
  return chunk;
}

// One bit for each character of a chunk of comparison results (0 or 0xFF a
// character), the first character's lowest.
uint32_t MarksOf(TChunk results) {
  uint64_t halves[2];
  std::memcpy(halves, &results, kChunkSize);
  uint32_t marks = 0;
  for (int half = 0; half < 2; ++half) {
    uint64_t bytes = halves[half];
    if constexpr (std::endian::native == std::endian::big) bytes = __builtin_bswap64(bytes);
    // A 1 in each marked byte, gathered into the top byte by one product.
    marks |= static_cast<uint32_t>(((bytes & 0x0101010101010101) * 0x0102040810204080) >> 56) << (8 * half);
  }
  return marks;
}

bool AnyMarked(TChunk results) {
  uint64_t halves[2];
  std::memcpy(halves, &results, kChunkSize);
  return (halves[0] | halves[1]) != 0;
}

const std::array<uint8_t, 256> kBase64Values = ValuesOf(kBase64Alphabet);

const std::array<uint8_t, 256> kBinHexValues = ValuesOf(kBinHexAlphabet);

// Content types of MIME parts without a name, and the extension their file
// gets; tested in order as parts of the lower-cased header line.
struct TContentType {
  const char* type;
  const char* extension;
};
constexpr TContentType kContentTypes[] = {
    {"application/x-gzip", ".gz"},
    {"application/x-compress", ".Z"},
    {"application/postscript", ".ps"},
    {"application/octet-stream", ".exe"},
    {"application/x-tar", ".tar"},
    {"application/x-zip-compressed", ".zip"},
    {"application/x-stuffit", ".sit"},
    {"application/mac-binhex40", ".hqx"},
    {"video/x-msvideo", ".avi"},
    {"video/quicktime", ".mov"},
    {"video/mpeg", ".mpg"},
    {"audio/x-wav", ".wav"},
    {"audio/x-aiff", ".aif"},
    {"audio/basic", ".au"},
    {"image/x-ms-bmp", ".bmp"},
    {"image/bmp", ".bmp"},
    {"image/tiff", ".tif"},
    {"image/jpeg", ".jpg"},
    {"image/gif", ".gif"},
    {"application/rtf", ".rtf"},
    {"text/html", ".htm"},
    {"text/plain", ".txt"},
};

bool StartsNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// The line without trailing characters at or below limit.
std::string_view TrimEnd(std::string_view line, char limit) {
  while (!line.empty() && static_cast<unsigned char>(line.back()) <= static_cast<unsigned char>(limit))
    line.remove_suffix(1);
  return line;
}

bool AllIn(std::string_view text, const std::array<uint8_t, 256>& values) {
  return std::all_of(text.begin(), text.end(), [&](char c) { return values[static_cast<uint8_t>(c)] != 0xFF; });
}

// A base64 line: 4 to 76 characters of the alphabet and '=', a multiple of
// 4, once trailing blanks are gone.
bool IsBase64Line(std::string_view line) {
  line = TrimEnd(line, ' ');
  if (line.size() < 4 || line.size() > kMaxBase64LineLength || line.size() % 4 != 0) return false;
  return std::all_of(line.begin(), line.end(),
                     [](char c) { return c == '=' || kBase64Values[static_cast<uint8_t>(c)] != 0xFF; });
}

bool IsBase64End(std::string_view line) {
  line = TrimEnd(line, ' ');
  return line.size() >= 4 && line.find_first_not_of('=') == std::string_view::npos;
}

// A BinHex line: ':' and the alphabet, 64 characters, or more than 31 that
// end in ':'.
bool IsBinHexStart(std::string_view line) {
  line = TrimEnd(line, ' ');
  if (line.empty() || line[0] != ':') return false;
  bool closed = line.size() > 1 && line.back() == ':';
  std::string_view body = line.substr(1, line.size() - 1 - (closed ? 1 : 0));
  if (!AllIn(body, kBinHexValues)) return false;
  return line.size() == kBinHexLineLength || (closed && line.size() >= kMinBinHexEndLine);
}

// "begin", a space, one to three octal digits, a space and a name; with
// "begin-base64" in front (as sharutils writes base64), the same.
bool IsBeginLine(std::string_view line, std::string_view begin, std::string* name = nullptr) {
  size_t start = begin.size();
  if (line.substr(0, start) != begin) return false;
  size_t digits = 0;
  while (start + digits < line.size() && digits < 4 && line[start + digits] >= '0' && line[start + digits] <= '7')
    ++digits;
  if (digits < 1 || digits > 3 || start + digits >= line.size() || line[start + digits] != ' ') return false;
  std::string_view rest = line.substr(start + digits + 1);
  size_t end = 0;
  while (end < rest.size() && static_cast<unsigned char>(rest[end]) >= ' ') ++end;
  if (name) *name = rest.substr(0, end);
  return true;
}

int UuValue(char c) { return (static_cast<unsigned char>(c) - ' ') & 63; }

// Joins the two halves (kWidth bits wide, kBits of them used) of every lane
// of a vector: the half that holds the earlier characters goes above.
template <int kWidth, int kBits, typename TLanes>
TLanes JoinHalves(TLanes lanes) {
  constexpr unsigned kHalf = (1u << kWidth) - 1;
  const TLanes low = lanes & kHalf;
  const TLanes high = lanes >> kWidth;
  if constexpr (std::endian::native == std::endian::little) return low << kBits | high;
  return high << kBits | low;
}

// Stores the three bytes of each of two groups, highest first, and two
// bytes more.
void StoreGroups(uint8_t* at, uint64_t first, uint64_t second) {
  uint64_t word = (first << 24 | second) << 16;
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  std::memcpy(at, &word, sizeof word);
}

// The 6-bit values of a chunk of uuencoded characters ('`' is 0); outside
// gets the characters that are not between ' ' and '`' marked.
TChunk UuValues(TChunk chars, TChunk& outside) {
  // ' ' to '`' less ' ' are 0 to 64; everything else wraps or stays above.
  const TChunk offset = chars - ' ';
  outside |= offset > 64;
  return offset & 63;
}

// The 6-bit values of a chunk of base64 characters ('=' is 0); outside gets
// the characters that are neither of the alphabet nor '=' marked. Like the
// chunk decoder it is always inlined, so that its vectors stay in registers
// instead of going through memory for every call.
[[gnu::always_inline]] inline TChunk Base64Values(TChunk chars, TChunk& outside) {
  const TChunk upper = chars - 'A' < 26;
  const TChunk lower = chars - 'a' < 26;
  const TChunk digit = chars - '0' < 10;
  const TChunk plus = chars == '+';
  const TChunk slash = chars == '/';
  const TChunk padding = chars == '=';
  outside |= ~(upper | lower | digit | plus | slash | padding);
  // Each kind of character is one difference away from its values.
  const TChunk difference = (upper & static_cast<uint8_t>(-'A')) | (lower & static_cast<uint8_t>(26 - 'a')) |
                            (digit & static_cast<uint8_t>(52 - '0')) | (plus & static_cast<uint8_t>(62 - '+')) |
                            (slash & static_cast<uint8_t>(63 - '/')) | (padding & static_cast<uint8_t>(-'='));
  return chars + difference;
}

using TValuesOf = TChunk (*)(TChunk chars, TChunk& outside);

// Decodes the four groups of four characters in a chunk into three bytes
// each, and two bytes more: each character holds 6 bits, the first the
// highest.
template <TValuesOf kValuesOf>
[[gnu::always_inline]] inline void DecodeChunk(const uint8_t* chars, uint8_t* out, TChunk& outside) {
  using TPairs = uint16_t __attribute__((vector_size(16)));
  using TGroups = uint32_t __attribute__((vector_size(16)));
  const TChunk values = kValuesOf(LoadChunk(chars), outside);
  // The values joined to 12 bits a pair, then 24 a group.
  const auto pairs = JoinHalves<8, 6>(reinterpret_cast<TPairs>(values));
  const auto groups = JoinHalves<16, 12>(reinterpret_cast<TGroups>(pairs));
  StoreGroups(out, groups[0], groups[1]);
  StoreGroups(out + 6, groups[2], groups[3]);
}

// Decodes groups of four characters into three bytes each; out needs room
// for the bytes of at least four groups, and for two bytes past them. False
// when a character has no value (the line then holds no data); filler is a
// character of value 0.
template <TValuesOf kValuesOf>
bool DecodeGroups(const uint8_t* text, size_t groups, uint8_t* out, char filler) {
  constexpr size_t kGroups = kChunkSize / 4;
  TChunk outside = {};
  size_t done = 0;
  for (; done + kGroups <= groups; done += kGroups) DecodeChunk<kValuesOf>(text + 4 * done, out + 3 * done, outside);
  if (done == groups) return !AnyMarked(outside);
  // The groups left over: the last chunk's worth again, overlapping groups
  // decoded already, or few enough groups followed by filler.
  if (groups >= kGroups) {
    done = groups - kGroups;
    DecodeChunk<kValuesOf>(text + 4 * done, out + 3 * done, outside);
  } else {
    uint8_t chunk[kChunkSize];
    std::memset(chunk, filler, kChunkSize);
    std::memcpy(chunk, text, 4 * groups);
    DecodeChunk<kValuesOf>(chunk, out, outside);
  }
  return !AnyMarked(outside);
}

// A uuencoded data line: counted, of characters ' ' to '`', not longer than
// its count needs (one extra character tolerated).
bool IsUuLine(std::string_view line) {
  line = TrimEnd(line, ' ' - 1);
  if (line.size() == kUuFullLength + 1) line.remove_suffix(1);
  if (line.empty() || line.size() > kUuFullLength) return false;
  int count = UuValue(line[0]);
  if (count == 0 || count > static_cast<int>(kUuLineBytes)) return false;
  if (!std::all_of(line.begin(), line.end(), [](char c) { return c >= ' ' && c <= '`'; })) return false;
  return line.size() <= static_cast<size_t>(4 * ((count + 2) / 3) + 1);
}

// MIME: the name= of a Content-Type line, or an extension for its type.
std::string MimeName(std::string_view line) {
  std::string lower(line);
  std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) { return std::tolower(static_cast<unsigned char>(c)); });
  size_t at = lower.find("name=");
  if (at != std::string::npos) {
    std::string value = lower.substr(at + 5);
    if (!value.empty() && value[0] == '"') value = value.substr(1, value.find('"', 1) - 1);
    value = std::string(TrimEnd(value, ' '));
    if (!value.empty()) return value;
  }
  for (const TContentType& type : kContentTypes)
    if (lower.find(type.type) != std::string::npos) return type.extension;
  return ".dat";
}

class TBase64Decoder final : public TDecoder {
public:
  TBase64Decoder(TSink sink, void* context) : TDecoder(TEncoding::Base64, sink, context) {}

  bool Feed(std::string_view line) override {
    // sharutils ends its base64 with a line of '='.
    if (IsBase64End(line)) return true;
    line = TrimEnd(line, ' ');
    if (line.size() < 4 || line.size() > kMaxBase64LineLength || line.size() % 4 != 0) return false;
    // One pass decodes and checks: a character outside the alphabet and '='
    // makes the line no base64 line.
    const auto* text = reinterpret_cast<const uint8_t*>(line.data());
    uint8_t bytes[kMaxBase64LineLength / 4 * 3 + 2];
    const size_t count = line.size() / 4 * 3;
    if (!DecodeGroups<Base64Values>(text, line.size() / 4, bytes, 'A')) return false;
    // Padding at the end of the line: a byte fewer for each '=', and the
    // file ends here.
    size_t padding = (line[line.size() - 1] == '=') + (line[line.size() - 2] == '=');
    Deliver(bytes, count - padding);
    return padding > 0;
  }
  bool EndsShort() const override { return false; }
};

// BinHex 4.0: 6 bits per character, a run-length rule on the bytes, then a
// header (name length n, name, version, type, creator, flags, data and
// resource lengths, CRC: n + 22 bytes) and the data fork; the resource fork
// and the CRCs are not used.
class TBinHexDecoder final : public TDecoder {
public:
  TBinHexDecoder(TSink sink, void* context) : TDecoder(TEncoding::BinHex, sink, context) {}

  bool Feed(std::string_view line) override {
    line = TrimEnd(line, ' ');
    if (line.empty()) return false;
    size_t fullLength = line.size();
    if (line[0] == ':') line.remove_prefix(1);
    bool closed = !line.empty() && line.back() == ':';
    if (closed) line.remove_suffix(1);
    // A short line belongs to the data only right after a full one.
    if (!AllIn(line, kBinHexValues) || (fullLength != kBinHexLineLength && !m_lastLineFull)) return false;
    m_lastLineFull = fullLength == kBinHexLineLength;
    m_out.clear();
    for (char c : line) {
      m_bits = m_bits << 6 | kBinHexValues[static_cast<uint8_t>(c)];
      m_bitCount += 6;
      if (m_bitCount >= 8) {
        m_bitCount -= 8;
        Unrun(static_cast<uint8_t>(m_bits >> m_bitCount));
      }
    }
    Deliver(m_out.data(), m_out.size());
    return closed || Complete();
  }
  bool EndsShort() const override { return !Complete(); }

  // The name in the header, once the line that holds it has been fed.
  std::string Name() const {
    if (m_header.empty() || m_header.size() < 1u + m_header[0]) return {};
    return std::string(m_header.begin() + 1, m_header.begin() + 1 + m_header[0]);
  }

private:
  bool Complete() const { return m_headerDone && m_delivered == m_dataLength; }

  // 90 hex followed by 0 is a literal 90 hex; followed by n it repeats the
  // byte before it n - 1 more times.
  void Unrun(uint8_t byte) {
    if (m_afterMarker) {
      m_afterMarker = false;
      if (byte == 0) {
        Take(kBinHexRunMarker);
      } else {
        for (int i = 1; i < byte; ++i) Take(m_last);
      }
    } else if (byte == kBinHexRunMarker) {
      m_afterMarker = true;
    } else {
      Take(byte);
    }
  }

  void Take(uint8_t byte) {
    m_last = byte;
    if (!m_headerDone) {
      m_header.push_back(byte);
      size_t target = kBinHexHeaderBase + m_header[0];
      if (m_header.size() == target) {
        const uint8_t* length = &m_header[m_header[0] + 12];
        m_dataLength = uint32_t{length[0]} << 24 | uint32_t{length[1]} << 16 | uint32_t{length[2]} << 8 | length[3];
        m_headerDone = true;
      }
    } else if (m_delivered < m_dataLength) {
      m_out.push_back(byte);
      ++m_delivered;
    }
  }

  uint32_t m_bits = 0;
  int m_bitCount = 0;
  bool m_afterMarker = false;
  uint8_t m_last = 0;
  std::vector<uint8_t> m_header;
  bool m_headerDone = false;
  uint32_t m_dataLength = 0;
  uint32_t m_delivered = 0;
  bool m_lastLineFull = true;
  std::vector<uint8_t> m_out;
};

class TUuDecoder final : public TDecoder {
public:
  TUuDecoder(TSink sink, void* context) : TDecoder(TEncoding::Uuencode, sink, context) {}

  bool Feed(std::string_view line) override {
    std::string_view trimmed = TrimEnd(line, ' ' - 1);
    if (trimmed == "end") {
      m_ended = true;
      return true;
    }
    // One extra character at the end of a full line is tolerated.
    if (trimmed.size() == kUuFullLength + 1) trimmed.remove_suffix(1);
    if (trimmed.empty() || trimmed.size() > kUuFullLength) return false;
    int count = UuValue(trimmed[0]);
    size_t needed = static_cast<size_t>(4 * ((count + 2) / 3) + 1);
    if (count == 0 || count > static_cast<int>(kUuLineBytes) || trimmed.size() > needed) return false;
    // After a short line, the last of a file, only full lines go on.
    if (!m_moreFullLines && trimmed[0] != 'M') return false;
    // Mailers strip trailing spaces, so a short line is padded; once a full
    // line ending in a space has come through, lines are whole.
    if (trimmed.size() < needed && !m_allowShort) return false;
    const auto* text = reinterpret_cast<const uint8_t*>(trimmed.data());
    uint8_t padded[kUuFullLength];
    if (trimmed.size() < needed) {
      std::memcpy(padded, trimmed.data(), trimmed.size());
      std::memset(padded + trimmed.size(), ' ', needed - trimmed.size());
      text = padded;
    }
    uint8_t bytes[kUuLineBytes + 4];
    if (!DecodeGroups<UuValues>(text + 1, static_cast<size_t>(count + 2) / 3, bytes, ' ')) return false;
    if (trimmed.size() == kUuFullLength && trimmed.back() == ' ') m_allowShort = false;
    Deliver(bytes, static_cast<size_t>(count));
    if (trimmed[0] != 'M') m_moreFullLines = false;
    return false;
  }
  bool EndsShort() const override { return !m_ended; }

private:
  bool m_moreFullLines = true;
  bool m_allowShort = true;
  bool m_ended = false;
};

void Collect(void* context, const uint8_t* bytes, size_t count) {
  static_cast<std::vector<uint8_t>*>(context)->insert(static_cast<std::vector<uint8_t>*>(context)->end(), bytes,
                                                      bytes + count);
}

// The name a BinHex header line holds: its first decoded byte is the length
// of the name that follows.
std::string BinHexName(std::string_view line) {
  std::vector<uint8_t> ignored;
  TBinHexDecoder decoder(Collect, &ignored);
  decoder.Feed(line);
  return decoder.Name();
}

// True when the line holds "&amp;", "&lt;" or "&gt;".
bool HasReference(std::string_view line) {
  for (size_t at = line.find('&'); at != std::string_view::npos; at = line.find('&', at + 1)) {
    std::string_view rest = line.substr(at);
    if (rest.starts_with("&amp;") || rest.starts_with("&lt;") || rest.starts_with("&gt;")) return true;
  }
  return false;
}

void UndoReferences(std::string& line) {
  static const struct {
    std::string_view reference;
    char character;
  } kReferences[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}};
  std::string plain;
  size_t copied = 0;
  for (size_t at = line.find('&'); at != std::string::npos; at = line.find('&', at + 1)) {
    // Most '&' in encoded text begin no reference at all.
    const char next = at + 1 < line.size() ? line[at + 1] : '\0';
    if (next != 'a' && next != 'l' && next != 'g') continue;
    for (const auto& reference : kReferences) {
      if (line.compare(at, reference.reference.size(), reference.reference) != 0) continue;
      plain.append(line, copied, at - copied);
      plain += reference.character;
      copied = at + reference.reference.size();
      break;
    }
  }
  if (copied == 0) return;
  plain.append(line, copied);
  line = std::move(plain);
}

// True when the '&' at at may begin a reference: a letter that begins one
// follows, or the line may go on past limit.
bool MayBeginReference(const uint8_t* at, const uint8_t* limit) {
  return at + 1 == limit || at[1] == 'a' || at[1] == 'l' || at[1] == 'g';
}

// The first LF, CR or NUL in [from, limit), or limit. reference is set when
// an '&' before it may begin a reference; uuencoded lines have many an '&',
// but never a lower-case letter after it.
const uint8_t* LineEnd(const uint8_t* from, const uint8_t* limit, bool& reference) {
  // A chunk is taken while the character after it is there too, for an '&'
  // at its end. The '&' are marked without a branch: where they come is
  // beyond any prediction.
  for (; static_cast<size_t>(limit - from) > kChunkSize; from += kChunkSize) {
    const TChunk chunk = LoadChunk(from);
    const TChunk next = LoadChunk(from + 1);
    const TChunk references = (chunk == '&') & ((next == 'a') | (next == 'l') | (next == 'g'));
    const TChunk ends = (chunk == '\n') | (chunk == '\r') | (chunk == 0);
    if (!AnyMarked(ends)) {
      reference |= AnyMarked(references);
      continue;
    }
    const uint32_t endMarks = MarksOf(ends);
    reference |= (MarksOf(references) & ((endMarks & (0 - endMarks)) - 1)) != 0;
    return from + std::countr_zero(endMarks);
  }
  for (; from < limit && *from != '\n' && *from != '\r' && *from != '\0'; ++from)
    reference |= *from == '&' && MayBeginReference(from, limit);
  return from;
}

} // namespace

bool TLineReader::Next(std::string_view& line) {
  if (m_unread) {
    m_line = std::move(*m_unread);
    m_unread.reset();
    line = m_line;
    return true;
  }
  for (;;) {
    // A line that lies whole in the block is handed out where it is; one
    // that runs on into the next block is collected in m_line.
    m_line.clear();
    line = {};
    bool textEnded = false;
    bool reference = false;
    for (;;) {
      if (m_next == m_end) {
        if (m_pollAbort && PkgAbortRequested()) {
          m_stopped = true;
          return false;
        }
        uint8_t* block = nullptr;
        int32_t count = PkgMapRead(&block, kReadBlock, m_stream);
        if (count <= 0) {
          textEnded = true;
          break;
        }
        m_next = block;
        m_end = block + count;
      }
      const uint8_t* limit = m_next + std::min<size_t>(m_end - m_next, m_maxLength - m_line.size());
      const uint8_t* at = LineEnd(m_next, limit, reference);
      const bool ended = at < limit || m_line.size() + (at - m_next) == m_maxLength;
      if (ended && m_line.empty()) {
        line = std::string_view(reinterpret_cast<const char*>(m_next), at - m_next);
      } else {
        m_line.append(reinterpret_cast<const char*>(m_next), at - m_next);
        line = m_line;
      }
      m_next = at < limit ? at + 1 : at; // past the character that ended the line
      if (ended) break;
    }
    if (!line.empty()) {
      if (reference && HasReference(line)) {
        m_line.assign(line);
        UndoReferences(m_line);
        line = m_line;
      }
      return true;
    }
    if (textEnded) return false;
  }
}

bool IsMimeHeader(std::string_view line) {
  if (line.size() > kMaxMimeHeaderLength) return false;
  if (StartsNoCase(line, "Content-Disposition:")) return strcasestr(std::string(line).c_str(), "filename=") != nullptr;
  return (StartsNoCase(line, "Content-Type:") || line.substr(0, 6) == "\tname=") &&
         !StartsNoCase(line, "Content-Type: multipart");
}

std::string HeaderName(std::string_view line) {
  // Every header line starts with one of these; data lines mostly do not.
  switch (line.empty() ? '\0' : line[0]) {
  case 'C':
  case 'c':
  case '\t':
  case ':':
  case 'b': break;
  default: return {};
  }
  std::string name;
  if (IsMimeHeader(line)) return MimeName(line);
  if (TrimEnd(line, ' ').size() == kBinHexLineLength && IsBinHexStart(line)) return BinHexName(line);
  if (IsBeginLine(line, kUuBegin, &name) || IsBeginLine(line, kBase64Begin, &name)) return name;
  return {};
}

TEncoding StartOf(std::string_view line, TEncoding running) {
  const char first = line.empty() ? '\0' : line[0];
  const bool mime = first == 'C' || first == 'c';
  const bool begin = first == 'b';
  bool otherDecoder = running != TEncoding::Base64 && running != TEncoding::BinHex;
  if ((mime && StartsNoCase(line, "Content-transfer-encoding: base64")) || (begin && IsBeginLine(line, kBase64Begin)) ||
      (otherDecoder && TrimEnd(line, ' ').size() >= kMinBase64StartLength && IsBase64Line(line)))
    return TEncoding::Base64;
  if (first == ':' && IsBinHexStart(line)) return TEncoding::BinHex;
  if ((begin && IsBeginLine(line, kUuBegin)) ||
      (running != TEncoding::Uuencode && TrimEnd(line, ' ' - 1).size() >= kMinUuStartLength && IsUuLine(line)))
    return TEncoding::Uuencode;
  return TEncoding::None;
}

std::unique_ptr<TDecoder> MakeDecoder(TEncoding kind, TDecoder::TSink sink, void* context) {
  switch (kind) {
  case TEncoding::Base64: return std::make_unique<TBase64Decoder>(sink, context);
  case TEncoding::BinHex: return std::make_unique<TBinHexDecoder>(sink, context);
  case TEncoding::Uuencode: return std::make_unique<TUuDecoder>(sink, context);
  default: return nullptr;
  }
}

std::string UuencodeLine(const uint8_t* bytes, size_t count) {
  auto character = [](uint32_t value) { return static_cast<char>(value == 0 ? '`' : value + ' '); };
  std::string line(1, character(static_cast<uint32_t>(count)));
  for (size_t i = 0; i < count; i += 3) {
    uint32_t group = uint32_t{bytes[i]} << 16;
    if (i + 1 < count) group |= uint32_t{bytes[i + 1]} << 8;
    if (i + 2 < count) group |= bytes[i + 2];
    for (int shift = 18; shift >= 0; shift -= 6) line += character((group >> shift) & 63);
  }
  return line + "\r\n";
}
