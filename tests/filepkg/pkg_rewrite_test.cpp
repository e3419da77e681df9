// Files opened "wb" are written beside their name and take it only when the
// handle closes well: whatever stops a writer part-way leaves the user's
// file as it was, and no half-written file ever shows under its name.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "filepkg/pkg_test_support.h"
#include "support/peer.h"

using namespace pkgtest;

namespace {

// Every name in a directory, hidden ones included, sorted.
std::vector<std::string> Entries(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

mode_t Permissions(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

mode_t Umask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

class PkgRewrite : public testing::Test {
protected:
  TTempDir m_dir;
  std::string m_path = m_dir / "pic.gif";
  const std::vector<uint8_t> m_old = Pattern(1000);
  const std::vector<uint8_t> m_new = std::vector<uint8_t>(100000, 0xab);
};

TEST_F(PkgRewrite, OnlyAGoodCloseReplacesTheFileAndNothingElseIsLeft) {
  enum TAfter { Old, New, Gone };
  struct {
    bool existed;
    int closeMode;
    TAfter after;
    int closeResult;
  } cases[] = {
      {true, kPkgKeep, New, 0},    {false, kPkgKeep, New, 0},
      {true, kPkgAbandon, Old, 0}, {false, kPkgAbandon, Gone, 0},
      // Deleting removes the old file; with none there was nothing to delete.
      {true, kPkgDelete, Gone, 0}, {false, kPkgDelete, Gone, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "existed " << c.existed << ", close mode " << c.closeMode);
    std::filesystem::remove(m_path);
    if (c.existed) WriteFile(m_path, m_old);
    TPkgStream* stream = PkgOpen(m_path.c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(PkgWrite(m_new.data(), 1, m_new.size(), stream), m_new.size());
    EXPECT_EQ(ReadFile(m_path), c.existed ? m_old : std::vector<uint8_t>{}) << "the name is untouched while writing";
    EXPECT_EQ(IsFile(m_path), c.existed);
    EXPECT_EQ(PkgClose(stream, c.closeMode), c.closeResult);
    EXPECT_EQ(IsFile(m_path), c.after != Gone);
    if (c.after != Gone) {
      EXPECT_EQ(ReadFile(m_path), c.after == New ? m_new : m_old);
    }
    std::vector<std::string> expected;
    if (c.after != Gone) expected = {"pic.gif"};
    EXPECT_EQ(Entries(m_dir.Path()), expected);
  }
}

TEST_F(PkgRewrite, AFailedWriteLeavesTheFileAndIsReported) {
  WriteFile(m_path, m_old);
  // A child process whose files may not grow beyond 40000 bytes: the second
  // block of the new contents cannot be written out.
  const int status = testsupport::RunWithFileSizeLimit(40000, [&] {
    TPkgStream* stream = PkgOpen(m_path.c_str(), "wb");
    if (!stream) return 2;
    PkgWrite(m_new.data(), 1, m_new.size(), stream);
    return PkgClose(stream, 0) != 0 ? 0 : 1;
  });
  EXPECT_EQ(status, 0) << "a failed write was reported as success";
  EXPECT_EQ(ReadFile(m_path), m_old);
  EXPECT_EQ(Entries(m_dir.Path()), std::vector<std::string>{"pic.gif"});
}

TEST_F(PkgRewrite, TheHandleNamesTheTargetAndReadsBackWhatItWrote) {
  WriteFile(m_path, m_old);
  TPkgStream* stream = PkgOpen(m_path.c_str(), "wb+");
  ASSERT_NE(stream, nullptr);
  TPkgInfo info;
  PkgGetInfo(stream, &info);
  EXPECT_EQ(std::string(info.name), m_path);
  EXPECT_EQ(info.mode, 'w');
  EXPECT_EQ(info.access, '*');
  EXPECT_EQ(PkgSeek(stream, 0, 2), 0);
  EXPECT_EQ(PkgTell(stream), 0) << "the handle starts empty";
  ASSERT_EQ(PkgWrite(m_new.data(), 1, m_new.size(), stream), m_new.size());
  ASSERT_EQ(PkgSeek(stream, 0, 0), 0);
  EXPECT_EQ(ReadAll(stream), m_new);
  EXPECT_EQ(PkgClose(stream, 0), 0);
  EXPECT_EQ(ReadFile(m_path), m_new);
}

TEST_F(PkgRewrite, AReaderOfTheOldFileKeepsItsBytes) {
  WriteFile(m_path, m_old);
  TPkgStream* reader = PkgOpen(m_path.c_str(), "rb");
  TPkgStream* writer = PkgOpen(m_path.c_str(), "wb");
  ASSERT_NE(reader, nullptr);
  ASSERT_NE(writer, nullptr);
  ASSERT_EQ(PkgWrite(m_new.data(), 1, m_new.size(), writer), m_new.size());
  EXPECT_EQ(PkgClose(writer, 0), 0);
  EXPECT_EQ(ReadAll(reader), m_old);
  PkgClose(reader, 0);
}

TEST_F(PkgRewrite, PermissionsAndLinksAreKept) {
  WriteFile(m_path, m_old);
  chmod(m_path.c_str(), 0640);
  std::string link = m_dir / "link.gif";
  ASSERT_EQ(symlink("pic.gif", link.c_str()), 0);
  TPkgStream* stream = PkgOpen(link.c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  PkgWrite(m_new.data(), 1, m_new.size(), stream);
  EXPECT_EQ(PkgClose(stream, 0), 0);
  EXPECT_EQ(ReadFile(m_path), m_new);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(Permissions(m_path), 0640u);

  std::string fresh = m_dir / "new.gif";
  stream = PkgOpen(fresh.c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(PkgClose(stream, 0), 0);
  EXPECT_EQ(Permissions(fresh), 0666u & ~Umask()) << "as for any new file";
}

TEST_F(PkgRewrite, AFileTheUserMayNotWriteIsNotRewritten) {
  const int status = RunWithoutRoot(m_dir, [&] {
    WriteFile(m_path, m_old);
    chmod(m_path.c_str(), 0444);
    EXPECT_EQ(PkgOpen(m_path.c_str(), "wb"), nullptr);
    EXPECT_EQ(Entries(m_dir.Path()), std::vector<std::string>{"pic.gif"});
    EXPECT_EQ(ReadFile(m_path), m_old);
  });
  if (status == kNoPlainUser) GTEST_SKIP() << "no user whom permissions stop";
  EXPECT_EQ(status, 0);
}

} // namespace
