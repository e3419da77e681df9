#pragma once
// Comments are the bytes the files hold, and they are kept as bytes: the
// save step writes back exactly what was read. Where comments become text
// for the user (the comments window, Edit comments, the clipboard) they are
// read in one of two encodings: UTF-8 when the bytes are valid UTF-8 (plain
// ASCII is), else Windows-1252, the Latin-1 of old Windows programs (which
// also gives printable characters to 80..9F hex). Both readings are
// reversible, so text the user did not change goes back to its very bytes.
#include <string>
#include <string_view>

enum class TCommentEncoding { Utf8, Windows1252 };

// The encoding the comment bytes are read in.
TCommentEncoding CommentEncoding(std::string_view bytes);

// The comment bytes as UTF-8 text, read in their encoding.
std::string CommentToUtf8(std::string_view bytes);

// UTF-8 text as comment bytes in the given encoding; when a character has no
// byte in Windows-1252, the whole text is kept as UTF-8 instead (which the
// next reading then recognises).
std::string CommentFromUtf8(std::string_view text, TCommentEncoding encoding);
