// zerbalin-tool profile, run as a user would, against a temporary
// configuration folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/peer.h"
#include "support/text_file.h"

namespace {

using testsupport::RunOutput;
using testsupport::TTempDir;
using testsupport::WriteFileBytes;

// ZER_TOOL names the test program's folder, but the tool is built one level
// up, at the top of the build tree; take whichever exists.
std::string ToolPath() {
  std::filesystem::path named = ZER_TOOL;
  if (std::filesystem::exists(named)) return named.string();
  return (named.parent_path().parent_path() / named.filename()).string();
}

std::string Tool(const TTempDir& home, const std::string& arguments) {
  return RunOutput("ZERBALIN_HOME='" + home.Path().string() + "' '" + ToolPath() + "' profile " + arguments +
                   " 2>&1");
}

int CountLines(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

TEST(ProfileCommand, PrintsEverySettingAndWritesWhatDiffers) {
  TTempDir home;
  WriteFileBytes(home / "zerbalin.ini", "[Zerbalin]\nThumbnailsAcross=5000\n");
  std::string out = Tool(home, "-Delay=6 -Rand -CopyImageTo=/tmp/x");
  EXPECT_EQ(CountLines(out), 243 + 119);
  EXPECT_EQ(out.rfind("OpenIndex=8\nDeleteIndex=8\n", 0), 0u);
  for (const char* line : {"\nDelayBetweenImages=6\n", "\nRandomOrder=1\n", "\nThumbnailsAcross=999\n",
                           "\nCopyImageTo=/tmp/x\n", "\nProgManAddItem=[AddItem(%s,%s Vexo/32)]\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line;

  Tool(home, "--write -Delay=6");
  EXPECT_EQ(ReadText(home / "zerbalin.ini"), "[Zerbalin]\nThumbnailsAcross=999\nDelayBetweenImages=6\n");
}

TEST(ProfileCommand, SaverUsesItsOwnDefaultsAndFile) {
  TTempDir home;
  std::string out = Tool(home, "--saver --write");
  EXPECT_NE(out.find("\nDelayBetweenImages=15\n"), std::string::npos);
  EXPECT_NE(out.find("\nRunSlideshow=1\n"), std::string::npos);
  EXPECT_EQ(ReadText(home / "zersav32.ini"), "[Zerbalin]\n");
}

TEST(ProfileCommand, RejectsUnknownSettings) {
  TTempDir home;
  EXPECT_NE(Tool(home, "-NoSuchKey=1").find("no setting matches NoSuchKey"), std::string::npos);
}

} // namespace
