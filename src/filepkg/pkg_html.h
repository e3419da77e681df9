#pragma once
// HTML pages ("htm"): a web page, from disk or from a URL, is a
// directory-like object whose listing names the pictures it shows: the src
// of every img tag and the background of the body tag, as full names. The
// names are opened by themselves; a page has no members.
#include "filepkg/filepkg.h"

TPkgStream* HtmlClaim(TPkgStream* stream, TPkgRequest* request);
