#pragma once
// Slide lists ("sli"): a text file whose name ends in ".sli" lists, one per
// line, the package names of the pictures to show. Its listing gives the
// lines as written; each is opened by its own name.
#include "filepkg/filepkg.h"

TPkgStream* SlideListClaim(TPkgStream* stream, TPkgRequest* request);
