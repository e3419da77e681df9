#pragma once
// What the package core knows about its layers, and the helpers every layer
// uses to make handles. A layer plugs in by adding one entry to one of the two
// tables in pkg_layers.cpp; the core never names a layer itself.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "filepkg/filepkg.h"

// A layer that can stand for the first components of a name (the open-file
// cache, http URLs, the disk). The entries are tried in table order.
struct TPkgFirstLevel {
  const char* enableName; // the named parameter that switches the layer on
  // Recognises a name of this layer and rewrites request->name into its
  // canonical form. 1 = the name is this layer's: later entries are not
  // asked, and only this layer and those that open every name may open it;
  // 0 = not this layer's; -1 = the name cannot be used at all. May be absent.
  int (*Canonical)(TPkgRequest* request);
  // Opens the object the first components stand for and moves parseIndex past
  // them and one following '/'. nullptr when this layer has no such object.
  // May be absent: the layer then only recognises its names.
  TPkgStream* (*OpenFirst)(TPkgRequest* request);
  // Closes every stream the layer keeps open between opens (the cache does,
  // when its size or lifetime settings change). May be absent.
  void (*Flush)();
  // True for a layer that may hold a stream under any name (the open-file
  // cache keeps finished downloads as well as disk files).
  bool opensEveryName;
};

// A container layer asked to claim a stream whose name goes on past it. It
// answers with a directory-like handle that wraps the stream (and owns it
// from then on), or with a byte stream made from it under the same name, or
// with nullptr; it does not consume a name component.
struct TPkgClaimLayer {
  const char* enableName;
  TPkgStream* (*Claim)(TPkgStream* stream, TPkgRequest* request);
};

const std::vector<TPkgFirstLevel>& PkgFirstLevels();
const std::vector<TPkgClaimLayer>& PkgClaimLayers();

// Adds a layer at run time, at index (or at the end when index is past it),
// and takes it out again; tests use these to try the core with layers of
// their own. A layer is named by its opener or claim function.
void PkgInsertFirstLevel(size_t index, const TPkgFirstLevel& level);
void PkgRemoveFirstLevel(TPkgStream* (*openFirst)(TPkgRequest*));
void PkgInsertClaimLayer(size_t index, const TPkgClaimLayer& layer);
void PkgRemoveClaimLayer(TPkgStream* (*claim)(TPkgStream*, TPkgRequest*));

// Calls the Flush of every first-level layer that has one.
void PkgFlushLayers();

// A zeroed handle with the given operations and layer state, positioned at 0
// and with an empty read window; nullptr when memory is exhausted. PkgClose
// frees it after the layer's Close has released layerData.
TPkgStream* PkgNewStream(const TPkgOps* ops, void* layerData);
// Frees a handle that never reached its opener (a layer's failed open), after
// the layer has released its own state.
void PkgFreeStream(TPkgStream* stream);

// Fills the descriptive fields of info. Returns false, leaving the name
// empty, when the name does not fit in the 511 characters of a package name.
bool PkgSetInfo(TPkgInfo* info, std::string_view name, char mode, char type, char access,
                const char* layerId, int32_t time, uint32_t blockSize, uint32_t blockCount);

// A handle whose bytes are kept in a data stream (a scratch stream of
// decoded, downloaded or written bytes): maps them at the handle's position
// within the handle's access, and carries position and size back.
uint8_t* PkgMapData(TPkgStream* stream, TPkgStream* data, int forWriting, int32_t* length);
// Cuts such a handle's data at the handle's position.
int PkgTruncateData(TPkgStream* stream, TPkgStream* data);

// A member whose bytes the handle's Fill produces into its data stream on
// demand (decoded or inflated) and which is rebuilt from them at close when
// modified. PkgProduceAll runs Fill until the member is whole; the map and
// truncate operations produce a member about to change whole first, mark it
// modified and give it the time now, so that writes land on its complete
// bytes.
void PkgProduceAll(TPkgStream* stream);
uint8_t* PkgMapProduced(TPkgStream* stream, TPkgStream* data, bool& modified, int forWriting, int32_t* length);
int PkgTruncateProduced(TPkgStream* stream, TPkgStream* data, bool& modified);

// True for text: the first sampleSize bytes of the stream are at least
// minBytes, and no more than 32 of them are outside tab, LF, CR and 32..127.
bool PkgLooksLikeText(TPkgStream* stream, size_t sampleSize, size_t minBytes);

// The current calendar time in seconds.
int32_t PkgNow();
// A time stamp as the disk and ZIP layers keep it: calendar seconds taken
// through the local DOS date and time, so rounded down to two seconds.
// Times outside the 32-bit range are clamped first.
int32_t PkgDosRound(int64_t time);
