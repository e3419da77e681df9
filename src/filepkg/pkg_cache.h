#pragma once
// The open-file cache ("mem"): finished downloads and decoded files stay
// open after their reader closes them, so that opening the same name again,
// or a member inside it, is served from memory instead of downloading or
// decoding again. It holds at most CacheSize streams (up to 99), each for
// CacheTime seconds from when it was cached.
#include "filepkg/filepkg.h"

// The first level of an open: a cached stream whose name is the longest
// leading part of the requested name, taken out of the cache while it is in
// use. A request that writes to a cached name empties the whole cache.
TPkgStream* CacheOpenFirst(TPkgRequest* request);
// Closes every cached stream.
void CacheFlush();

// Hands a finished byte stream (read only, without members of its own) to
// the cache under the package name: the returned handle reads it, and
// closing that handle keeps the stream in the cache. Returns stream itself
// when it cannot be cached.
TPkgStream* PkgCacheWrap(TPkgStream* stream, const char* name);
