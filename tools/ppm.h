#pragma once
// The stored picture as a binary PPM file: the output of zerbalin-tool decode.
class TImage;

// Writes the stored picture (not the output geometry) as binary PPM, top row
// first, palette indices expanded to their colours and blue-green-red pixels
// turned into red-green-blue. path "-" writes to standard output; any other
// is a package name opened for writing, abandoned (the old file kept) when
// the write fails. False when anything could not be written.
bool WritePpm(const char* path, const TImage& image);
