#pragma once
// The URL layer ("url"): web addresses, downloaded with libcurl as far as a
// reader asks, so that a picture, an archive or a page on a web server is
// read like a file. A name the layer's test accepts belongs to it alone, so
// that it can never become a relative disk name.
#include "filepkg/filepkg.h"

// Rewrites request->name into the canonical form of a URL when it is one:
// "http://" (or "https://"), the host, ":" and the port only when it is not
// the scheme's default, and the path ("/" when empty). Names without a scheme
// count as URLs when their first component looks like a host name
// ("www.example.com/a.gif", "192.168.1.2/a.gif"). Returns 1 for a URL, 0 for
// any other name, -1 for a URL whose host, port or path cannot be used.
int UrlCanonical(TPkgRequest* request);

// Opens the object a URL names for reading: a byte stream that grows as the
// download goes on (each Fill runs one short step of the transfer). The
// URL's path ends after the first component with a three-letter extension
// ("http://host/dir/pics.zip/a.gif" downloads /dir/pics.zip); the rest of
// the name is left to the other layers. A finished download is kept by the
// open-file cache. nullptr for any request that writes.
TPkgStream* UrlOpenFirst(TPkgRequest* request);
