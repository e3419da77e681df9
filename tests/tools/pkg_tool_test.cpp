// The package commands of zerbalin-tool, run as a user would run them.
#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "filepkg/pkg_test_support.h"
#include "tools/tool_runner.h"

using namespace pkgtest;

namespace {

// The package commands as a user with folders of the test's own runs them,
// so that rm never reaches the Trash of whoever runs the tests.
tooltest::TToolUser::TRun Tool(const std::string& arguments) {
  static const tooltest::TToolUser user;
  return user.Invoke(arguments);
}

using tooltest::Quoted;

TEST(PkgTool, PutCatLsInfoRm) {
  TTempDir dir;
  std::string source = dir / "source.bin";
  WriteFile(source, Pattern(100000));
  std::string target = dir / "new/copy.bin";

  auto put = Tool("put " + Quoted(target) + " < " + Quoted(source));
  EXPECT_EQ(put.status, 0) << put.output;
  EXPECT_EQ(ReadFile(target), Pattern(100000));

  auto cat = Tool("cat " + Quoted(target));
  EXPECT_EQ(cat.status, 0);
  EXPECT_EQ(std::vector<uint8_t>(cat.output.begin(), cat.output.end()), Pattern(100000));

  auto ls = Tool("ls " + Quoted(dir.Path()));
  EXPECT_EQ(ls.status, 0);
  EXPECT_NE(ls.output.find(dir / "new/\n"), std::string::npos) << ls.output;
  EXPECT_NE(ls.output.find(dir / "source.bin\n"), std::string::npos) << ls.output;

  auto info = Tool("info " + Quoted(target));
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.output.rfind("name=" + target + "\nmode=r\ntype=b\naccess=r\nlayer=fil\ntime=", 0), 0u)
      << info.output;
  EXPECT_NE(info.output.find("\nblockSize=100000\nblockCount=1\n"), std::string::npos) << info.output;

  auto rm = Tool("rm " + Quoted(target));
  EXPECT_EQ(rm.status, 0) << rm.output;
  EXPECT_FALSE(IsFile(target));
}

TEST(PkgTool, AMissingNameExitsWithOneAndSaysWhy) {
  TTempDir dir;
  std::string missing = dir / "missing.gif";
  for (const char* command : {"cat", "ls", "info", "rm"}) {
    auto run = Tool(std::string(command) + " " + Quoted(missing));
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_EQ(run.output.rfind("zerbalin-tool: ", 0), 0u) << run.output;
    EXPECT_NE(run.output.find(missing), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << "one line: " << run.output;
  }
  WriteFile(dir / "file", "x");
  auto put = Tool("put " + Quoted(dir / "file/below") + " < /dev/null");
  EXPECT_EQ(put.status, 1) << put.output;
}

} // namespace
