#pragma once
// Reads the rest of a package stream into memory, for libraries that decode
// from a block of bytes (WebP, HEIF). A cap keeps a stream without end from
// claiming unbounded memory.
#include <cstddef>
#include <cstdint>
#include <vector>

struct TPkgStream;

// Appends the bytes from the stream's position to its end. False when there
// are more than maxBytes of them (bytes then holds the first maxBytes).
bool ReadWholeStream(TPkgStream* stream, size_t maxBytes, std::vector<uint8_t>& bytes);
