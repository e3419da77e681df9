#pragma once
// The name test of the URL layer ("url"): which package names are web
// addresses, and their canonical form. A name the test accepts belongs to the
// URL layer alone, so that it can never become a relative disk name.
#include "filepkg/filepkg.h"

// Rewrites request->name into the canonical form of a URL when it is one:
// "http://" (or "https://"), the host, ":" and the port only when it is not
// the scheme's default, and the path ("/" when empty). Names without a scheme
// count as URLs when their first component looks like a host name
// ("www.example.com/a.gif", "192.168.1.2/a.gif"). Returns 1 for a URL, 0 for
// any other name, -1 for a URL whose host, port or path cannot be used.
int UrlCanonical(TPkgRequest* request);
