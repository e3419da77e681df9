// The open-file cache: a table of 100 slots of which CacheSize are in use,
// each empty or holding a wrapper around a finished stream. A wrapper's
// time is when it was made; it expires CacheTime seconds later, and when a
// slot is needed the oldest goes first.
#include "filepkg/pkg_cache.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "filepkg/pkg_layers.h"

namespace {

constexpr size_t kSlots = 100;
std::array<TPkgStream*, kSlots> g_slots = {};

size_t SlotsInUse() { return static_cast<size_t>(std::clamp(PkgGetInt("CacheSize"), 0, 99)); }

TPkgStream* InnerOf(TPkgStream* wrapper) { return static_cast<TPkgStream*>(wrapper->layerData); }

void Empty(size_t slot) {
  if (g_slots[slot]) PkgClose(InnerOf(g_slots[slot]), kPkgKeep);
  PkgFreeStream(g_slots[slot]);
  g_slots[slot] = nullptr;
}

void EmptyAll() {
  for (size_t slot = 0; slot < kSlots; ++slot) Empty(slot);
}

void Expire() {
  int32_t lifetime = PkgGetInt("CacheTime");
  if (lifetime <= 0) return EmptyAll();
  int32_t now = PkgNow();
  for (size_t slot = 0; slot < SlotsInUse(); ++slot)
    if (g_slots[slot] && now >= g_slots[slot]->info.time + lifetime) Empty(slot);
}

// The slot whose stream's name is the longest leading part of name, ending
// where name ends or goes on with '/'; kSlots when there is none.
size_t LongestPrefix(const char* name) {
  size_t best = kSlots;
  size_t bestLength = 0;
  for (size_t slot = 0; slot < SlotsInUse(); ++slot) {
    if (!g_slots[slot]) continue;
    const char* cached = g_slots[slot]->info.name;
    size_t length = std::strlen(cached);
    if (length <= bestLength || strncasecmp(name, cached, length) != 0) continue;
    if (name[length] != '\0' && name[length] != '/') continue;
    best = slot;
    bestLength = length;
  }
  return best;
}

bool InTable(const char* name) {
  for (TPkgStream* wrapper : g_slots)
    if (wrapper && strcasecmp(wrapper->info.name, name) == 0) return true;
  return false;
}

uint8_t* WrapperMap(TPkgStream* stream, int forWriting, int32_t* length) {
  return PkgMapData(stream, InnerOf(stream), forWriting, length);
}

int WrapperClose(TPkgStream* stream, int closeMode);

const TPkgOps kWrapperOps = {nullptr, WrapperMap, nullptr, nullptr, WrapperClose};

TPkgStream* NewWrapper(TPkgStream* inner, const char* name, int32_t time) {
  TPkgStream* wrapper = PkgNewStream(&kWrapperOps, inner);
  if (!wrapper || !PkgSetInfo(&wrapper->info, name, 'r', 'b', 'r', "mem", time, inner->info.blockSize,
                              inner->info.blockCount)) {
    PkgFreeStream(wrapper);
    return nullptr;
  }
  wrapper->size = inner->size;
  return wrapper;
}

// A wrapper closed without a delete goes into the table (its stream is only
// read, so there is nothing to give up): into the first empty slot in use,
// else in place of the oldest stream there. The closing handle itself is
// freed by the package, so the table keeps a new wrapper of the same stream.
int WrapperClose(TPkgStream* stream, int closeMode) {
  TPkgStream* inner = InnerOf(stream);
  size_t inUse = SlotsInUse();
  TPkgStream* kept = closeMode != kPkgDelete && inUse > 0 && !InTable(stream->info.name)
                         ? NewWrapper(inner, stream->info.name, stream->info.time)
                         : nullptr;
  if (!kept) return PkgClose(inner, closeMode);
  size_t slot = std::find(g_slots.begin(), g_slots.begin() + inUse, nullptr) - g_slots.begin();
  if (slot == inUse) {
    slot = 0;
    for (size_t i = 1; i < inUse; ++i)
      if (g_slots[i]->info.time < g_slots[slot]->info.time) slot = i;
    Empty(slot);
  }
  g_slots[slot] = kept;
  return 0;
}

} // namespace

TPkgStream* CacheOpenFirst(TPkgRequest* request) {
  Expire();
  size_t slot = LongestPrefix(request->name);
  if (slot == kSlots) return nullptr;
  // A name about to change is never served: everything cached goes.
  if (request->access != 'r' || request->mode == 'w') {
    EmptyAll();
    return nullptr;
  }
  TPkgStream* wrapper = g_slots[slot];
  g_slots[slot] = nullptr;
  wrapper->position = 0;
  size_t length = std::strlen(wrapper->info.name);
  request->parseIndex = static_cast<int32_t>(length + (request->name[length] == '/' ? 1 : 0));
  return wrapper;
}

void CacheFlush() { EmptyAll(); }

TPkgStream* PkgCacheWrap(TPkgStream* stream, const char* name) {
  if (!stream || stream->ops->OpenMember || InTable(name)) return stream;
  TPkgStream* wrapper = NewWrapper(stream, name, PkgNow());
  return wrapper ? wrapper : stream;
}
