// Deleting into the freedesktop.org Trash of the file's own file system. A
// test cannot mount a file system, so the choice of a top directory's trash
// is tested on a folder standing in for the top directory, and the whole
// move end to end with the home trash.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/log_sink.h"
#include "filepkg/pkg_test_support.h"
#include "filepkg/pkg_trash.h"

using namespace pkgtest;

namespace {

const std::string kUid = std::to_string(getuid());

bool IsPrivateDirectory(const std::string& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && (status.st_mode & 0777) == 0700;
}

std::string Text(const std::string& path) {
  std::vector<uint8_t> bytes = ReadFile(path);
  return {bytes.begin(), bytes.end()};
}

TEST(PkgTrash, TheTopDirectoryIsTheHighestFolderOnTheFilesDevice) {
  EXPECT_EQ(MountTopOf("/proc/self/status"), "/proc");
  TTempDir dir;
  std::string top = MountTopOf(dir / "a.gif");
  ASSERT_FALSE(top.empty());
  EXPECT_EQ(dir.Path().rfind(top == "/" ? "/" : top + "/", 0), 0u) << top;
  struct stat inside, above;
  ASSERT_EQ(stat(top.c_str(), &inside), 0);
  if (top != "/") {
    ASSERT_EQ(stat((top + "/..").c_str(), &above), 0);
    EXPECT_NE(inside.st_dev, above.st_dev) << top;
  }
}

TEST(PkgTrash, ASharedTrashIsUsedOnlyWhenItIsAStickyDirectory) {
  enum TShared { None, Sticky, NotSticky, LinkToSticky };
  const struct {
    const char* name;
    TShared shared;
    bool usesShared;
  } cases[] = {
      {"no .Trash", None, false},
      {"sticky .Trash", Sticky, true},
      {".Trash without the sticky bit", NotSticky, false},
      {".Trash a link to a sticky directory", LinkToSticky, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TTempDir top;
    const std::string shared = top / ".Trash";
    if (c.shared == Sticky || c.shared == NotSticky) {
      mkdir(shared.c_str(), 0777);
      chmod(shared.c_str(), c.shared == Sticky ? 01777 : 0777);
    }
    if (c.shared == LinkToSticky) {
      mkdir((top / "elsewhere").c_str(), 0777);
      chmod((top / "elsewhere").c_str(), 01777);
      symlink("elsewhere", shared.c_str());
    }
    const std::string expected = c.usesShared ? shared + "/" + kUid : top / (".Trash-" + kUid);
    EXPECT_EQ(TopDirTrash(top.Path()), expected);
    for (const char* folder : {"", "/files", "/info"}) EXPECT_TRUE(IsPrivateDirectory(expected + folder)) << folder;
  }
}

TEST(PkgTrash, AUsersTrashThatIsALinkOrSomeoneElsesIsNotUsed) {
  TTempDir top;
  mkdir((top / "elsewhere").c_str(), 0700);
  ASSERT_EQ(symlink("elsewhere", (top / (".Trash-" + kUid)).c_str()), 0);
  EXPECT_EQ(TopDirTrash(top.Path()), "");
  if (getuid() == 0) {
    TTempDir other;
    mkdir((other / ".Trash-0").c_str(), 0700);
    ASSERT_EQ(chown((other / ".Trash-0").c_str(), 1234, 1234), 0);
    EXPECT_EQ(TopDirTrash(other.Path()), "");
  }
}

TEST(PkgTrash, ATopDirectoryTrashRecordsThePathFromTheTopDirectory) {
  TTempDir top;
  mkdir((top / "sub").c_str(), 0777);
  const std::string trash = TopDirTrash(top.Path());
  ASSERT_FALSE(trash.empty());
  for (const char* content : {"one", "two"}) {
    WriteFile(top / "sub/my pic.gif", content);
    EXPECT_TRUE(MoveToTrash(top / "sub/my pic.gif", trash, top.Path()));
  }
  EXPECT_FALSE(IsFile(top / "sub/my pic.gif"));
  EXPECT_EQ(Text(trash + "/files/my pic.gif"), "one");
  EXPECT_EQ(Text(trash + "/files/my pic.2.gif"), "two");
  const std::string info = Text(trash + "/info/my pic.gif.trashinfo");
  EXPECT_EQ(info.rfind("[Trash Info]\nPath=sub/my%20pic.gif\nDeletionDate=", 0), 0u) << info;
  EXPECT_TRUE(IsFile(trash + "/info/my pic.2.gif.trashinfo"));
}

TEST(PkgTrash, AFileOnTheHomeTrashsFileSystemGoesToTheHomeTrash) {
  TTempDir dir;
  TEnvGuard home("XDG_DATA_HOME", dir / "data");
  WriteFile(dir / "a.gif", "a");
  std::string topDir = "unchanged";
  EXPECT_EQ(TrashFor(dir / "a.gif", &topDir), dir / "data/Trash");
  EXPECT_EQ(topDir, "") << "paths in the home trash are absolute";
  EXPECT_TRUE(IsDirectory(dir / "data/Trash/files"));
  EXPECT_TRUE(IsDirectory(dir / "data/Trash/info"));
}

TEST(PkgTrash, WhereNoTrashCanBeMadeTheFileIsDeletedAndTheLogSaysSo) {
  TTempDir dir;
  // The data folder would have to be made inside a file.
  WriteFile(dir / "blocker", "x");
  TEnvGuard home("XDG_DATA_HOME", dir / "blocker/data");
  TIntParamGuard recycle("EnableRecycleBin", 1);
  TIntParamGuard window("AsyncWindow", 1);
  const std::string path = dir / "a.gif";
  WriteFile(path, "a");
  ClearLoggedMessages();
  EXPECT_EQ(DiskDeleteFile(path.c_str()), 0);
  EXPECT_FALSE(IsFile(path));
  EXPECT_EQ(LoggedMessages(), std::vector<std::string>{"Deleted " + path + ": no trash can be made on its file system"});
  EXPECT_EQ(DiskDeleteFile(path.c_str()), -1) << "nothing left to delete";
}

} // namespace
