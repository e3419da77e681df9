#include "settings/profile.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <cstdlib>
#include <sys/stat.h>

#include "settings/profile_tables.h"
#include "support/fake_host.h"
#include "support/peer.h"
#include "support/text_file.h"

namespace {

TEST(ProfileTables, HoldEverySettingOnceWithDefaultsInsideTheirRanges) {
  ASSERT_EQ(kIntSettingCount, 243);
  ASSERT_EQ(kStrSettingCount, 119);
  std::set<std::string> names;
  for (const TIntSetting& s : kIntSettings) {
    SCOPED_TRACE(s.name);
    EXPECT_LE(s.min, s.max);
    EXPECT_GE(s.viewerDefault, s.min);
    EXPECT_LE(s.viewerDefault, s.max);
    EXPECT_GE(s.saverDefault, s.min);
    EXPECT_LE(s.saverDefault, s.max);
    EXPECT_TRUE(s.help && *s.help);
    EXPECT_TRUE(names.insert(s.name).second);
  }
  for (const TStrSetting& s : kStrSettings) EXPECT_TRUE(names.insert(s.name).second) << s.name;
  // Spot checks that the order follows the keys (the keys themselves are in
  // table order, so a shifted row shows up here).
  EXPECT_STREQ(IntSetting(IntKey::OpenIndex).name, "OpenIndex");
  EXPECT_STREQ(IntSetting(IntKey::DelayBetweenImages).name, "DelayBetweenImages");
  EXPECT_STREQ(IntSetting(IntKey::JPEGKBytesMemory).name, "JPEGKBytesMemory");
  EXPECT_STREQ(IntSetting(IntKey::MouseEventRDCS).name, "MouseEventRDCS");
  EXPECT_STREQ(IntSetting(IntKey::WMFDpi3).name, "WMFDpi3");
  EXPECT_STREQ(StrSetting(StrKey::FileSpec).name, "FileSpec");
  EXPECT_STREQ(StrSetting(StrKey::UUEExt6).name, "UUEExt6");
  EXPECT_STREQ(StrSetting(StrKey::ProgManAddItem).name, "ProgManAddItem");
  EXPECT_STREQ(StrSetting(StrKey::UUEExt6).value, ".01");
  EXPECT_STREQ(StrSetting(StrKey::WAVOpenCommand).value, "open \"%s\" type %s alias sound");
}

TEST(ProfileSetByName, EveryFullNameReachesItsOwnSetting) {
  for (int i = 0; i < kIntSettingCount; ++i) {
    TProfile profile;
    int32_t value = kIntSettings[i].viewerDefault == kIntSettings[i].min ? kIntSettings[i].max : kIntSettings[i].min;
    ASSERT_TRUE(profile.SetByName(kIntSettings[i].name, std::to_string(value).c_str()));
    EXPECT_EQ(profile.Get(static_cast<IntKey>(i)), value) << kIntSettings[i].name;
  }
  for (int i = 0; i < kStrSettingCount; ++i) {
    TProfile profile;
    ASSERT_TRUE(profile.SetByName(kStrSettings[i].name, "changed"));
    EXPECT_EQ(profile.GetString(static_cast<StrKey>(i)), "changed") << kStrSettings[i].name;
  }
}

TEST(ProfileSetByName, LeadingPartIntegersFirstThenStrings) {
  struct Case {
    const char* name;
    const char* value;
    IntKey key;
    int32_t expected;
  } cases[] = {
      {"Delay", "7", IntKey::DelayBetweenImages, 7},    // first integer starting with it
      {"delaybetweensounds", "3", IntKey::DelayBetweenSounds, 3},
      {"Rand", "", IntKey::RandomOrder, 1},             // empty value reads as 1
      {"RandomOrder", "x", IntKey::RandomOrder, 1},     // no number reads as 1
      {"ThumbnailsAcross", "5000", IntKey::ThumbnailsAcross, 999},
      {"GIFColors", "1", IntKey::GIFColors, 2},
      {"MImage", "-7", IntKey::MImage, -1},
      {"JPEGOutputQuality", " 42junk", IntKey::JPEGOutputQuality, 42},
      {"CacheTime", "99999999999999999999", IntKey::CacheTime, 32767},
  };
  for (const Case& c : cases) {
    TProfile profile;
    EXPECT_TRUE(profile.SetByName(c.name, c.value)) << c.name;
    EXPECT_EQ(profile.Get(c.key), c.expected) << c.name;
  }

  TProfile profile;
  EXPECT_TRUE(profile.SetByName("filespec", "/x/..."));
  EXPECT_EQ(profile.GetString(StrKey::FileSpec), "/x/...");
  EXPECT_TRUE(profile.SetByName("ZIPExt1", ".jar"));
  EXPECT_EQ(profile.GetString(StrKey::ZIPExt1), ".jar");
  EXPECT_FALSE(profile.SetByName("DelayBetweenImagesX", "1")); // longer than every name
  EXPECT_FALSE(profile.SetByName("NoSuchSetting", "1"));
  EXPECT_FALSE(profile.SetByName("", "1"));
  EXPECT_EQ(profile.Get(IntKey::OpenIndex), 8);
}

// On Linux only '-' begins a switch; '/' begins an absolute file name.
TEST(ProfileSwitches, ParseTellsSwitchesFromNames) {
  const struct {
    const char* argument;
    bool isSwitch;
    const char* name;
    const char* value;
  } kCases[] = {
      {"-Rand", true, "Rand", ""},
      {"-OutputWidth=640", true, "OutputWidth", "640"},
      {"-CopyImageTo=/a=b", true, "CopyImageTo", "/a=b"},
      {"-GIFExt1=", true, "GIFExt1", ""},
      {"/Invert", false, "", ""},
      {"/SaveAs=2", false, "", ""},
      {"/home/me/a.gif", false, "", ""},
      {"-", false, "", ""},
      {"--write", false, "", ""},
      {"-1.gif", false, "", ""},
      {"-old.gif", false, "", ""},
      {"a.gif", false, "", ""},
  };
  for (const auto& c : kCases) {
    TSwitch option;
    EXPECT_EQ(ParseSwitch(c.argument, option), c.isSwitch) << c.argument;
    if (!c.isSwitch) continue;
    EXPECT_EQ(option.name, c.name) << c.argument;
    EXPECT_EQ(option.value, c.value) << c.argument;
  }
}

// A typed switch gives an integer setting a whole number or nothing (1);
// anything else is refused and leaves the setting as it was.
TEST(ProfileSwitches, IntegerSettingsRefuseWhatIsNotANumber) {
  const struct {
    TSwitch option;
    TSwitchResult result;
    int32_t outputWidth;
  } kCases[] = {
      {{"OutputWidth", "640"}, TSwitchResult::Applied, 640},
      {{"OutputW", "+7"}, TSwitchResult::Applied, 7},
      {{"OutputWidth", "-5"}, TSwitchResult::Applied, 0}, // clamped to the range
      {{"OutputWidth", ""}, TSwitchResult::Applied, 1},
      {{"OutputWidth", "abc"}, TSwitchResult::NotANumber, 0},
      {{"OutputWidth", "12px"}, TSwitchResult::NotANumber, 0},
      {{"OutputWidth", " 12"}, TSwitchResult::NotANumber, 0},
      {{"OutputWidth", "-"}, TSwitchResult::NotANumber, 0},
      {{"OutputWidthX", "1"}, TSwitchResult::NoSuchSetting, 0},
  };
  for (const auto& c : kCases) {
    TProfile profile;
    EXPECT_EQ(profile.ApplySwitch(c.option), c.result) << c.option.name << "=" << c.option.value;
    EXPECT_EQ(profile.Get(IntKey::OutputWidth), c.outputWidth) << c.option.name << "=" << c.option.value;
  }
  TProfile profile;
  EXPECT_EQ(profile.ApplySwitch({"CopyImageTo", "abc"}), TSwitchResult::Applied) << "strings take any text";
  EXPECT_EQ(profile.GetString(StrKey::CopyImageTo), "abc");
}

} // namespace

namespace {

using testsupport::FakeHost;
using testsupport::TTempDir;
using testsupport::WriteFileBytes;

// Points the configuration folder at a fresh temporary directory.
class ProfileFile : public ::testing::Test {
protected:
  void SetUp() override { setenv("ZERBALIN_HOME", m_dir.Path().c_str(), 1); }
  void TearDown() override { unsetenv("ZERBALIN_HOME"); }

  std::string Path(const char* name = "zerbalin.ini") const { return m_dir / name; }
  TProfile Open(StartMode mode = StartMode::Viewer, std::vector<TSwitch> switches = {}) {
    TProfileStart start;
    start.mode = mode;
    start.programName = "/usr/bin/zerbalin";
    start.switches = std::move(switches);
    return TProfile(start, host);
  }

  TTempDir m_dir;
  FakeHost host;
};

TEST_F(ProfileFile, FreshInstallationWritesAnEmptySection) {
  TProfile profile = Open();
  EXPECT_EQ(profile.FileName(), Path());
  EXPECT_TRUE(profile.WriteAll());
  EXPECT_EQ(ReadText(Path()), "[Zerbalin]\n");
}

TEST_F(ProfileFile, WritesOnlyWhatDiffersFromTheDefaults) {
  WriteFileBytes(Path(), "[Zerbalin]\nDelayBetweenImages=7\nGIFExt0=.GIF\nMyOwnKey=kept\n");
  TProfile profile = Open();
  EXPECT_EQ(profile.Get(IntKey::DelayBetweenImages), 7);
  profile.Set(IntKey::DelayBetweenImages, 5);
  EXPECT_TRUE(profile.WriteAll());
  // Extensions compare without regard to case, so ".GIF" counts as default.
  EXPECT_EQ(ReadText(Path()), "[Zerbalin]\nMyOwnKey=kept\n");

  profile.Set(IntKey::DelayBetweenImages, 6);
  profile.SetString(StrKey::CopyImageTo, "/tmp/x");
  EXPECT_TRUE(profile.WriteAll());
  EXPECT_EQ(ReadText(Path()), "[Zerbalin]\nMyOwnKey=kept\nDelayBetweenImages=6\nCopyImageTo=/tmp/x\n");
  EXPECT_EQ(Open().Get(IntKey::DelayBetweenImages), 6);
}

TEST_F(ProfileFile, FileValuesAreClampedAndMatchedByLeadingPart) {
  WriteFileBytes(Path(),
                 "[zerbalin]\n"
                 "ThumbnailsAcross=5000\n"
                 "RandomOrder=\n"
                 "GIFColors=1\n"
                 "Delay=9\n"
                 "NotASetting=3\n");
  TProfile profile = Open();
  EXPECT_EQ(profile.Get(IntKey::ThumbnailsAcross), 999);
  EXPECT_EQ(profile.Get(IntKey::RandomOrder), 1);
  EXPECT_EQ(profile.Get(IntKey::GIFColors), 2);
  EXPECT_EQ(profile.Get(IntKey::DelayBetweenImages), 9);
  EXPECT_EQ(profile.Get(IntKey::ThumbnailsDown), 3);
}

TEST_F(ProfileFile, ScreenSaverModesUseTheSaverDefaultsAndFile) {
  TProfile config = Open(StartMode::SaverConfig);
  EXPECT_EQ(config.FileName(), Path("zersav32.ini"));
  TProfileStart start;
  start.mode = StartMode::Saver;
  start.programName = "/somewhere/zersav32.scr";
  TProfile saver(start, host);
  EXPECT_EQ(saver.FileName(), Path("zersav32.ini"));
  for (const TProfile* profile : {&config, &saver}) {
    EXPECT_EQ(profile->Get(IntKey::RunSlideshow), 1);
    EXPECT_EQ(profile->Get(IntKey::DelayBetweenImages), 15);
    EXPECT_EQ(profile->Get(IntKey::RandomOrder), 1);
    EXPECT_EQ(profile->Get(IntKey::KeystrokeEvent), 10);
    EXPECT_EQ(profile->Get(IntKey::MouseButtonEvent), 10);
    EXPECT_EQ(profile->Get(IntKey::MouseMovementEvent), 10);
    EXPECT_EQ(profile->Get(IntKey::BackgroundRed) + profile->Get(IntKey::BackgroundGreen) +
                  profile->Get(IntKey::BackgroundBlue),
              0);
    EXPECT_EQ(profile->Get(IntKey::FillWindow), 1);
    EXPECT_EQ(profile->Get(IntKey::AlwaysOnTop), 1);
  }
  EXPECT_TRUE(config.WriteAll());
  EXPECT_EQ(ReadText(Path("zersav32.ini")), "[Zerbalin]\n");
}

TEST_F(ProfileFile, DefaultsFollowTheMachine) {
  struct Case {
    int depth;
    uint64_t memory;
    int32_t twoPass;
    int32_t kilobytes;
  } cases[] = {
      {8, 16ull << 20, 1, 8192},
      {24, 16ull << 20, 0, 8192},
      {16, 63ull << 20, 0, 32256},
      {24, 64ull << 20, 0, 32767},
      {24, 0, 0, 4096}, // memory unknown: the table's default
  };
  for (const Case& c : cases) {
    host.displayDepth = c.depth;
    host.physicalMemory = c.memory;
    TProfile profile = Open();
    EXPECT_EQ(profile.Get(IntKey::JPEGTwoPass), c.twoPass) << c.depth;
    EXPECT_EQ(profile.Get(IntKey::JPEGKBytesMemory), c.kilobytes) << c.memory;
    EXPECT_TRUE(profile.WriteAll());
    EXPECT_EQ(ReadText(Path()), "[Zerbalin]\n") << "adjusted defaults are not written";
  }
}

TEST_F(ProfileFile, SwitchesApplyInTheViewerOnlyAndInstallTurnsOff3dControls) {
  WriteFileBytes(Path(), "[Zerbalin]\nDelay=9\n");
  std::vector<TSwitch> switches{{"Delay", "3"}, {"Rand", ""}};
  TProfile viewer = Open(StartMode::Viewer, switches);
  EXPECT_EQ(viewer.Get(IntKey::DelayBetweenImages), 3);
  EXPECT_EQ(viewer.Get(IntKey::RandomOrder), 1);
  WriteFileBytes(Path("zersav32.ini"), "[Zerbalin]\nRandomOrder=0\n");
  TProfile saver = Open(StartMode::SaverConfig, switches);
  EXPECT_EQ(saver.Get(IntKey::DelayBetweenImages), 15);
  EXPECT_EQ(saver.Get(IntKey::RandomOrder), 0);

  TProfileStart start;
  start.install = true;
  EXPECT_EQ(TProfile(start, host).Get(IntKey::Enable3dControls), 0);
}

TEST_F(ProfileFile, DamagedFilesGiveDefaultsOrTheReadableValues) {
  std::string text = "garbage\n[Zerbalin\n[Zerbalin]\n=5\n\x01\x02\xff=\x80\n";
  text += "ThumbnailsAcross=7\nThumbnailsAcross=8\n";                // the first copy counts
  text += "FileSpec=" + std::string(100 * 1024, 'f') + "\n";        // cut to 255 characters
  text += "CopyImageTo=a\x00" "b\n";
  text += "TopMargin=-9999999999999999999999\n";
  text += std::string("\x00\x00\xff\xfe", 4) + "\n";
  WriteFileBytes(Path(), text);
  TProfile profile = Open();
  EXPECT_EQ(profile.Get(IntKey::ThumbnailsAcross), 7);
  EXPECT_EQ(profile.GetString(StrKey::FileSpec), std::string(255, 'f'));
  EXPECT_EQ(profile.Get(IntKey::TopMargin), 0);
  EXPECT_EQ(profile.Get(IntKey::OpenIndex), 8) << "a key without a name matches nothing";
}

TEST_F(ProfileFile, MissingOrUnwritablePlacesLeaveTheSettingsUnsaved) {
  setenv("ZERBALIN_HOME", (m_dir / "not/there").c_str(), 1);
  TProfile missing = Open();
  EXPECT_EQ(missing.Get(IntKey::DelayBetweenImages), 5);

  setenv("ZERBALIN_HOME", m_dir.Path().c_str(), 1);
  WriteFileBytes(Path(), "[Zerbalin]\nDelay=9\n");
  chmod(Path().c_str(), 0444);
  TProfile readOnly = Open();
  EXPECT_EQ(readOnly.Get(IntKey::DelayBetweenImages), 9);
  readOnly.Set(IntKey::DelayBetweenImages, 4);
  EXPECT_FALSE(readOnly.WriteAll());
  EXPECT_FALSE(readOnly.WriteOnExit());
  EXPECT_EQ(ReadText(Path()), "[Zerbalin]\nDelay=9\n");
}

TEST_F(ProfileFile, WriteOnExitStoresOnlyTheResumeAndAssociationSubset) {
  TProfile profile = Open();
  profile.Set(IntKey::DelayBetweenImages, 8);
  profile.Set(IntKey::ZIPEnab, 1);
  profile.SetString(StrKey::ZIPExt1, ".jar");
  profile.SetString(StrKey::CopyImageTo, "/tmp");
  EXPECT_TRUE(profile.WriteOnExit());
  EXPECT_EQ(ReadText(Path()),
            "[Zerbalin]\nAutoResume=1\nStartupPassword=0\nSlideshowPassword=0\nZIPEnab=1\nZIPExt1=.jar\n");
}

TEST_F(ProfileFile, ResetSavedValuesAndDirectKeys) {
  WriteFileBytes(Path(), "[Zerbalin]\nDelay=9\n");
  TProfile profile = Open();
  profile.SaveValues();
  profile.Set(IntKey::ThumbnailsAcross, 2);
  EXPECT_TRUE(profile.HasSavedValues());
  profile.RestoreSavedValues();
  EXPECT_FALSE(profile.HasSavedValues());
  EXPECT_EQ(profile.Get(IntKey::ThumbnailsAcross), 4);

  profile.SetString(StrKey::FileSpec, "/x");
  profile.ResetToDefaults();
  EXPECT_EQ(profile.Get(IntKey::DelayBetweenImages), 5);
  EXPECT_EQ(profile.GetString(StrKey::FileSpec), DefaultString(StrKey::FileSpec));

  EXPECT_TRUE(profile.WriteString("Directory", "/home/u/pics"));
  EXPECT_TRUE(profile.WriteInt("FilterType3", -12));
  EXPECT_EQ(profile.ReadString("directory", ""), "/home/u/pics");
  EXPECT_EQ(profile.ReadInt("FilterType3"), -12);
  EXPECT_EQ(profile.ReadInt("Directory", 77), 77);
  EXPECT_TRUE(profile.WriteString("Directory", nullptr));
  EXPECT_EQ(profile.ReadString("Directory", "gone"), "gone");
}

// A value a mode forces holds in the session while the file keeps the
// user's; a later value of the user's own is written; a sheet's copy of the
// settings gives back which were forced.
TEST_F(ProfileFile, ForcedValuesHoldButTheFileKeepsTheChosenOnes) {
  TProfile profile = Open();
  profile.Set(IntKey::DelayBetweenImages, 7);
  profile.Force(IntKey::DelayBetweenImages, 0);
  profile.Force(IntKey::DelayBetweenImages, 1);
  profile.Force(IntKey::RunSlideshow, 1);
  profile.Force(IntKey::ImageDisplayEvent, 7);
  EXPECT_EQ(profile.Get(IntKey::DelayBetweenImages), 1);
  EXPECT_EQ(profile.Chosen(IntKey::DelayBetweenImages), 7) << "the value before the first force";
  EXPECT_TRUE(profile.WriteAll());
  EXPECT_EQ(ReadText(Path()), "[Zerbalin]\nDelayBetweenImages=7\n");

  profile.SaveValues();
  profile.Set(IntKey::ImageDisplayEvent, 4);
  profile.SetByName("RunSlideshow", "0");
  EXPECT_FALSE(profile.IsForced(IntKey::ImageDisplayEvent));
  EXPECT_FALSE(profile.IsForced(IntKey::RunSlideshow));
  EXPECT_TRUE(profile.WriteAll());
  EXPECT_EQ(ReadText(Path()), "[Zerbalin]\nDelayBetweenImages=7\nImageDisplayEvent=4\n");
  profile.RestoreSavedValues();
  EXPECT_EQ(profile.Get(IntKey::ImageDisplayEvent), 7);
  EXPECT_TRUE(profile.IsForced(IntKey::ImageDisplayEvent));
  EXPECT_EQ(profile.Chosen(IntKey::ImageDisplayEvent), 0);

  const TProfile::TKeyState running = profile.StateOf(IntKey::RunSlideshow);
  profile.Set(IntKey::RunSlideshow, 0);
  profile.Restore(running);
  EXPECT_TRUE(profile.IsForced(IntKey::RunSlideshow));
  EXPECT_EQ(profile.Get(IntKey::RunSlideshow), 1);

  profile.ResetToDefaults();
  EXPECT_FALSE(profile.IsForced(IntKey::DelayBetweenImages));
  EXPECT_EQ(profile.Chosen(IntKey::DelayBetweenImages), 5);
}

TEST(ProfileDefaults, FileSpecIsThePicturesFolderAndBelow) {
  setenv("XDG_PICTURES_DIR", "/data/photos/", 1);
  EXPECT_EQ(TProfile().GetString(StrKey::FileSpec), "/data/photos/...");
  unsetenv("XDG_PICTURES_DIR");
}

TEST(ProfileTableAccess, ReportsTheViewerColumns) {
  EXPECT_EQ(TProfile::Count(), 243);
  EXPECT_STREQ(TProfile::Name(43), "ThumbnailsAcross");
  EXPECT_EQ(TProfile::Min(43), 1);
  EXPECT_EQ(TProfile::Max(43), 999);
  EXPECT_EQ(TProfile::Default(43), 4);
  EXPECT_NE(std::string(TProfile::Help(43)).find("column"), std::string::npos);
}

TEST(WindowPlacement, AppliesAndReadsBackThousandths) {
  struct Case {
    TPlacement placement;
    TRect current;
    TSize reference;
    TRect expected;
  } cases[] = {
      {{0, 667, 1000, 333, 0}, {5, 5, 10, 10}, {1024, 768}, {0, 512, 1024, 255}},
      {{-1, -1, 500, 0, 0}, {5, 5, 10, 40}, {1001, 100}, {250, 30, 500, 40}}, // centred, height kept
      {{-1, 10, 0, 0, 0}, {0, 0, 300, 20}, {200, 100}, {-50, 1, 300, 20}},      // wider than the reference
  };
  for (const Case& c : cases) {
    TRect rect = ApplyPlacement(c.placement, c.current, c.reference);
    EXPECT_EQ(rect.left, c.expected.left);
    EXPECT_EQ(rect.top, c.expected.top);
    EXPECT_EQ(rect.width, c.expected.width);
    EXPECT_EQ(rect.height, c.expected.height);
  }
  TPlacement read = ReadPlacement({100, 200, 512, 384}, TShowState::Maximised, {1024, 768});
  EXPECT_EQ(read.x, 97);
  EXPECT_EQ(read.y, 260);
  EXPECT_EQ(read.w, 500);
  EXPECT_EQ(read.h, 500);
  EXPECT_EQ(read.m, 1);
  EXPECT_EQ(ShowStateOf(read), TShowState::Maximised);
  TPlacement degenerate = ReadPlacement({-5, 3, 9, 9}, TShowState::Minimised, {0, 0});
  EXPECT_EQ(degenerate.x, 0);
  EXPECT_EQ(degenerate.m, -1);

  TProfile profile;
  StorePlacement(profile, kLogPlacement, {-20, 5000, 0, 400, 3});
  TPlacement stored = LoadPlacement(profile, kLogPlacement);
  EXPECT_EQ(stored.x, 0);
  EXPECT_EQ(stored.y, 999);
  EXPECT_EQ(stored.w, 1);
  EXPECT_EQ(stored.h, 400);
  EXPECT_EQ(stored.m, 1);
  StorePlacement(profile, kOpenPlacement, {1, 2, 3, 4, -1});
  EXPECT_EQ(profile.Get(IntKey::XSave), 0) << "dialogs keep no show state";
}

} // namespace
