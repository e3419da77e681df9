#pragma once
// The body shared by the fuzz targets of the container layers: the input is
// claimed as a container and listed, then its first members are opened in
// fresh claims and read to their end.
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "filepkg/pkg_layers.h"
#include "fuzz_reader.h"

namespace fuzzsupport {

using TClaim = TPkgStream* (*)(TPkgStream*, TPkgRequest*);

inline constexpr size_t kMaxMembers = 16;

// Claims the input, named containerName, for a request whose name goes on
// with member (empty to list it).
inline TPkgStream* ClaimInput(const uint8_t* data, size_t size, TClaim claim, const char* containerName,
                              const std::string& member, const char* password, TPkgRequest& request) {
  TPkgStream* bytes = PkgTempStream(32768, 2);
  if (!bytes) return nullptr;
  PkgWrite(data, 1, size, bytes);
  PkgSeek(bytes, 0, SEEK_SET);
  PkgSetInfo(&bytes->info, containerName, 'r', 'b', 'r', "fil", 0, 32768, 2);
  request = TPkgRequest{};
  std::snprintf(request.name, sizeof request.name, "%s/%s", containerName, member.c_str());
  request.parseIndex = static_cast<int32_t>(std::strlen(containerName) + 1);
  request.mode = 'r';
  request.type = member.empty() ? 'd' : '*';
  request.access = 'r';
  request.blockSize = 32768;
  request.blockCount = 2;
  std::snprintf(request.password, sizeof request.password, "%s", password);
  TPkgStream* container = claim(bytes, &request);
  if (!container) PkgClose(bytes, kPkgKeep);
  return container;
}

inline void ReadMember(const uint8_t* data, size_t size, TClaim claim, const char* containerName,
                       const std::string& member, const char* password) {
  TPkgRequest request;
  TPkgStream* container = ClaimInput(data, size, claim, containerName, member, password, request);
  if (!container) return;
  TPkgStream* opened = container->ops->OpenMember ? container->ops->OpenMember(container, &request) : nullptr;
  if (!opened) {
    PkgClose(container, kPkgKeep);
    return;
  }
  uint8_t* bytes = nullptr;
  while (PkgMapRead(&bytes, 32768, opened) > 0) {
  }
  PkgClose(opened, kPkgKeep);
}

inline int ReadContainer(const uint8_t* data, size_t size, TClaim claim, const char* containerName,
                         std::initializer_list<const char*> passwords) {
  if (size > kMaxInput) return 0;
  std::vector<std::string> members;
  TPkgRequest request;
  if (TPkgStream* container = ClaimInput(data, size, claim, containerName, "", "", request)) {
    char record[kPkgRecordSize];
    const size_t prefix = std::strlen(containerName) + 1;
    while (members.size() < kMaxMembers && PkgReadEntry(container, record))
      if (std::strlen(record) > prefix) members.push_back(record + prefix);
    PkgClose(container, kPkgKeep);
  }
  for (const std::string& member : members)
    for (const char* password : passwords) ReadMember(data, size, claim, containerName, member, password);
  return 0;
}

} // namespace fuzzsupport
