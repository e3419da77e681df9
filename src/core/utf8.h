#pragma once
// UTF-8, the text of the window system and of ZIP names flagged so: one
// character appended, or read back with every malformed form refused.
#include <cstddef>
#include <string>
#include <string_view>

// Appends the character's UTF-8 bytes (code up to U+10FFFF).
void AppendUtf8(std::string& text, char32_t code);

// The character of UTF-8 that starts at `at`: its length in bytes, or 0 when
// the bytes there are no well-formed UTF-8 (overlong forms and surrogates
// included).
size_t DecodeUtf8(std::string_view text, size_t at, char32_t& code);
