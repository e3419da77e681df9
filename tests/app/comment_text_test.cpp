// Comment bytes as text: read as UTF-8 when they are UTF-8, else as
// Windows-1252, and written back to the very bytes they came from.
#include "app/comment_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CommentText, ReadsUtf8WhenValidElseWindows1252) {
  struct TCase {
    const char* what;
    std::string bytes;
    TCommentEncoding encoding;
    std::string text;
  };
  const TCase cases[] = {
      {"plain ASCII", "made 2001", TCommentEncoding::Utf8, "made 2001"},
      {"UTF-8", "caf\xc3\xa9 \xe2\x82\xac 2001", TCommentEncoding::Utf8, "caf\u00e9 \u20ac 2001"},
      {"four-byte UTF-8", "\xf0\x9f\x93\xb7", TCommentEncoding::Utf8, "\U0001F4F7"},
      {"Latin-1", "caf\xe9 \xa9 2001", TCommentEncoding::Windows1252, "caf\u00e9 \u00a9 2001"},
      {"the code page's own characters at 80..9F", "\x80\x85\x93x\x94\x99", TCommentEncoding::Windows1252,
       "\u20ac\u2026\u201cx\u201d\u2122"},
      {"a byte the code page leaves unused", "\x81\xff", TCommentEncoding::Windows1252, "\u0081\u00ff"},
      {"an overlong form is no UTF-8", "\xc0\xaf", TCommentEncoding::Windows1252, "\u00c0\u00af"},
      {"a surrogate is no UTF-8", "\xed\xa0\x80", TCommentEncoding::Windows1252, "\u00ed\u00a0\u20ac"},
      {"a cut sequence is no UTF-8", "\xe2\x82", TCommentEncoding::Windows1252, "\u00e2\u201a"},
      {"beyond U+10FFFF is no UTF-8", "\xf4\x90\x80\x80", TCommentEncoding::Windows1252,
       "\u00f4\u0090\u20ac\u20ac"},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(CommentEncoding(c.bytes), c.encoding) << c.what;
    EXPECT_EQ(CommentToUtf8(c.bytes), c.text) << c.what;
    EXPECT_EQ(CommentFromUtf8(c.text, c.encoding), c.bytes) << c.what;
  }
}

// Every byte has a character, so no comment loses a byte on its way through
// the editor.
TEST(CommentText, EveryByteComesBack) {
  std::string bytes;
  for (int byte = 1; byte < 256; ++byte) bytes += static_cast<char>(byte);
  ASSERT_EQ(CommentEncoding(bytes), TCommentEncoding::Windows1252);
  EXPECT_EQ(CommentFromUtf8(CommentToUtf8(bytes), TCommentEncoding::Windows1252), bytes);
}

TEST(CommentText, NewTextKeepsTheEncodingWhereItCan) {
  struct TCase {
    const char* what;
    std::string text;
    TCommentEncoding encoding;
    std::string bytes;
  };
  const TCase cases[] = {
      {"Latin-1 stays Latin-1", "na\u00efve \u20ac", TCommentEncoding::Windows1252, "na\xefve \x80"},
      {"a character the code page lacks makes all UTF-8", "caf\u00e9 \u2713", TCommentEncoding::Windows1252,
       "caf\xc3\xa9 \xe2\x9c\x93"},
      {"UTF-8 stays UTF-8", "na\u00efve", TCommentEncoding::Utf8, "na\xc3\xafve"},
  };
  for (const TCase& c : cases) EXPECT_EQ(CommentFromUtf8(c.text, c.encoding), c.bytes) << c.what;
}

} // namespace
