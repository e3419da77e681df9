#include "app/comment_text.h"

#include <algorithm>
#include <iterator>
#include <optional>

namespace {

// The characters of Windows-1252 at 80..9F hex. The five bytes the code page
// leaves unused stand for the control characters of the same number, so that
// every byte has a character and reading back gives the same bytes.
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

bool InHighRange(char32_t code) { return code >= 0x80 && code < 0xA0; }

char32_t FromWindows1252(unsigned char byte) { return InHighRange(byte) ? kWindows1252High[byte - 0x80] : byte; }

std::optional<unsigned char> ToWindows1252(char32_t code) {
  if (code <= 0xFF && !InHighRange(code)) return static_cast<unsigned char>(code);
  const auto found = std::find(std::begin(kWindows1252High), std::end(kWindows1252High), code);
  if (found == std::end(kWindows1252High)) return std::nullopt;
  return static_cast<unsigned char>(0x80 + (found - std::begin(kWindows1252High)));
}

// The character of UTF-8 that starts at `at`: its length in bytes, or 0 when
// the bytes there are no well-formed UTF-8 (overlong forms and surrogates
// included).
size_t DecodeUtf8(std::string_view text, size_t at, char32_t& code) {
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  const size_t length = lead >= 0xF8 ? 0 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || text.size() - at < length) return 0;
  code = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(at + i) & 0x3F);
  }
  if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

void AppendUtf8(std::string& text, char32_t code) {
  static constexpr unsigned char kLeadMark[] = {0, 0xC0, 0xE0, 0xF0};
  const int following = code < 0x80 ? 0 : code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
  text += static_cast<char>(kLeadMark[following] | code >> (6 * following));
  for (int i = following - 1; i >= 0; --i) text += static_cast<char>(0x80 | (code >> (6 * i) & 0x3F));
}

// Text as Windows-1252 bytes; none when a character has no byte there (or
// the text is no UTF-8).
std::optional<std::string> EncodeWindows1252(std::string_view text) {
  std::string bytes;
  char32_t code = 0;
  for (size_t at = 0, length; at < text.size(); at += length) {
    length = DecodeUtf8(text, at, code);
    const std::optional<unsigned char> byte = length ? ToWindows1252(code) : std::nullopt;
    if (!byte) return std::nullopt;
    bytes += static_cast<char>(*byte);
  }
  return bytes;
}

} // namespace

TCommentEncoding CommentEncoding(std::string_view bytes) {
  char32_t code = 0;
  for (size_t at = 0, length; at < bytes.size(); at += length)
    if ((length = DecodeUtf8(bytes, at, code)) == 0) return TCommentEncoding::Windows1252;
  return TCommentEncoding::Utf8;
}

std::string CommentToUtf8(std::string_view bytes) {
  if (CommentEncoding(bytes) == TCommentEncoding::Utf8) return std::string(bytes);
  std::string text;
  for (const char byte : bytes) AppendUtf8(text, FromWindows1252(static_cast<unsigned char>(byte)));
  return text;
}

std::string CommentFromUtf8(std::string_view text, TCommentEncoding encoding) {
  if (encoding == TCommentEncoding::Windows1252)
    if (std::optional<std::string> bytes = EncodeWindows1252(text)) return *std::move(bytes);
  return std::string(text);
}
