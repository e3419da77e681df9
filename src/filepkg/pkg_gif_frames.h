#pragma once
// GIF frames ("gif"): a GIF file of two or more frames is a directory-like
// object whose members frame001.gif ... frame999.gif are the file cut after
// each frame, which the GIF reader shows as the picture composed so far.
#include "filepkg/filepkg.h"

TPkgStream* GifFramesClaim(TPkgStream* stream, TPkgRequest* request);
