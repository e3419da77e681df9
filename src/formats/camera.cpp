#include "formats/camera.h"

TCameraKind IdentifyCamera(const uint8_t*, size_t) { return TCameraKind::None; }

bool ReadCamera(TPkgStream*, const char*, TImage&, const TProfile&) { return false; }
