// ZIP layer: the input is claimed as an archive and listed; the first
// members listed are opened and read to their end, without a password and
// with one.
#include <cstring>
#include <string>
#include <vector>

#include "filepkg/pkg_layers.h"
#include "filepkg/pkg_zip.h"
#include "support/fuzz_reader.h"

namespace {

constexpr size_t kMaxMembers = 16;
constexpr char kArchiveName[] = "x.zip";

// Claims the input as an archive for a request whose name goes on with
// member (empty to list).
TPkgStream* Claim(const uint8_t* data, size_t size, TPkgRequest& request, const std::string& member,
                  const char* password) {
  TPkgStream* bytes = PkgTempStream(32768, 2);
  if (!bytes) return nullptr;
  PkgWrite(data, 1, size, bytes);
  PkgSeek(bytes, 0, SEEK_SET);
  PkgSetInfo(&bytes->info, kArchiveName, 'r', 'b', 'r', "fil", 0, 32768, 2);
  request = TPkgRequest{};
  std::snprintf(request.name, sizeof request.name, "%s/%s", kArchiveName, member.c_str());
  request.parseIndex = static_cast<int32_t>(std::strlen(kArchiveName) + 1);
  request.mode = 'r';
  request.type = member.empty() ? 'd' : '*';
  request.access = 'r';
  request.blockSize = 32768;
  request.blockCount = 2;
  std::snprintf(request.password, sizeof request.password, "%s", password);
  TPkgStream* archive = ZipClaim(bytes, &request);
  if (!archive) PkgClose(bytes, kPkgKeep);
  return archive;
}

void ReadMember(const uint8_t* data, size_t size, const std::string& member, const char* password) {
  TPkgRequest request;
  TPkgStream* archive = Claim(data, size, request, member, password);
  if (!archive) return;
  TPkgStream* opened = archive->ops->OpenMember(archive, &request);
  if (!opened) {
    PkgClose(archive, kPkgKeep);
    return;
  }
  uint8_t* bytes = nullptr;
  while (PkgMapRead(&bytes, 32768, opened) > 0) {
  }
  PkgClose(opened, kPkgKeep);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > fuzzsupport::kMaxInput) return 0;
  std::vector<std::string> members;
  TPkgRequest request;
  if (TPkgStream* archive = Claim(data, size, request, "", "")) {
    char record[kPkgRecordSize];
    const size_t prefix = std::strlen(kArchiveName) + 1;
    while (members.size() < kMaxMembers && PkgReadEntry(archive, record))
      if (std::strlen(record) > prefix) members.push_back(record + prefix);
    PkgClose(archive, kPkgKeep);
  }
  for (const std::string& member : members) {
    ReadMember(data, size, member, "");
    ReadMember(data, size, member, "12345678");
  }
  return 0;
}
