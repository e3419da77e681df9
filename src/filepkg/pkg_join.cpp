// Numbered parts. A disk file of text is the first part when the file of its
// name with the last character replaced by 2 exists (post.uu1, post.uu2);
// parts 2 to 99 follow while they exist (from part 10 the last two
// characters are replaced). The parts are copied one after the other into a
// scratch stream that stands for the first file under its name; the layers
// are then asked again about the joined text. Parts are only read: the
// files the user has are never merged or removed.
#include "filepkg/pkg_join.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "filepkg/pkg_layers.h"

namespace {

constexpr int kMaxPart = 99;
constexpr size_t kMinTextBytes = 1024;
constexpr size_t kTextSample = 16384;

bool LooksLikeText(TPkgStream* stream) { return PkgLooksLikeText(stream, kTextSample, kMinTextBytes); }

std::string PartName(const std::string& first, int part) {
  std::string digits = std::to_string(part);
  if (first.size() < digits.size()) return {};
  return first.substr(0, first.size() - digits.size()) + digits;
}

// Appends everything the stream holds to joined; false when a write fell
// short or the user asked to stop.
bool Append(TPkgStream* stream, TPkgStream* joined) {
  if (PkgSeek(stream, 0, SEEK_SET) != 0) return false;
  const int32_t block = static_cast<int32_t>(std::max<uint32_t>(stream->info.blockSize, 4096));
  uint8_t* bytes = nullptr;
  while (int32_t count = PkgMapRead(&bytes, block, stream)) {
    if (PkgWrite(bytes, 1, count, joined) != static_cast<size_t>(count) || PkgAbortRequested()) return false;
  }
  return PkgAbortRequested() == 0;
}

} // namespace

TPkgStream* JoinClaim(TPkgStream* first, TPkgRequest* request) {
  if (std::strcmp(first->info.layerId, "fil") != 0 || request->mode != 'r' || request->access != 'r' ||
      !LooksLikeText(first))
    return nullptr;
  const std::string name = first->info.name;
  TPkgStream* joined = nullptr;
  for (int part = 2; part <= kMaxPart; ++part) {
    std::string partName = PartName(name, part);
    TPkgStream* next = partName.empty() ? nullptr : PkgOpen(partName.c_str(), "rb");
    if (!next) break;
    if (!joined) {
      joined = PkgTempStream(first->info.blockSize, first->info.blockCount);
      if (joined && !Append(first, joined)) {
        PkgClose(joined, kPkgKeep);
        joined = nullptr;
      }
    }
    bool appended = joined && Append(next, joined);
    PkgClose(next, kPkgKeep);
    if (!appended) {
      PkgClose(joined, kPkgKeep);
      return nullptr;
    }
  }
  if (!joined) return nullptr;
  TPkgInfo info = first->info;
  std::memcpy(info.layerId, "mul", 4);
  info.blockSize = joined->info.blockSize;
  info.blockCount = joined->info.blockCount;
  joined->info = info;
  PkgSeek(joined, 0, SEEK_SET);
  PkgClose(first, kPkgKeep);
  return joined;
}
