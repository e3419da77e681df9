// The package core apart from any name: missing handles, named parameters,
// abandoning, DOS time stamps, time stamps kept by copies, and deletion.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

#include "filepkg/pkg_test_support.h"

using namespace pkgtest;

namespace {

TEST(PkgCore, EveryOperationFailsOnAMissingHandle) {
  uint8_t buffer[4];
  uint8_t* data = buffer;
  TPkgInfo info;
  EXPECT_EQ(PkgClose(nullptr, 0), -1);
  EXPECT_EQ(PkgGetc(nullptr), -1);
  EXPECT_EQ(PkgGetByte(nullptr), -1);
  EXPECT_EQ(PkgPutc('x', nullptr), -1);
  EXPECT_EQ(PkgRead(buffer, 1, 4, nullptr), 0u);
  EXPECT_EQ(PkgWrite(buffer, 1, 4, nullptr), 0u);
  EXPECT_EQ(PkgMapRead(&data, 4, nullptr), 0);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(PkgMapWrite(&data, 4, nullptr), 0);
  EXPECT_EQ(PkgSeek(nullptr, 0, 0), -1);
  EXPECT_EQ(PkgTell(nullptr), -1);
  EXPECT_EQ(PkgFill(nullptr, 1), -1);
  EXPECT_EQ(PkgGetInfo(nullptr, &info), -1);
  EXPECT_EQ(PkgSetTime(nullptr, 0), -1);
  EXPECT_EQ(PkgTruncate(nullptr), -1);
}

TEST(PkgParams, DefaultsNamesAndLimits) {
  EXPECT_EQ(PkgGetInt("EnableZIPIO"), 1);
  EXPECT_EQ(PkgGetInt("enablefilio"), 1) << "names are compared without regard to case";
  EXPECT_EQ(PkgGetInt("EnableRecycleBin"), 0);
  EXPECT_EQ(PkgGetInt("NoSuchName"), 0);
  EXPECT_EQ(PkgGetPtr("NoSuchName"), nullptr);
  PkgSetInt("NoSuchName", 5);
  EXPECT_EQ(PkgGetInt("NoSuchName"), 0);

  struct {
    int32_t set, used;
  } cacheSizes[] = {{150, 99}, {-5, 0}, {7, 7}, {0, 0}};
  for (const auto& c : cacheSizes) {
    PkgSetInt("CacheSize", c.set);
    EXPECT_EQ(PkgGetInt("cachesize"), c.used) << c.set;
  }

  std::string password(100, 'p');
  password[62] = 'q';
  PkgSetPtr("ZipPassword", password.c_str());
  const char* kept = static_cast<const char*>(PkgGetPtr("zippassword"));
  EXPECT_EQ(std::string(kept), password.substr(0, 63));
  EXPECT_NE(kept, password.c_str()) << "the package keeps its own copy";
  PkgSetPtr("ZipPassword", nullptr);
  EXPECT_STREQ(static_cast<const char*>(PkgGetPtr("ZipPassword")), "");

  int value = 0;
  PkgSetPtr("AsyncReturn", &value);
  EXPECT_EQ(PkgGetPtr("ASYNCRETURN"), &value);
  PkgSetPtr("AsyncReturn", nullptr);
}

TEST(PkgParams, DiskNamesNeedTheDiskLayer) {
  TTempDir dir;
  WriteFile(dir / "a.gif", "x");
  {
    TIntParamGuard off("EnableFILIO", 0);
    EXPECT_EQ(PkgOpen((dir / "a.gif").c_str(), "rb"), nullptr);
  }
  TPkgStream* stream = PkgOpen((dir / "a.gif").c_str(), "rb");
  EXPECT_NE(stream, nullptr);
  PkgClose(stream, 0);
}

int g_abortCalls = 0;

int AbortAlways(const void* data) {
  ++g_abortCalls;
  return *static_cast<const int*>(data);
}

TEST(PkgAbort, AbortProcStopsEveryOperationThatMustProduceData) {
  TTempDir dir;
  WriteFile(dir / "a.gif", "abc");
  TPkgStream* listing = PkgOpen(dir.Path().c_str(), "rd");
  TPkgStream* file = PkgOpen((dir / "a.gif").c_str(), "rb");
  ASSERT_NE(listing, nullptr);
  ASSERT_NE(file, nullptr);
  int answer = 1;
  PkgSetPtr("AbortData", &answer);
  PkgSetPtr("AbortProc", reinterpret_cast<const void*>(&AbortAlways));
  EXPECT_EQ(PkgAbortRequested(), -1);
  uint8_t buffer[512];
  uint8_t* data = nullptr;
  EXPECT_EQ(PkgRead(buffer, 1, 512, listing), 0u);
  EXPECT_EQ(PkgMapRead(&data, 512, listing), 0);
  EXPECT_EQ(PkgGetc(listing), -1);
  EXPECT_EQ(PkgSeek(listing, 512, 0), -1);
  EXPECT_EQ(PkgSeek(file, 0, 2), -1) << "seeking to the end must produce everything";
  // Bytes that already exist need nothing produced and are still read.
  EXPECT_EQ(PkgRead(buffer, 1, 3, file), 3u);
  EXPECT_GT(g_abortCalls, 0);

  answer = 0;
  EXPECT_EQ(PkgAbortRequested(), 0);
  EXPECT_EQ(PkgRead(buffer, 1, 512, listing), 512u) << "the handle stays usable";
  PkgSetPtr("AbortProc", nullptr);
  PkgSetPtr("AbortData", nullptr);
  EXPECT_EQ(PkgClose(listing, 0), 0);
  EXPECT_EQ(PkgClose(file, 0), 0);
}

TEST(PkgDosTime, FieldsRoundTripAndTimesRoundToTwoSeconds) {
  // 2000-01-02 03:04:06 local time.
  uint16_t date = (20 << 9) | (1 << 5) | 2;
  uint16_t time = (3 << 11) | (4 << 5) | 3;
  int32_t seconds = PkgDosToTime(date, time);
  std::tm local{};
  local.tm_year = 100;
  local.tm_mday = 2;
  local.tm_hour = 3;
  local.tm_min = 4;
  local.tm_sec = 6;
  local.tm_isdst = -1;
  EXPECT_EQ(seconds, std::mktime(&local));
  uint16_t backDate = 0, backTime = 0;
  PkgTimeToDos(seconds, &backDate, &backTime);
  EXPECT_EQ(backDate, date);
  EXPECT_EQ(backTime, time);
  PkgTimeToDos(seconds + 1, &backDate, &backTime);
  EXPECT_EQ(backTime, time) << "odd seconds round down";
  // Before 1980 a DOS date holds its first day.
  PkgTimeToDos(0, &backDate, &backTime);
  EXPECT_EQ(backDate, (0 << 9) | (1 << 5) | 1);
  EXPECT_EQ(backTime, 0);
}

int64_t ModifiedTime(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 ? status.st_mtime : -1;
}

void SetModifiedTime(const std::string& path, time_t time) {
  const timespec times[2] = {{time, 0}, {time, 0}};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

TEST(PkgTime, ACopyTakesTheTimeOfItsSourceToTwoSeconds) {
  TTempDir dir;
  std::string source = dir / "source.gif";
  std::string copy = dir / "copy.gif";
  WriteFile(source, Pattern(100000));
  const time_t odd = 1600000001;
  SetModifiedTime(source, odd);

  TPkgStream* in = PkgOpen(source.c_str(), "rb");
  TPkgStream* out = PkgOpen(copy.c_str(), "wb");
  ASSERT_NE(in, nullptr);
  ASSERT_NE(out, nullptr);
  TPkgInfo info;
  PkgGetInfo(in, &info);
  EXPECT_EQ(info.time, odd - 1);
  uint8_t* data = nullptr;
  while (int32_t n = PkgMapRead(&data, 16384, in)) ASSERT_EQ(PkgWrite(data, 1, n, out), static_cast<size_t>(n));
  PkgSetTime(out, info.time);
  EXPECT_EQ(PkgClose(out, 0), 0);
  PkgClose(in, 0);
  EXPECT_EQ(ReadFile(copy), Pattern(100000));
  EXPECT_EQ(ModifiedTime(copy), odd - 1);
}

TEST(PkgTime, AFileOnlyReadKeepsItsOwnTime) {
  TTempDir dir;
  std::string path = dir / "a.gif";
  WriteFile(path, "abc");
  SetModifiedTime(path, 1600000001);
  TPkgStream* stream = PkgOpen(path.c_str(), "rb+");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(ReadAll(stream).size(), 3u);
  EXPECT_EQ(PkgClose(stream, 0), 0);
  EXPECT_EQ(ModifiedTime(path), 1600000001);
}

// Points the user's data folder at a temporary one for the scope of a test.
class TDataHome {
public:
  explicit TDataHome(const std::string& path) {
    if (const char* old = std::getenv("XDG_DATA_HOME")) m_saved = old, m_had = true;
    setenv("XDG_DATA_HOME", path.c_str(), 1);
  }
  ~TDataHome() {
    if (m_had)
      setenv("XDG_DATA_HOME", m_saved.c_str(), 1);
    else
      unsetenv("XDG_DATA_HOME");
  }

private:
  std::string m_saved;
  bool m_had = false;
};

TEST(PkgDelete, GoesToTheTrashOnlyWithRecycleBinAndAWindow) {
  TTempDir dir;
  TDataHome home(dir / "data");
  std::string trash = dir / "data/Trash";
  std::string path = dir / "my pic.gif";

  TIntParamGuard recycle("EnableRecycleBin", 1);
  {
    TIntParamGuard window("AsyncWindow", 0);
    WriteFile(path, "one");
    EXPECT_EQ(PkgDelete(path.c_str()), 0);
    EXPECT_FALSE(IsFile(path));
    EXPECT_FALSE(IsFile(trash + "/files/my pic.gif")) << "without a window the file is removed";
  }
  TIntParamGuard window("AsyncWindow", 1);
  WriteFile(path, "one");
  EXPECT_EQ(PkgDelete(path.c_str()), 0);
  WriteFile(path, "two");
  EXPECT_EQ(PkgDelete(path.c_str()), 0);
  EXPECT_FALSE(IsFile(path));
  EXPECT_EQ(ReadFile(trash + "/files/my pic.gif"), std::vector<uint8_t>({'o', 'n', 'e'}));
  EXPECT_EQ(ReadFile(trash + "/files/my pic.2.gif"), std::vector<uint8_t>({'t', 'w', 'o'}));
  std::vector<uint8_t> info = ReadFile(trash + "/info/my pic.gif.trashinfo");
  std::string text(info.begin(), info.end());
  EXPECT_EQ(text.rfind("[Trash Info]\nPath=", 0), 0u) << text;
  EXPECT_NE(text.find("my%20pic.gif\nDeletionDate="), std::string::npos) << text;
  EXPECT_TRUE(IsFile(trash + "/info/my pic.2.gif.trashinfo"));
  EXPECT_EQ(PkgDelete(path.c_str()), -1) << "nothing left to delete";
}

} // namespace
