// Package names on disk: how names are completed, walked, matched and
// created, how directories are listed, and what bad names get.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include <gtest/gtest.h>

#include "filepkg/pkg_test_support.h"

using namespace pkgtest;

namespace {

// The description of what name opens with mode; the name "(none)" when it
// does not open.
TPkgInfo InfoOf(const std::string& name, const char* mode) {
  TPkgInfo info{};
  std::strcpy(info.name, "(none)");
  if (TPkgStream* stream = PkgOpen(name.c_str(), mode)) {
    PkgGetInfo(stream, &info);
    PkgClose(stream, 0);
  }
  return info;
}

std::string OpenedName(const std::string& name, const char* mode) { return InfoOf(name, mode).name; }

class PkgNames : public testing::Test {
protected:
  void SetUp() override {
    mkdir((m_dir / "x").c_str(), 0777);
    mkdir((m_dir / "x/y").c_str(), 0777);
    mkdir((m_dir / "Pics").c_str(), 0777);
    WriteFile(m_dir / "x/z.gif", "GIF89a");
    WriteFile(m_dir / "Pics/Photo.GIF", "GIF89a");
  }
  TTempDir m_dir;
};

TEST_F(PkgNames, ComponentsAreWalkedAndMatched) {
  const std::string& t = m_dir.Path();
  struct {
    std::string name;
    const char* mode;
    std::string opened;
  } cases[] = {
      {t + "/x/./y/../z.gif", "rb", t + "/x/z.gif"},
      {t + "\\x\\z.gif", "rb", t + "/x/z.gif"},
      {t + "/x//z.gif", "rb", t + "/x/z.gif"},
      {"/../.." + t + "/x/z.gif", "rb", t + "/x/z.gif"},
      {t + "/x/y/", "rd", t + "/x/y/"},
      {t + "/x/y/..", "rd", t + "/x/"},
      {"/", "rd", "/"},
      // The spelling on disk wins over the spelling asked for.
      {t + "/pics/photo.gif", "rb", t + "/Pics/Photo.GIF"},
      {t + "/PICS/", "rd", t + "/Pics/"},
      {t + "/x/missing.gif", "rb", "(none)"},
      {t + "/x/z.gif/more", "rb", "(none)"},
      {t + "/x/z.gif", "rd", "(none)"},
      {t + "/x/y", "rb", "(none)"},
      {"/", "rb", "(none)"},
  };
  for (const auto& c : cases) EXPECT_EQ(OpenedName(c.name, c.mode), c.opened) << c.name << " " << c.mode;
}

TEST_F(PkgNames, RelativeNamesStartInTheCurrentDirectory) {
  char saved[PATH_MAX];
  ASSERT_NE(getcwd(saved, sizeof(saved)), nullptr);
  ASSERT_EQ(chdir((m_dir / "x").c_str()), 0);
  std::string fromX = OpenedName("z.gif", "rb");
  std::string fromY = OpenedName("y\\..\\z.gif", "rb");
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_EQ(fromX, m_dir / "x/z.gif");
  EXPECT_EQ(fromY, m_dir / "x/z.gif");
}

TEST_F(PkgNames, DescribesTheOpenedObject) {
  TPkgInfo info = InfoOf(m_dir / "x/z.gif", "rb");
  EXPECT_EQ(info.mode, 'r');
  EXPECT_EQ(info.type, 'b');
  EXPECT_EQ(info.access, 'r');
  EXPECT_STREQ(info.layerId, "fil");
  EXPECT_EQ(info.blockSize, 6u) << "a small file opened read only is one block";
  EXPECT_EQ(info.blockCount, 1u);
  info = InfoOf(m_dir / "x/z.gif", "rb+");
  EXPECT_EQ(info.access, '*');
  EXPECT_EQ(info.blockSize, 32768u);
  EXPECT_EQ(info.blockCount, 2u);
  info = InfoOf(m_dir / "x", "rd");
  EXPECT_EQ(info.type, 'd');
  EXPECT_EQ(info.blockSize, 512u);
  EXPECT_EQ(info.blockCount, 1u);
}

TEST_F(PkgNames, WritingCreatesMissingDirectories) {
  TPkgStream* stream = PkgOpen((m_dir / "new/dir/f.gif").c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(PkgWrite("GIF", 1, 3, stream), 3u);
  TPkgInfo info;
  PkgGetInfo(stream, &info);
  EXPECT_EQ(info.mode, 'w');
  EXPECT_EQ(info.access, 'w');
  EXPECT_EQ(PkgClose(stream, 0), 0);
  EXPECT_TRUE(IsDirectory(m_dir / "new/dir"));
  EXPECT_EQ(ReadFile(m_dir / "new/dir/f.gif"), std::vector<uint8_t>({'G', 'I', 'F'}));
}

TEST_F(PkgNames, AComponentWithADotBecomesAFileForTheLayerAbove) {
  TPkgStream* stream = PkgOpen((m_dir / "new/sub.zip/m.gif").c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(PkgWrite("GIF", 1, 3, stream), 3u);
  EXPECT_EQ(PkgClose(stream, kPkgKeep), 0);
  EXPECT_TRUE(IsDirectory(m_dir / "new"));
  EXPECT_TRUE(IsFile(m_dir / "new/sub.zip")) << "the archive, for the ZIP layer to fill";
  EXPECT_EQ(ListNames(m_dir / "new/sub.zip"), std::vector<std::string>{m_dir / "new/sub.zip/m.gif"});
}

TEST_F(PkgNames, AnOpenThatFailsLeavesNoFileItMade) {
  // No layer takes pages into a new, empty TIFF file.
  EXPECT_EQ(PkgOpen((m_dir / "x/new.tif/page0001.tif").c_str(), "wb"), nullptr);
  EXPECT_FALSE(IsFile(m_dir / "x/new.tif"));
}

TEST_F(PkgNames, WritingBelowAnExistingFileLeavesItAlone) {
  struct stat before;
  ASSERT_EQ(stat((m_dir / "x/z.gif").c_str(), &before), 0);
  EXPECT_EQ(PkgOpen((m_dir / "x/z.gif/m.gif").c_str(), "wb"), nullptr);
  struct stat after;
  ASSERT_EQ(stat((m_dir / "x/z.gif").c_str(), &after), 0);
  EXPECT_EQ(ReadFile(m_dir / "x/z.gif"), std::vector<uint8_t>({'G', 'I', 'F', '8', '9', 'a'}));
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
}

TEST_F(PkgNames, ReadingCreatesNothing) {
  EXPECT_EQ(PkgOpen((m_dir / "new/dir/f.gif").c_str(), "rb"), nullptr);
  EXPECT_EQ(PkgOpen((m_dir / "new/dir/f.gif").c_str(), "rb+"), nullptr);
  EXPECT_FALSE(IsDirectory(m_dir / "new"));
}

TEST_F(PkgNames, WritingAnExistingFileReplacesIt) {
  TPkgStream* stream = PkgOpen((m_dir / "x/Z.GIF").c_str(), "wb");
  ASSERT_NE(stream, nullptr);
  PkgWrite("ab", 1, 2, stream);
  PkgClose(stream, 0);
  EXPECT_EQ(ReadFile(m_dir / "x/z.gif"), std::vector<uint8_t>({'a', 'b'}));
}

// A directory asked for with "wd" is made as a directory; a file of that
// name makes the open fail and keeps its bytes.
TEST_F(PkgNames, CreatingADirectoryNeverTouchesAFile) {
  for (const char* mode : {"wd", "*d"}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(PkgOpen((m_dir / "x/z.gif").c_str(), mode), nullptr);
    EXPECT_EQ(ReadFile(m_dir / "x/z.gif"), std::vector<uint8_t>({'G', 'I', 'F', '8', '9', 'a'}));
  }
  struct {
    const char* name;
    const char* mode;
  } cases[] = {{"made", "wd"}, {"made/deeper/", "*d"}, {"x/y", "wd"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TPkgInfo info = InfoOf(m_dir / c.name, c.mode);
    EXPECT_EQ(info.type, 'd');
    EXPECT_TRUE(IsDirectory(m_dir / c.name));
  }
}

TEST(PkgModes, ModeStringsSetModeTypeAndAccess) {
  TTempDir dir;
  WriteFile(dir / "f.gif", "abc");
  struct {
    const char* mode;
    const char* name;
    bool opens;
    char type, access;
  } cases[] = {
      {"rb", "f.gif", true, 'b', 'r'},   {"r", "f.gif", true, 'b', 'r'},   {"r+", "f.gif", true, 'b', '*'},
      {"rb+", "f.gif", true, 'b', '*'},  {"sb", "f.gif", true, 'b', 'r'},  {"*b", "f.gif", true, 'b', '*'},
      {"rd", "", true, 'd', 'r'},        {"rbd", "f.gif", false, 0, 0},    {"rbb", "f.gif", false, 0, 0},
      {"xb", "f.gif", false, 0, 0},      {"", "f.gif", false, 0, 0},       {"rq", "f.gif", false, 0, 0},
      {"rd", "f.gif", false, 0, 0},      {"rb", "", false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mode << " " << c.name);
    TPkgStream* stream = PkgOpen((dir / c.name).c_str(), c.mode);
    ASSERT_EQ(stream != nullptr, c.opens);
    if (!stream) continue;
    TPkgInfo info;
    PkgGetInfo(stream, &info);
    EXPECT_EQ(info.type, c.type);
    EXPECT_EQ(info.access, c.access);
    PkgClose(stream, 0);
  }
  EXPECT_EQ(ReadFile(dir / "f.gif"), std::vector<uint8_t>({'a', 'b', 'c'}));
}

TEST(PkgListing, ListsFullNamesWithHiddenAndSystemEntriesOnRequest) {
  TTempDir dir;
  WriteFile(dir / "a.gif", "1");
  WriteFile(dir / ".hidden.gif", "2");
  mkdir((dir / "sub").c_str(), 0777);
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  std::string name = dir.Path() + "/";
  auto sorted = [](std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
  };
  EXPECT_EQ(sorted(ListNames(name)), (std::vector<std::string>{name + "a.gif", name + "sub/"}));
  {
    TIntParamGuard hidden("EnableHiddenFiles", 1);
    EXPECT_EQ(sorted(ListNames(name)), (std::vector<std::string>{name + ".hidden.gif", name + "a.gif", name + "sub/"}));
  }
  {
    TIntParamGuard system("EnableSystemFiles", 1);
    EXPECT_EQ(sorted(ListNames(name)), (std::vector<std::string>{name + "a.gif", name + "pipe", name + "sub/"}));
  }
  // A fifo is never opened, so that nothing can block on it.
  EXPECT_EQ(PkgOpen((dir / "pipe").c_str(), "rb"), nullptr);
  EXPECT_EQ(PkgOpen((dir / "pipe").c_str(), "wb"), nullptr);
}

TEST(PkgListing, MapGivesOneRecordAtMostAndEarlierRecordsRestart) {
  TTempDir dir;
  for (const char* leaf : {"a", "b", "c"}) WriteFile(dir / leaf, "x");
  TPkgStream* stream = PkgOpen(dir.Path().c_str(), "rd");
  ASSERT_NE(stream, nullptr);
  uint8_t* data = nullptr;
  ASSERT_EQ(PkgMapRead(&data, 1024, stream), 512);
  std::string first(reinterpret_cast<char*>(data));
  ASSERT_EQ(PkgSeek(stream, 512 + 256, 0), 0);
  EXPECT_EQ(PkgMapRead(&data, 1024, stream), 256);
  EXPECT_TRUE(std::all_of(data, data + 256, [](uint8_t b) { return b == 0; }));
  ASSERT_EQ(PkgSeek(stream, 0, 0), 0);
  ASSERT_EQ(PkgMapRead(&data, 512, stream), 512);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data)), first);
  EXPECT_EQ(PkgSeek(stream, 0, 2), 0);
  EXPECT_EQ(PkgTell(stream), 3 * 512);
  EXPECT_EQ(PkgMapRead(&data, 512, stream), 0);
  EXPECT_EQ(PkgWrite("x", 1, 1, stream), 0u) << "listings are read only";
  PkgClose(stream, 0);
}

TEST(PkgListing, AnUnreadableDirectoryListsNothingAndOpensNothing) {
  TTempDir dir;
  const int status = RunWithoutRoot(dir, [&] {
    mkdir((dir / "locked").c_str(), 0777);
    WriteFile(dir / "locked/a.gif", "x");
    chmod((dir / "locked").c_str(), 0);
    EXPECT_TRUE(ListNames(dir / "locked").empty());
    EXPECT_EQ(PkgOpen((dir / "locked/a.gif").c_str(), "rb"), nullptr);
    EXPECT_EQ(PkgOpen((dir / "locked/b.gif").c_str(), "wb"), nullptr);
  });
  if (status == kNoPlainUser) GTEST_SKIP() << "no user whom permissions stop";
  EXPECT_EQ(status, 0);
}

TEST(PkgBadNames, MissingEmptyAndOverlongNamesFail) {
  TTempDir dir;
  mkdir((dir / "d").c_str(), 0777);
  EXPECT_EQ(PkgOpen(nullptr, "rb"), nullptr);
  EXPECT_EQ(PkgOpen((dir / "d").c_str(), nullptr), nullptr);
  EXPECT_EQ(PkgOpen("", "rb"), nullptr);
  EXPECT_EQ(PkgDelete(""), -1);
  // The first 511 characters of this name are a usable name of the
  // directory; the whole name must not be taken for it.
  std::string name = dir / "d";
  while (name.size() < 511) name += "/.";
  name.resize(511);
  if (name.back() == '/') name.back() = '.';
  TPkgStream* fits = PkgOpen(name.c_str(), "rd");
  EXPECT_NE(fits, nullptr);
  PkgClose(fits, 0);
  EXPECT_EQ(PkgOpen((name + "/x.gif").c_str(), "rd"), nullptr);
  EXPECT_EQ(PkgOpen((name + "/x.gif").c_str(), "wb"), nullptr);
  EXPECT_FALSE(IsFile(dir / "d/x.gif"));
  // A name is a C string: whatever follows a NUL is not part of it.
  std::string withNul = dir / "d";
  withNul += '\0';
  withNul += "/junk";
  EXPECT_EQ(OpenedName(withNul.c_str(), "rd"), dir / "d/");
}

TEST(PkgBadNames, EntriesWhoseNamesDoNotFitARecordAreNotListedAndListedOnesOpen) {
  TTempDir dir;
  std::string deep = dir.Path();
  while (deep.size() < 470) {
    deep += "/" + std::string(40, 'd');
    mkdir(deep.c_str(), 0777);
  }
  // A name of exactly 511 characters: the longest a package name can be.
  std::string fits = deep + "/" + std::string(511 - deep.size() - 1, 'f');
  WriteFile(fits, "x");
  WriteFile(fits + "toolong", "x");
  EXPECT_EQ(ListNames(deep), std::vector<std::string>{fits});
  TPkgStream* stream = PkgOpen(fits.c_str(), "rb");
  ASSERT_NE(stream, nullptr) << "every listed name opens";
  PkgClose(stream, kPkgKeep);
}

TEST(PkgBadNames, AFileRemovedWhileOpenStaysReadableAndCannotBeDeletedAgain) {
  TTempDir dir;
  std::string path = dir / "f.bin";
  WriteFile(path, Pattern(70000));
  TPkgStream* readOnly = PkgOpen(path.c_str(), "rb");
  TPkgStream* ring = PkgOpen(path.c_str(), "rb+");
  ASSERT_NE(readOnly, nullptr);
  ASSERT_NE(ring, nullptr);
  ASSERT_EQ(unlink(path.c_str()), 0);
  EXPECT_EQ(ReadAll(readOnly), Pattern(70000));
  EXPECT_EQ(ReadAll(ring), Pattern(70000));
  EXPECT_EQ(PkgClose(readOnly, 0), 0);
  EXPECT_EQ(PkgClose(ring, kPkgDelete), -1) << "nothing was left to delete";
}

} // namespace
