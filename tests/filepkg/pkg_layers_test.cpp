// The level loop of the package core with layers of the tests' own: a small
// container that claims files, a wrapper that hands a byte stream back to be
// claimed again, and a first-level layer with a name test of its own. They
// show how names are walked into containers, for reading and for writing,
// before the real container layers exist.
#include <strings.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "filepkg/pkg_layers.h"
#include "filepkg/pkg_listing.h"
#include "filepkg/pkg_test_support.h"
#include "filepkg/pkg_url.h"

using namespace pkgtest;

namespace {

// The test container: "FAKE\n", then for every member its name, a newline,
// its size in decimal, a newline and its bytes.
constexpr std::string_view kFakeMagic = "FAKE\n";

struct TNoCase {
  bool operator()(const std::string& a, const std::string& b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};
using TMembers = std::map<std::string, std::string, TNoCase>;

std::string Serialize(const TMembers& members) {
  std::string bytes(kFakeMagic);
  for (const auto& [name, content] : members) bytes += name + "\n" + std::to_string(content.size()) + "\n" + content;
  return bytes;
}

bool Parse(const std::string& bytes, TMembers& members) {
  if (bytes.compare(0, kFakeMagic.size(), kFakeMagic) != 0) return false;
  size_t at = kFakeMagic.size();
  while (at < bytes.size()) {
    size_t nameEnd = bytes.find('\n', at);
    size_t sizeEnd = nameEnd == std::string::npos ? nameEnd : bytes.find('\n', nameEnd + 1);
    if (sizeEnd == std::string::npos) return false;
    size_t size = std::stoul(bytes.substr(nameEnd + 1, sizeEnd - nameEnd - 1));
    members[bytes.substr(at, nameEnd - at)] = bytes.substr(sizeEnd + 1, size);
    at = sizeEnd + 1 + size;
  }
  return true;
}

std::string ReadWhole(TPkgStream* stream) {
  PkgSeek(stream, 0, 0);
  std::vector<uint8_t> bytes = ReadAll(stream);
  return std::string(bytes.begin(), bytes.end());
}

// The directory-like handle of a claimed container: owns the claimed stream
// and lists the members.
class TFakeArchive final : public TPkgListing {
public:
  TFakeArchive(TPkgStream* source, TMembers members) : m_source(source), m_members(std::move(members)) {}

  // Writes the members back into the claimed stream.
  bool Store() {
    std::string bytes = Serialize(m_members);
    return PkgSeek(m_source, 0, 0) == 0 && PkgWrite(bytes.data(), 1, bytes.size(), m_source) == bytes.size() &&
           PkgTruncate(m_source) == 0;
  }

  TPkgStream* m_source;
  TMembers m_members;
  std::string m_name; // container name + '/'

protected:
  bool Rewind() override {
    m_next = m_members.begin();
    m_started = true;
    return true;
  }
  bool NextEntry(char* record) override {
    if (!m_started) Rewind();
    if (m_next == m_members.end()) return false;
    std::string full = m_name + m_next->first;
    std::memcpy(record, full.c_str(), std::min<size_t>(full.size(), kPkgRecordSize - 1));
    ++m_next;
    return true;
  }

private:
  TMembers::iterator m_next;
  bool m_started = false;
};

TFakeArchive* ArchiveOf(TPkgStream* stream) { return static_cast<TFakeArchive*>(stream->layerData); }

// A member: its bytes in memory; it keeps the archive handle it came from
// and stores itself there when closed.
struct TFakeMember {
  TPkgStream* archive;
  std::string name;
  std::string bytes;
};

TFakeMember* MemberOf(TPkgStream* stream) { return static_cast<TFakeMember*>(stream->layerData); }

uint8_t* MemberMap(TPkgStream* stream, int forWriting, int32_t* length) {
  TFakeMember* member = MemberOf(stream);
  if (forWriting ? stream->info.access == 'r' : stream->position >= stream->size) return nullptr;
  if (forWriting && member->bytes.size() < static_cast<size_t>(stream->position + *length))
    member->bytes.resize(stream->position + *length);
  *length = static_cast<int32_t>(std::min<int64_t>(*length, member->bytes.size() - stream->position));
  uint8_t* data = reinterpret_cast<uint8_t*>(member->bytes.data()) + stream->position;
  stream->position += *length;
  stream->size = std::max(stream->size, stream->position);
  return data;
}

int MemberTruncate(TPkgStream* stream) {
  MemberOf(stream)->bytes.resize(stream->position);
  stream->size = stream->position;
  return 0;
}

// Keeping stores a member that was written; deleting leaves it out; either
// rewrites the archive. Abandoning leaves the archive, and so every level
// below it, exactly as it was.
int MemberClose(TPkgStream* stream, int closeMode) {
  TFakeMember* member = MemberOf(stream);
  TFakeArchive* archive = ArchiveOf(member->archive);
  bool written = stream->info.access != 'r';
  bool stored = true;
  if (closeMode == kPkgDelete) {
    archive->m_members.erase(member->name);
    stored = archive->Store();
  } else if (closeMode == kPkgKeep && written) {
    member->bytes.resize(stream->size);
    archive->m_members[member->name] = member->bytes;
    stored = archive->Store();
  }
  int closed = PkgClose(member->archive, closeMode == kPkgAbandon ? kPkgAbandon : kPkgKeep);
  delete member;
  return stored && closed == 0 ? 0 : -1;
}

const TPkgOps kMemberOps = {nullptr, MemberMap, nullptr, MemberTruncate, MemberClose};

TPkgStream* ArchiveOpenMember(TPkgStream* archiveHandle, TPkgRequest* request) {
  const char* rest = request->name + request->parseIndex;
  size_t length = std::strcspn(rest, "/");
  if (length == 0) return nullptr;
  std::string name(rest, length);
  TFakeArchive* archive = ArchiveOf(archiveHandle);
  auto found = archive->m_members.find(name);
  if (found == archive->m_members.end() && request->mode == 'r') return nullptr;
  auto* member = new TFakeMember{archiveHandle, found == archive->m_members.end() ? name : found->first, ""};
  if (found != archive->m_members.end() && request->mode != 'w') member->bytes = found->second;
  TPkgStream* stream = PkgNewStream(&kMemberOps, member);
  char access = request->access;
  PkgSetInfo(&stream->info, archive->m_name + member->name, request->mode, 'b', access, "fak", PkgNow(), 4096, 1);
  stream->size = static_cast<int64_t>(member->bytes.size());
  request->parseIndex += static_cast<int32_t>(length) + (rest[length] == '/' ? 1 : 0);
  return stream;
}

int ArchiveClose(TPkgStream* stream, int closeMode) {
  TFakeArchive* archive = ArchiveOf(stream);
  int closed = PkgClose(archive->m_source, closeMode);
  delete archive;
  return closed;
}

const TPkgOps kArchiveOps = {ArchiveOpenMember, TPkgListing::Map, TPkgListing::Fill, nullptr, ArchiveClose};

// Claims a stream holding an archive, or an empty one that is to be written.
TPkgStream* FakeClaim(TPkgStream* source, TPkgRequest* request) {
  if (request->type == 'b') return nullptr;
  TMembers members;
  std::string bytes = ReadWhole(source);
  if (!Parse(bytes, members) && !(bytes.empty() && request->mode != 'r')) return nullptr;
  auto* archive = new TFakeArchive(source, std::move(members));
  archive->m_name = std::string(source->info.name) + "/";
  TPkgStream* stream = PkgNewStream(&kArchiveOps, archive);
  PkgSetInfo(&stream->info, archive->m_name, source->info.mode, 'd', source->info.access, "fak",
             source->info.time, kPkgRecordSize, 1);
  return stream;
}

// A stream that starts "WRAP\n" stands for the bytes after it, under the
// same name, as joined parts or decoded files do; the other layers are then
// asked about those bytes.
constexpr std::string_view kWrapMagic = "WRAP\n";

TPkgStream* WrapClaim(TPkgStream* source, TPkgRequest*) {
  std::string bytes = ReadWhole(source);
  if (bytes.compare(0, kWrapMagic.size(), kWrapMagic) != 0) return nullptr;
  TPkgStream* unwrapped = PkgTempStream(4096, 2);
  bytes.erase(0, kWrapMagic.size());
  PkgWrite(bytes.data(), 1, bytes.size(), unwrapped);
  PkgSeek(unwrapped, 0, 0);
  unwrapped->info = source->info;
  PkgClose(source, kPkgKeep);
  return unwrapped;
}

// A first-level layer for names "fake://...", which it reads as empty
// streams and refuses to write, as the URL layer does.
int FakeUrlCanonical(TPkgRequest* request) { return std::strncmp(request->name, "fake://", 7) == 0 ? 1 : 0; }

TPkgStream* FakeUrlOpen(TPkgRequest* request) {
  if (request->mode != 'r') return nullptr;
  TPkgStream* stream = PkgTempStream(4096, 2);
  PkgSetInfo(&stream->info, request->name, 'r', 'b', 'r', "url", PkgNow(), 4096, 2);
  request->parseIndex = static_cast<int32_t>(std::strlen(request->name));
  return stream;
}

class PkgLayers : public testing::Test {
protected:
  void SetUp() override {
    // Ahead of every real layer, under the switches of the layers they
    // stand in for.
    PkgInsertClaimLayer(0, {"EnableZIPIO", FakeClaim});
    PkgInsertClaimLayer(1, {"EnableMULIO", WrapClaim});
    PkgInsertFirstLevel(0, {"EnableURLIO", FakeUrlCanonical, FakeUrlOpen, nullptr, false});
  }
  void TearDown() override {
    PkgRemoveClaimLayer(FakeClaim);
    PkgRemoveClaimLayer(WrapClaim);
    PkgRemoveFirstLevel(FakeUrlOpen);
  }

  std::string Read(const std::string& name) {
    TPkgStream* stream = PkgOpen((m_dir / name).c_str(), "rb");
    if (!stream) return "(none)";
    std::string bytes = ReadWhole(stream);
    PkgClose(stream, kPkgKeep);
    return bytes;
  }
  bool Write(const std::string& name, const std::string& bytes, int closeMode = kPkgKeep) {
    TPkgStream* stream = PkgOpen((m_dir / name).c_str(), "wb");
    if (!stream) return false;
    bool written = PkgWrite(bytes.data(), 1, bytes.size(), stream) == bytes.size();
    return PkgClose(stream, closeMode) == 0 && written;
  }

  TTempDir m_dir;
};

TEST_F(PkgLayers, MembersAreReadThroughTheClaimAndTheTypeIsCheckedAfterIt) {
  WriteFile(m_dir / "a.zip", Serialize({{"M.gif", "member bytes"}, {"n.gif", "other"}}));
  EXPECT_EQ(Read("a.zip/m.GIF"), "member bytes") << "member names match without regard to case";
  EXPECT_EQ(Read("a.zip"), Serialize({{"M.gif", "member bytes"}, {"n.gif", "other"}})) << "the archive's own bytes";
  EXPECT_EQ(ListNames(m_dir / "a.zip"), (std::vector<std::string>{m_dir / "a.zip/M.gif", m_dir / "a.zip/n.gif"}));
  EXPECT_EQ(Read("a.zip/missing.gif"), "(none)");
  EXPECT_EQ(PkgOpen((m_dir / "a.zip/M.gif").c_str(), "rd"), nullptr) << "a member is no listing";
  TIntParamGuard off("EnableZIPIO", 0);
  EXPECT_EQ(Read("a.zip/M.gif"), "(none)");
}

TEST_F(PkgLayers, NestedWritesReachTheClaims) {
  ASSERT_TRUE(Write("a.zip/b.zip/m.gif", "deep"));
  EXPECT_TRUE(IsFile(m_dir / "a.zip")) << "a container named on the way is a file, not a folder";
  EXPECT_EQ(Read("a.zip/b.zip/m.gif"), "deep");
  ASSERT_TRUE(Write("a.zip/b.zip/n.gif", "second"));
  ASSERT_TRUE(Write("a.zip/c.gif", "beside"));
  EXPECT_EQ(Read("a.zip/b.zip/m.gif"), "deep") << "members not written stay";
  EXPECT_EQ(Read("a.zip/b.zip/n.gif"), "second");
  EXPECT_EQ(ListNames(m_dir / "a.zip"), (std::vector<std::string>{m_dir / "a.zip/b.zip", m_dir / "a.zip/c.gif"}));
}

TEST_F(PkgLayers, AbandonKeepsTheContainerAndDeleteRemovesTheMember) {
  ASSERT_TRUE(Write("a.zip/b.zip/m.gif", "old"));
  ASSERT_TRUE(Write("a.zip/b.zip/n.gif", "other"));
  const std::vector<uint8_t> before = ReadFile(m_dir / "a.zip");
  ASSERT_TRUE(Write("a.zip/b.zip/m.gif", "new and longer", kPkgAbandon));
  EXPECT_EQ(ReadFile(m_dir / "a.zip"), before) << "an abandoned write leaves every level as it was";

  EXPECT_EQ(PkgDelete((m_dir / "a.zip/b.zip/m.gif").c_str()), 0);
  EXPECT_EQ(Read("a.zip/b.zip/m.gif"), "(none)");
  EXPECT_EQ(Read("a.zip/b.zip/n.gif"), "other");
}

TEST_F(PkgLayers, AWriteGivenUpLeavesNothingItMade) {
  ASSERT_TRUE(Write("new.zip/b.zip/m.gif", "given up", kPkgAbandon));
  EXPECT_TRUE(std::filesystem::is_empty(m_dir.Path())) << "the archive the write made is gone again";
}

TEST_F(PkgLayers, AStreamHandedBackIsClaimedAgain) {
  WriteFile(m_dir / "w.zip", std::string(kWrapMagic) + Serialize({{"m.gif", "inside"}}));
  EXPECT_EQ(Read("w.zip/m.gif"), "inside");
}

TEST_F(PkgLayers, ANameAFirstLevelLayerRecognisesNeverReachesTheDisk) {
  char saved[PATH_MAX];
  ASSERT_NE(getcwd(saved, sizeof(saved)), nullptr);
  ASSERT_EQ(chdir(m_dir.Path().c_str()), 0);
  TPkgStream* read = PkgOpen("fake://host/pics/x.gif", "rb");
  TPkgStream* written = PkgOpen("fake://host/pics/x.gif", "wb");
  // The URL layer's own name test: it recognises the name even while
  // nothing downloads it.
  TPkgStream* url = PkgOpen("http://example.com/pics/x.gif", "wb");
  TPkgStream* hostName = PkgOpen("www.example.com/pics/x.gif", "wb");
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_NE(read, nullptr);
  PkgClose(read, kPkgKeep);
  EXPECT_EQ(written, nullptr);
  EXPECT_EQ(url, nullptr);
  EXPECT_EQ(hostName, nullptr);
  EXPECT_TRUE(std::filesystem::is_empty(m_dir.Path())) << "nothing was created on disk";
}

TEST(PkgUrlName, UrlsAreRecognisedAndWrittenInTheirCanonicalForm) {
  struct {
    const char* name;
    int answer;
    const char* canonical;
  } cases[] = {
      {"http://Server/pics/a.gif", 1, "http://Server/pics/a.gif"},
      {"HTTP://server", 1, "http://server/"},
      {"http://server:80/a.gif", 1, "http://server/a.gif"},
      {"http://server:8080/a.gif", 1, "http://server:8080/a.gif"},
      {"http://server:8x0/a.gif", 1, "http://server/a.gif"},
      {"https://server:443/a.gif", 1, "https://server/a.gif"},
      {"https://server:80/a.gif", 1, "https://server:80/a.gif"},
      {"www.example.com/a.gif", 1, "http://www.example.com/a.gif"},
      {"www.example.de:8080", 1, "http://www.example.de:8080/"},
      {"192.168.1.20/a.gif", 1, "http://192.168.1.20/a.gif"},
      {"example.com/a.gif", 0, nullptr},
      {"my.pics.v2/a.gif", 0, nullptr},
      {"a.b.gif", 0, nullptr},
      {"pics/a.gif", 0, nullptr},
      {"http://server:99999/a.gif", -1, nullptr},
      {"http:///a.gif", -1, nullptr},
  };
  for (const auto& c : cases) {
    TPkgRequest request{};
    std::strcpy(request.name, c.name);
    EXPECT_EQ(UrlCanonical(&request), c.answer) << c.name;
    if (c.canonical) {
      EXPECT_STREQ(request.name, c.canonical) << c.name;
    }
  }
}

} // namespace
