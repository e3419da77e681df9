#pragma once
// Numbered parts ("mul"): a text file split into numbered parts (post.uu1,
// post.uu2, ...) is read as one stream, so that the encoded-file layer sees
// the whole text.
#include "filepkg/filepkg.h"

TPkgStream* JoinClaim(TPkgStream* stream, TPkgRequest* request);
