#pragma once
// Seattle Filmworks archives ("pwp"): a file that begins "SFW95B" holds up to
// 64 pictures, each a member under its stored name; the camera readers read
// the pictures themselves.
#include "filepkg/filepkg.h"

TPkgStream* PwpClaim(TPkgStream* stream, TPkgRequest* request);
