// Saving files opened "wb": a new file is written under its name and
// removed again unless the handle closes well; an existing file keeps its
// bytes until a good close replaces them whole, through a hidden file beside
// it, or in place where no such file can take its place. Whatever stops a
// writer part-way leaves the user's file as it was and nothing else behind.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <regex>
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

std::string ParentOf(const std::string& path) { return std::filesystem::path(path).parent_path().string(); }

struct stat StatusOf(const std::string& path) {
  struct stat status{};
  stat(path.c_str(), &status);
  return status;
}

mode_t Umask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

class PkgRewrite : public testing::Test {
protected:
  // Saves bytes under name, closing with closeMode; the close's result.
  static int Save(const std::string& name, const std::vector<uint8_t>& bytes, int closeMode = kPkgKeep) {
    TPkgStream* stream = PkgOpen(name.c_str(), "wb");
    if (!stream) return -2;
    if (PkgWrite(bytes.data(), 1, bytes.size(), stream) != bytes.size()) {
      PkgClose(stream, kPkgAbandon);
      return -3;
    }
    return PkgClose(stream, closeMode);
  }

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
  } cases[] = {
      {true, kPkgKeep, New},    {false, kPkgKeep, New},  {true, kPkgAbandon, Old},
      {false, kPkgAbandon, Gone}, {true, kPkgDelete, Gone}, {false, kPkgDelete, Gone},
  };
  const std::regex hiddenSibling(R"(\.pic\.gif\.zer-[A-Za-z0-9]{6})");
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "existed " << c.existed << ", close mode " << c.closeMode);
    std::filesystem::remove(m_path);
    if (c.existed) WriteFile(m_path, m_old);
    TPkgStream* stream = PkgOpen(m_path.c_str(), "wb");
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(PkgWrite(m_new.data(), 1, m_new.size(), stream), m_new.size());
    std::vector<std::string> whileWriting = Entries(m_dir.Path());
    if (c.existed) {
      EXPECT_EQ(ReadFile(m_path), m_old) << "the old file is untouched while writing";
      ASSERT_EQ(whileWriting.size(), 2u);
      EXPECT_TRUE(std::regex_match(whileWriting[0], hiddenSibling)) << whileWriting[0];
    } else {
      EXPECT_EQ(whileWriting, std::vector<std::string>{"pic.gif"}) << "a new file needs no hidden file";
    }
    EXPECT_EQ(PkgClose(stream, c.closeMode), 0);
    EXPECT_EQ(IsFile(m_path), c.after != Gone);
    if (c.after != Gone) {
      EXPECT_EQ(ReadFile(m_path), c.after == New ? m_new : m_old);
    }
    std::vector<std::string> expected;
    if (c.after != Gone) expected = {"pic.gif"};
    EXPECT_EQ(Entries(m_dir.Path()), expected);
  }
}

TEST_F(PkgRewrite, AFailedWriteLeavesTheOldFileOrNoneAndIsReported) {
  for (bool existed : {true, false}) {
    SCOPED_TRACE(existed ? "existing file" : "new file");
    std::filesystem::remove(m_path);
    if (existed) WriteFile(m_path, m_old);
    // A child process whose files may not grow beyond 40000 bytes: the new
    // contents cannot be written out whole.
    const int status = testsupport::RunWithFileSizeLimit(40000, [&] {
      TPkgStream* stream = PkgOpen(m_path.c_str(), "wb");
      if (!stream) return 2;
      PkgWrite(m_new.data(), 1, m_new.size(), stream);
      return PkgClose(stream, kPkgKeep) != 0 ? 0 : 1;
    });
    EXPECT_EQ(status, 0) << "a failed write was reported as success";
    if (existed) {
      EXPECT_EQ(ReadFile(m_path), m_old);
    }
    std::vector<std::string> expected;
    if (existed) expected = {"pic.gif"};
    EXPECT_EQ(Entries(m_dir.Path()), expected);
  }
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

TEST_F(PkgRewrite, PermissionsOwnerAndLinksAreKept) {
  WriteFile(m_path, m_old);
  chmod(m_path.c_str(), 0640);
  // Only root can give the file to someone else; anyone else keeps it.
  const uid_t owner = geteuid() == 0 ? 1234 : geteuid();
  const gid_t group = geteuid() == 0 ? 5678 : getegid();
  ASSERT_EQ(chown(m_path.c_str(), owner, group), 0);
  mkdir((m_dir / "links").c_str(), 0777);
  std::string link = m_dir / "links/link.gif";
  ASSERT_EQ(symlink("../pic.gif", link.c_str()), 0);
  EXPECT_EQ(Save(link, m_new), 0);
  EXPECT_EQ(ReadFile(m_path), m_new);
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(Entries(m_dir / "links"), std::vector<std::string>{"link.gif"});
  const struct stat status = StatusOf(m_path);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(status.st_uid, owner);
  EXPECT_EQ(status.st_gid, group);

  std::string fresh = m_dir / "new.gif";
  EXPECT_EQ(Save(fresh, {}), 0);
  EXPECT_EQ(StatusOf(fresh).st_mode & 07777, 0666u & ~Umask()) << "as for any new file";
  std::string nowhere = m_dir / "links/nowhere.gif";
  ASSERT_EQ(symlink("missing.gif", nowhere.c_str()), 0);
  EXPECT_EQ(Save(nowhere, m_new), -2) << "a link that points nowhere is not replaced";
  EXPECT_TRUE(std::filesystem::is_symlink(nowhere));
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

// Where no hidden file can take the old one's place, the new bytes are
// prepared first and written over the file itself: it keeps its inode, so
// its owner and its other names see the new bytes.
TEST_F(PkgRewrite, FilesThatCannotBeReplacedAreSavedInPlace) {
  // A file the user may write that belongs to someone else, in a folder the
  // user may write: only root could give a replacement that owner.
  std::string foreign = m_dir / "foreign.gif";
  WriteFile(foreign, m_old);
  chmod(foreign.c_str(), 0666);
  const bool haveForeign = geteuid() == 0;
  const int status = RunWithoutRoot(m_dir, [&] {
    // A file the user may write in a folder the user may not write.
    mkdir((m_dir / "closed").c_str(), 0777);
    std::string closed = m_dir / "closed/pic.gif";
    WriteFile(closed, m_old);
    chmod((m_dir / "closed").c_str(), 0555);
    // A file with a second name.
    std::string linked = m_dir / "linked.gif";
    WriteFile(linked, m_old);
    ASSERT_EQ(link(linked.c_str(), (m_dir / "second.gif").c_str()), 0);

    std::vector<std::string> files = {closed, linked};
    if (haveForeign) files.push_back(foreign);
    for (const std::string& file : files) {
      SCOPED_TRACE(file);
      const struct stat before = StatusOf(file);
      const std::vector<std::string> entries = Entries(ParentOf(file));
      EXPECT_EQ(Save(file, m_new, kPkgAbandon), 0);
      EXPECT_EQ(ReadFile(file), m_old);
      // Too much for the limit: in the scratch space, or only when the
      // prepared bytes are written over the file.
      for (size_t size : {m_new.size(), size_t{60000}}) {
        const std::vector<uint8_t> bytes(size, 0xcd);
        EXPECT_EQ(testsupport::RunWithFileSizeLimit(40000, [&] { return Save(file, bytes) != 0 ? 0 : 1; }), 0)
            << "a failed write was reported as success";
        EXPECT_EQ(ReadFile(file), m_old);
      }
      EXPECT_EQ(Save(file, m_new), 0);
      EXPECT_EQ(ReadFile(file), m_new);
      EXPECT_EQ(Save(file, m_old), 0) << "and back to a shorter file";
      EXPECT_EQ(ReadFile(file), m_old);
      const struct stat after = StatusOf(file);
      EXPECT_EQ(after.st_ino, before.st_ino);
      EXPECT_EQ(after.st_uid, before.st_uid);
      EXPECT_EQ(after.st_mode, before.st_mode);
      EXPECT_EQ(Entries(ParentOf(file)), entries) << "nothing else is left behind";
    }
    EXPECT_EQ(ReadFile(m_dir / "second.gif"), m_old);
    chmod((m_dir / "closed").c_str(), 0777);
  });
  if (status == kNoPlainUser) GTEST_SKIP() << "no user whom permissions stop";
  EXPECT_EQ(status, 0);
}

TEST_F(PkgRewrite, AHiddenFileLeftByAKilledSaveGoesWithTheNextSaveOfItsTarget) {
  WriteFile(m_path, m_old);
  const std::vector<std::string> stale = {".pic.gif.zer-a1B2c3", ".pic.gif.zer-ZZZZZZ"};
  // Another target's, another pattern's, and one a running save holds.
  const std::vector<std::string> kept = {".other.gif.zer-a1B2c3", ".pic.gif.zer-a1B2c3d", ".pic.gif.zer-Held01",
                                         "pic.gif"};
  for (const auto& name : stale) WriteFile(m_dir / name, "stale");
  for (const auto& name : kept) {
    if (name != "pic.gif") WriteFile(m_dir / name, "kept");
  }
  // A lock belongs to an open file, so this one conflicts with a cleanup in
  // this very process as it would with one in another.
  int held = open((m_dir / ".pic.gif.zer-Held01").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  EXPECT_EQ(Save(m_path, m_new), 0);
  close(held);
  std::vector<std::string> sortedKept = kept;
  std::sort(sortedKept.begin(), sortedKept.end());
  EXPECT_EQ(Entries(m_dir.Path()), sortedKept);
}

} // namespace
