// GIF frames. A GIF file, as walked here: "GIF87a" or "GIF89a"; the screen
// descriptor (width and height, 2 bytes each; flags; background; aspect),
// with the global colour table of 3 x 2^((flags & 7) + 1) bytes when flags
// bit 7 is set; then blocks until the trailer ';': an image (',', left, top,
// width, height, flags, an optional local colour table, the LZW code size and
// data sub-blocks) or an extension ('!', a label and sub-blocks). A sub-block
// is a count byte and that many bytes; a count of 0 ends them.
#include "filepkg/pkg_gif_frames.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "filepkg/pkg_layers.h"
#include "filepkg/pkg_listing.h"
#include "filepkg/pkg_view.h"

namespace {

constexpr size_t kMaxFrames = 999;
constexpr size_t kScreenDescriptorSize = 7;
constexpr size_t kImageDescriptorSize = 9;
// The frame number's place in a member name: "frame%3.3d.gif".
constexpr size_t kFrameNameLength = 12;

bool Skip(TPkgStream* stream, int64_t count) { return PkgSeek(stream, count, SEEK_CUR) == 0; }

// Skips data sub-blocks; false when the data end first.
bool SkipSubBlocks(TPkgStream* stream) {
  for (;;) {
    int count = PkgGetByte(stream);
    if (count < 0) return false;
    if (count == 0) return true;
    if (!Skip(stream, count)) return false;
  }
}

bool SkipColourTable(TPkgStream* stream, int flags) {
  return (flags & 0x80) == 0 || Skip(stream, 3 * (int64_t{2} << (flags & 7)));
}

// The offsets just after each complete frame's data, at most kMaxFrames.
std::vector<int64_t> FrameEnds(TPkgStream* stream) {
  std::vector<int64_t> ends;
  uint8_t header[6 + kScreenDescriptorSize];
  if (PkgSeek(stream, 0, SEEK_SET) != 0 || PkgRead(header, 1, sizeof header, stream) != sizeof header ||
      (std::memcmp(header, "GIF87a", 6) != 0 && std::memcmp(header, "GIF89a", 6) != 0) ||
      !SkipColourTable(stream, header[10]))
    return ends;
  while (ends.size() < kMaxFrames) {
    int introducer = PkgGetByte(stream);
    if (introducer == ',') {
      uint8_t descriptor[kImageDescriptorSize];
      if (PkgRead(descriptor, 1, sizeof descriptor, stream) != sizeof descriptor ||
          !SkipColourTable(stream, descriptor[8]) || PkgGetByte(stream) < 0 || !SkipSubBlocks(stream))
        break;
      ends.push_back(PkgTell(stream));
    } else if (introducer == '!') {
      if (PkgGetByte(stream) < 0 || !SkipSubBlocks(stream)) break;
    } else {
      break; // the trailer, the end of the data, or garbage
    }
  }
  return ends;
}

// The frame number a member name gives ("frame002.gif" is 2), 0 for any
// other name.
size_t FrameNumber(std::string_view component) {
  if (component.size() != kFrameNameLength || strncasecmp(component.data(), "frame", 5) != 0 ||
      strncasecmp(component.data() + 8, ".gif", 4) != 0)
    return 0;
  size_t number = 0;
  for (char c : component.substr(5, 3)) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return 0;
    number = number * 10 + static_cast<size_t>(c - '0');
  }
  return number;
}

class TGifFrames final : public TPkgIndexedListing {
public:
  TGifFrames(TPkgStream* source, std::vector<int64_t> ends) : m_source(source), m_ends(std::move(ends)) {}
  ~TGifFrames() override {
    if (m_source) PkgClose(m_source, kPkgKeep);
  }

  std::string MemberName(size_t number) const {
    char leaf[kFrameNameLength + 1];
    std::snprintf(leaf, sizeof leaf, "frame%3.3zu.gif", number);
    return std::string(m_source->info.name) + "/" + leaf;
  }

  TPkgStream* m_source;
  std::vector<int64_t> m_ends;

protected:
  size_t EntryCount() const override { return m_ends.size(); }
  std::string EntryName(size_t index) const override { return MemberName(index + 1); }
};

TGifFrames* FramesOf(TPkgStream* stream) { return static_cast<TGifFrames*>(stream->layerData); }

// A frame is only read: the member is the file cut after the frame.
TPkgStream* FramesOpenMember(TPkgStream* handle, TPkgRequest* request) {
  TGifFrames* frames = FramesOf(handle);
  const char* rest = request->name + request->parseIndex;
  size_t length = std::strcspn(rest, "/");
  size_t number = FrameNumber(std::string_view(rest, length));
  if (request->mode != 'r' || request->access != 'r' || request->type == 'd' || number == 0 ||
      number > frames->m_ends.size())
    return nullptr;
  TPkgStream* source = frames->m_source;
  std::string name = frames->MemberName(number);
  frames->m_source = nullptr;
  TPkgStream* member = PkgNewView(source, name, frames->m_ends[number - 1], "gif");
  if (!member) return nullptr;
  request->parseIndex += static_cast<int32_t>(length + (rest[length] == '/' ? 1 : 0));
  PkgClose(handle, kPkgKeep);
  return member;
}

int FramesClose(TPkgStream* stream, int closeMode) {
  delete FramesOf(stream);
  return closeMode == kPkgDelete ? -1 : 0;
}

const TPkgOps kFramesOps = {FramesOpenMember, TPkgListing::Map, TPkgListing::Fill, nullptr, FramesClose};

// True for a stream that is a frame already ("anim.gif/frame002.gif").
bool IsFrameName(const char* name) {
  size_t length = std::strlen(name);
  return length > kFrameNameLength && name[length - kFrameNameLength - 1] == '/' &&
         FrameNumber(name + length - kFrameNameLength) != 0;
}

} // namespace

TPkgStream* GifFramesClaim(TPkgStream* source, TPkgRequest*) {
  if (IsFrameName(source->info.name)) return nullptr;
  std::vector<int64_t> ends = FrameEnds(source);
  if (ends.size() < 2) return nullptr;
  auto* frames = new (std::nothrow) TGifFrames(nullptr, std::move(ends));
  if (!frames) return nullptr;
  TPkgStream* handle = PkgNewContainerHandle(&kFramesOps, frames, *source, "gif");
  // A handle that cannot be made leaves the stream with the caller.
  if (handle) frames->m_source = source;
  return handle;
}
