#pragma once
// ZIP archives ("zip"): an archive is a directory-like package object that
// lists its members and opens them by name, inflating and decrypting them as
// far as a reader asks.
#include "filepkg/filepkg.h"

// Claims a stream that holds a ZIP archive: answers a directory-like handle
// that owns the stream, or nullptr when the stream is no archive.
TPkgStream* ZipClaim(TPkgStream* stream, TPkgRequest* request);
