#pragma once
// Byte streams of the disk layer: named disk files and the unnamed scratch
// streams (PkgTempStream). A file opened read only is mapped whole, so one
// Map serves the whole file; every other file goes through a small ring of
// buffers of the request's block size, read and written whole.
#include "filepkg/filepkg.h"

// Opens the regular file info.name for a handle described by info: its mode
// ('r' existing, 'w' created or truncated, '*' opened or created), its
// access, and the block size and count of the request. Fills in size and the
// file's last-write time. nullptr when the file cannot be opened or is not a
// regular file.
// With mode 'w' the bytes are written to a hidden file in the same directory
// that replaces info.name only when the handle is closed without the delete
// flag after every write succeeded; until then info.name is left alone.
TPkgStream* DiskFileOpen(const TPkgInfo& info);
