#pragma once
// The disk layer ("fil"): names of disk files and directories, opened one
// component at a time from the root '/', directories listed as package
// listings, missing directories and files created when writing.
#include "filepkg/filepkg.h"

// Completes a relative name from the current directory ("pics/a.gif" in
// /home/me becomes "/home/me/pics/a.gif"). Returns 1, or -1 when the current
// directory cannot be read or the result would be longer than a package name.
int DiskMakeAbsolute(TPkgRequest* request);

// The root directory "/" of an absolute name, with parseIndex moved past it.
TPkgStream* DiskOpenFirst(TPkgRequest* request);
