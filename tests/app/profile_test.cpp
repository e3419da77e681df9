#include "app/profile.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <strings.h>

#include "app/profile_tables.h"

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

} // namespace
