// TIFF decoding through the adapter beside libtiff's own tiffcp, in one run,
// best of three each: a 4000 x 3000 LZW file with horizontal differencing
// (as our writer and most tools write colour files), read by us (package
// stream, libtiff over the client procedures, conversion to the picture)
// against "tiffcp -c none", which decodes the same strips with the same
// library and writes them out uncompressed.
//
// Usage: bench_tiff_codec [width height]
#include <cstdio>
#include <string>

#include "settings/profile.h"
#include "bench_support.h"
#include "core/image.h"
#include "formats/picture_io.h"
#include "formats/tiff.h"

using bench::BestOf;

int main(int argc, char** argv) {
  bench::TScratchDir dir;
  const bench::TPpm picture = bench::PhotoLikeFromArguments(argc, argv, dir);
  if (picture.rgb.empty()) return 1;
  const std::string tiff = dir / "in.tif";
  if (bench::CommandSeconds("convert " + (dir / "in.ppm") + " -compress none " + (dir / "plain.tif") +
                            " && tiffcp -c lzw:2 " + (dir / "plain.tif") + " " + tiff) < 0) {
    std::fprintf(stderr, "could not make the LZW file\n");
    return 1;
  }
  const TProfile options;
  const auto image = NewImageFor(options);
  const double ours = BestOf([&] {
    bool ok = false;
    const double seconds = bench::Seconds([&] { ok = bench::DecodeFile(ReadTiff, tiff, *image, options); });
    return ok ? seconds : -1.0;
  });
  const double peer =
      BestOf([&] { return bench::CommandSeconds("tiffcp -c none " + tiff + " " + (dir / "peer.tif")); });
  if (ours < 0 || peer < 0) {
    std::fprintf(stderr, "a run failed\n");
    return 1;
  }
  const double megapixels = picture.width * static_cast<double>(picture.height) / 1e6;
  std::printf("TIFF %d x %d, LZW with horizontal differencing\n", picture.width, picture.height);
  std::printf("decode (package stream, adapter, picture)\n  ours: %.3f s (%.0f megapixels/s)\n"
              "  tiffcp -c none: %.3f s\n  ratio ours / tiffcp: %.3f (target at most 1.10)\n",
              ours, megapixels / ours, peer, ours / peer);
  return 0;
}
