// zerbalin-tool profile, run as a user would, against a temporary
// configuration folder.
#include <gtest/gtest.h>

#include <string>

#include "support/peer.h"
#include "support/text_file.h"
#include "tools/tool_runner.h"

namespace {

using tooltest::TToolUser;

std::string Profile(const TToolUser& user, const std::string& arguments) {
  return user.Output("profile " + arguments);
}

int CountLines(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

TEST(ProfileCommand, PrintsEverySettingAndWritesWhatDiffers) {
  TToolUser user;
  user.WriteSettings("ThumbnailsAcross=5000\n");
  std::string out = Profile(user, "-Delay=6 -Rand -CopyImageTo=/tmp/x");
  EXPECT_EQ(CountLines(out), 243 + 119);
  EXPECT_EQ(out.rfind("OpenIndex=8\nDeleteIndex=8\n", 0), 0u);
  for (const char* line : {"\nDelayBetweenImages=6\n", "\nRandomOrder=1\n", "\nThumbnailsAcross=999\n",
                           "\nCopyImageTo=/tmp/x\n", "\nProgManAddItem=[AddItem(%s,%s Vexo/32)]\n"})
    EXPECT_NE(out.find(line), std::string::npos) << line;

  Profile(user, "--write -Delay=6");
  EXPECT_EQ(ReadText(user.ConfigFile()), "[Zerbalin]\nThumbnailsAcross=999\nDelayBetweenImages=6\n");
}

TEST(ProfileCommand, SaverUsesItsOwnDefaultsAndFile) {
  TToolUser user;
  std::string out = Profile(user, "--saver --write");
  EXPECT_NE(out.find("\nDelayBetweenImages=15\n"), std::string::npos);
  EXPECT_NE(out.find("\nRunSlideshow=1\n"), std::string::npos);
  EXPECT_EQ(ReadText(user.ConfigFile("zersav32.ini")), "[Zerbalin]\n");
}

TEST(ProfileCommand, RejectsUnknownSettingsAndWordsForNumbers) {
  TToolUser user;
  EXPECT_NE(Profile(user, "-NoSuchKey=1").find("no setting matches NoSuchKey"), std::string::npos);
  EXPECT_NE(Profile(user, "-Delay=soon").find("-Delay=soon: the setting takes a whole number"), std::string::npos);
}

} // namespace
