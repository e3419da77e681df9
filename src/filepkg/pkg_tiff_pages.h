#pragma once
// TIFF pages ("tif"): a TIFF file of two or more pages is a directory-like
// object whose members page0001.tif ... page9999.tif are the whole file under
// a name that tells the TIFF reader which page to read.
#include "filepkg/filepkg.h"

TPkgStream* TiffPagesClaim(TPkgStream* stream, TPkgRequest* request);
