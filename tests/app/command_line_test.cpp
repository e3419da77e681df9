// The command line: keywords by leading part, settings switches, file
// arguments and the start modes.
#include "app/command_line.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandLineTest, KeywordsAreSelectedByTheirLeadingPart) {
  const struct {
    const char* name;
    TKeyword keyword;
  } cases[] = {
      {"p", kKeywordPrint},           {"c", kKeywordConvertToGif},        {"i", kKeywordInstall},
      {"I", kKeywordInstall},         {"ConvertToJPG", kKeywordConvertToJpg}, {"converttotif", kKeywordConvertToTif},
      {"Dir", kKeywordDirectory},     {"z", kKeywordZipPassword},         {"W", kKeywordWallpaper},
      {"ConvertToJPGX", kKeywordNone}, {"Rand", kKeywordNone},             {"", kKeywordNone},
  };
  for (const auto& test : cases) EXPECT_EQ(KeywordOf(test.name), test.keyword) << test.name;
}

TEST(CommandLineTest, ArgumentsSplitIntoFilesAndSwitches) {
  const std::string longSwitch = "-FileSpec=" + std::string(400, 'x');
  const char* argv[] = {"zerbalin", "a.gif", "", "/abs/b.gif", "-DelayBetweenImages=3", "-c", "-", "--write",
                        longSwitch.c_str()};
  const std::vector<TArgument> arguments = ParseArguments(std::size(argv), argv);
  ASSERT_EQ(arguments.size(), 7u);
  EXPECT_EQ(arguments[0].file, "a.gif");
  // '/' begins a file name on Linux, never a switch.
  EXPECT_EQ(arguments[1].kind, TArgument::kFile);
  EXPECT_EQ(arguments[1].file, "/abs/b.gif");
  EXPECT_EQ(arguments[2].kind, TArgument::kSwitch);
  EXPECT_EQ(arguments[2].option.name, "DelayBetweenImages");
  EXPECT_EQ(arguments[2].option.value, "3");
  EXPECT_EQ(arguments[3].keyword, kKeywordConvertToGif);
  EXPECT_EQ(arguments[4].kind, TArgument::kFile);
  EXPECT_EQ(arguments[5].kind, TArgument::kFile);
  // A switch is cut after its 318 characters.
  EXPECT_EQ(arguments[6].option.name.size() + 1 + arguments[6].option.value.size(), kMaxSwitchText);
  EXPECT_EQ(CountFileArguments(arguments), 4);
  const std::vector<TSwitch> switches = SettingSwitches(arguments);
  ASSERT_EQ(switches.size(), 2u);
  EXPECT_EQ(switches[0].name, "DelayBetweenImages");
  EXPECT_FALSE(HasInstallSwitch(arguments));
}

TEST(CommandLineTest, StartModeComesFromTheProgramNameAndFirstArgument) {
  const struct {
    std::vector<const char*> argv;
    StartMode mode;
  } cases[] = {
      {{"/usr/bin/zerbalin", "c"}, StartMode::Viewer},
      {{"zersav32.scr"}, StartMode::Saver},
      {{"ZERSAV32.SCR", "-s"}, StartMode::Saver},
      {{"zersav32.scr", "/c"}, StartMode::Preview},
      {{"zersav32.scr", "-C"}, StartMode::Preview},
      {{"zersav32.scr", "c"}, StartMode::Preview},
  };
  for (const auto& test : cases)
    EXPECT_EQ(StartModeOf(static_cast<int>(test.argv.size()), test.argv.data()), test.mode) << test.argv[0];
}

TEST(CommandLineTest, TrailingDotsStandForSubdirectories) {
  std::string name = "pics...";
  EXPECT_TRUE(TakeSubdirectoryDots(name));
  EXPECT_EQ(name, "pics");
  name = "...";
  EXPECT_FALSE(TakeSubdirectoryDots(name));
}

TEST(CommandLineTest, HelpListsKeywordsAndEverySetting) {
  const std::string help = CommandLineHelp("zerbalin");
  for (const char* text : {"-ConvertToJPG", "-Directory=DIR", "-DelayBetweenImages=0..", "-FileSpec=TEXT", "--version"})
    EXPECT_NE(help.find(text), std::string::npos) << text;
}

} // namespace
