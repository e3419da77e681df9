#pragma once
// A stream that shows another under a name of its own, ending at a given
// offset: a frame of a GIF file is the file cut after that frame, a page of
// a TIFF file is the whole file under the page's name.
#include <cstdint>
#include <string_view>

#include "filepkg/filepkg.h"

// Takes source over (it is closed with the view, in the view's close mode);
// nullptr, with source closed, when the view cannot be made. end is the
// offset the view ends at (INT64_MAX for the whole source).
TPkgStream* PkgNewView(TPkgStream* source, std::string_view name, int64_t end, const char* layerId);
