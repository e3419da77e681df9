// zerbalin-tool's package commands as a careful citizen: they follow the
// viewer's settings, never lose a file to a missing standard input or a file
// size limit, and fail where they cannot do what was asked.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "filepkg/pkg_test_support.h"
#include "support/peer.h"
#include "tools/tool_runner.h"

namespace {

using testsupport::ReadFileBytes;
using testsupport::TTempDir;
using testsupport::WriteFileBytes;
using tooltest::Quoted;
using tooltest::TToolUser;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The viewer moves deleted files to the Trash by default; the settings file
// and then the switches decide.
TEST(PkgCommands, RmFollowsEnableRecycleBin) {
  const struct {
    const char* settings;
    const char* switches;
    bool trashed;
  } kCases[] = {
      {"", "", true},
      {"EnableRecycleBin=0\n", "", false},
      {"EnableRecycleBin=0\n", "-EnableRecycleBin=1", true},
      {"EnableRecycleBin=1\n", "-EnableRecycleBin=0", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.settings) + c.switches);
    TToolUser user;
    user.WriteSettings(c.settings);
    TTempDir dir;
    const std::string file = dir / "a.gif";
    WriteFileBytes(file, "GIF89a");
    ASSERT_EQ(user.Run("rm " + Quoted(file) + " " + c.switches), 0);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(std::filesystem::exists(user.TrashFile("a.gif")), c.trashed);
  }
}

TEST(PkgCommands, LsShowsDotFilesAsTheSettingsSay) {
  TToolUser user;
  TTempDir dir;
  WriteFileBytes(dir / ".hidden", "x");
  const std::string listed = dir / ".hidden\n";
  user.WriteSettings("EnableHiddenFiles=1\n");
  EXPECT_NE(user.Output("ls " + Quoted(dir.Path())).find(listed), std::string::npos);
  EXPECT_EQ(user.Output("ls " + Quoted(dir.Path()) + " -EnableHiddenFiles=0").find(listed), std::string::npos);
  user.WriteSettings("EnableHiddenFiles=0\n");
  EXPECT_EQ(user.Output("ls " + Quoted(dir.Path())).find(listed), std::string::npos);
}

// A closed standard input must not read as an empty file that then replaces
// the old one; a file size limit must fail the write, not kill the tool
// half-way. Either way the old file stays and nothing else is left.
TEST(PkgCommands, AWriteThatCannotCompleteKeepsTheOldFile) {
  TToolUser user;
  TTempDir dir;
  const std::string old = dir / "old.gif";
  const std::string big = dir / "big.bin";
  WriteFileBytes(big, std::string(100000, 'b'));
  const struct {
    std::string command;
    std::string message;
  } kCases[] = {
      {user.Command("put " + Quoted(old) + " <&-"), "no standard input to write to " + old},
      {"ulimit -f 20; " + user.Command("put " + Quoted(old) + " < " + Quoted(big)), "writing " + old + " failed"},
      {"ulimit -f 20; " + user.Command("put " + Quoted(dir / "new.gif") + " < " + Quoted(big)),
       "writing " + (dir / "new.gif") + " failed"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.command);
    WriteFileBytes(old, "old");
    EXPECT_EQ(testsupport::RunOutput("(" + c.command + "; echo status $?) 2>&1"),
              "zerbalin-tool: " + c.message + "\nstatus 1\n");
    EXPECT_EQ(ReadFileBytes(old), Bytes("old"));
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.Path())) ++entries;
    EXPECT_EQ(entries, 2) << "only old.gif and big.bin";
  }
}

// Tests run as root, who reads every folder; the listing is tried as a plain
// user.
TEST(PkgCommands, LsOfAnUnreadableFolderFails) {
  pkgtest::TTempDir dir;
  const std::string secret = dir / "secret";
  ASSERT_TRUE(std::filesystem::create_directory(secret));
  WriteFileBytes(secret + "/inside.gif", "GIF89a");
  ASSERT_EQ(chmod(secret.c_str(), 0), 0);
  TToolUser user;
  const int status = pkgtest::RunWithoutRoot(dir, [&] {
    EXPECT_EQ(testsupport::RunOutput(user.Command("ls " + Quoted(secret) + " 2>&1; echo status $?")),
              "zerbalin-tool: cannot read the folder " + secret + "\nstatus 1\n");
  });
  if (status == pkgtest::kNoPlainUser) GTEST_SKIP() << "no plain user to run as";
  EXPECT_EQ(status, 0);
}

} // namespace
