#include "app/comment_text.h"

#include <algorithm>
#include <iterator>
#include <optional>

#include "core/utf8.h"

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
