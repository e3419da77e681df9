#pragma once
// Byte streams of the disk layer: named disk files and the unnamed scratch
// streams (PkgTempStream). Every file goes through a small ring of buffers
// read and written whole with pread and pwrite; a file opened read only
// takes blocks as large as the file up to a cap, so one Map serves a small
// file whole.
#include "filepkg/filepkg.h"

// Opens the regular file info.name for a handle described by info: its mode
// ('r' existing, 'w' created or truncated, '*' opened or created), its
// access, and the block size and count of the request. Fills in size and the
// file's last-write time. nullptr when the file cannot be opened or is not a
// regular file.
// A file opened read only that reports a size of 0 is read until its end.
// With mode 'w' a new file is written under its name and removed again
// unless the handle is closed with kPkgKeep after every write succeeded; an
// existing file (or the target of a symbolic link) is left as it was until
// such a close, which replaces it whole with the new bytes.
TPkgStream* DiskFileOpen(const TPkgInfo& info);
