#pragma once
// Encoded files ("uue"): a text file that holds uuencoded, MIME base64 or
// BinHex files (a mail, a news article, a web page they were pasted into) is
// a directory-like object whose listing names the files found in it;
// opening one decodes it as far as a reader asks.
#include "filepkg/filepkg.h"

TPkgStream* EncodedClaim(TPkgStream* stream, TPkgRequest* request);
