// The tables through which the package core reaches its layers.
#include "filepkg/pkg_layers.h"

#include "filepkg/pkg_disk.h"

// Openers of a name's first components, in the order they are tried. The
// open-file cache ("EnableMEMIO") and http URLs ("EnableURLIO") go ahead of
// the disk, so that a cached stream is reused and a URL is never taken for a
// relative disk name.
const std::vector<TPkgFirstLevel>& PkgFirstLevels() {
  static const std::vector<TPkgFirstLevel> levels = {
      {"EnableFILIO", DiskMakeAbsolute, DiskOpenFirst, nullptr},
  };
  return levels;
}

// Container layers asked, in this order, to claim a stream whose name goes on:
// ZIP archives ("EnableZIPIO"), GIF frames ("EnableGIFIO"), Seattle Filmworks
// archives ("EnablePWPIO"), TIFF pages ("EnableTIFIO"), slide lists
// ("EnableSLIIO"), numbered parts ("EnableMULIO"), encoded files
// ("EnableUUEIO") and HTML pages ("EnableHTMIO").
const std::vector<TPkgClaimLayer>& PkgClaimLayers() {
  static const std::vector<TPkgClaimLayer> layers = {};
  return layers;
}

void PkgFlushLayers() {
  for (const TPkgFirstLevel& level : PkgFirstLevels())
    if (level.Flush) level.Flush();
}
