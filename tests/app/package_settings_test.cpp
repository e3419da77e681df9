#include "app/package_settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "filepkg/filepkg.h"
#include "settings/profile.h"
#include "settings/profile_tables.h"

namespace {

// The integer settings the package knows by the same names.
const std::vector<IntKey> kHandedOver = {
    IntKey::EnableFILIO,      IntKey::EnableGIFIO,       IntKey::EnableHTMIO,       IntKey::EnableMEMIO,
    IntKey::EnableMULIO,      IntKey::EnableSLIIO,       IntKey::EnableTIFIO,       IntKey::EnableURLIO,
    IntKey::EnableUUEIO,      IntKey::EnableZIPIO,       IntKey::CacheSize,         IntKey::CacheTime,
    IntKey::EnableRecycleBin, IntKey::EnableHiddenFiles, IntKey::EnableSystemFiles,
};

// The package's parameters are process-wide: every test puts back what it
// changed.
class PackageSettings : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* name : kOthers) m_saved.push_back(PkgGetInt(name));
    for (IntKey key : kHandedOver) m_saved.push_back(PkgGetInt(IntSetting(key).name));
    m_password = static_cast<const char*>(PkgGetPtr("ZipPassword"));
  }
  void TearDown() override {
    size_t i = 0;
    for (const char* name : kOthers) PkgSetInt(name, m_saved[i++]);
    for (IntKey key : kHandedOver) PkgSetInt(IntSetting(key).name, m_saved[i++]);
    PkgSetPtr("ZipPassword", m_password.c_str());
    PkgSetPtr("EncodeHeader", nullptr);
  }

  static constexpr const char* kOthers[] = {"AsyncWindow", "AsyncMessage", "EnablePWPIO"};
  std::vector<int32_t> m_saved;
  std::string m_password;
};

// Each handed-over setting set to a value the package does not hold yet
// shows that it really comes from the profile.
TEST_F(PackageSettings, EveryPackageSettingComesFromTheProfile) {
  TProfile profile;
  for (IntKey key : kHandedOver) profile.Set(key, PkgGetInt(IntSetting(key).name) == 0 ? 1 : 0);
  profile.Set(IntKey::CacheSize, 7);
  profile.Set(IntKey::CacheTime, 60);
  profile.Set(IntKey::EnablePWPIO, 0);
  HandSettingsToPackage(profile, 42);
  for (IntKey key : kHandedOver) EXPECT_EQ(PkgGetInt(IntSetting(key).name), profile.Get(key)) << IntSetting(key).name;
  EXPECT_EQ(PkgGetInt("EnablePWPIO"), 1) << "the package keeps its own default";
  EXPECT_EQ(PkgGetInt("AsyncWindow"), 42);
  EXPECT_STREQ(static_cast<const char*>(PkgGetPtr("EncodeHeader")), kEncodeHeader);
}

// Lookups report back by message only to a real window with asynchronous
// sockets on; the windowless tool still counts as having a user.
TEST_F(PackageSettings, AsyncLookupsNeedARealWindow) {
  const struct {
    int32_t window;
    int32_t asyncWinsock;
    int32_t message;
  } kCases[] = {
      {42, 1, kAsyncLookupMessage},
      {42, 0, 0},
      {kWindowlessUserProcess, 1, 0},
      {0, 1, 0},
  };
  for (const auto& c : kCases) {
    TProfile profile;
    profile.Set(IntKey::EnableAsyncWinsock, c.asyncWinsock);
    HandSettingsToPackage(profile, c.window);
    EXPECT_EQ(PkgGetInt("AsyncWindow"), c.window);
    EXPECT_EQ(PkgGetInt("AsyncMessage"), c.message) << c.window << " " << c.asyncWinsock;
  }
}

TEST_F(PackageSettings, TheZipPasswordIsReplacedOnlyWhenGiven) {
  const TProfile profile;
  HandSettingsToPackage(profile, kWindowlessUserProcess, "secret");
  EXPECT_STREQ(static_cast<const char*>(PkgGetPtr("ZipPassword")), "secret");
  HandSettingsToPackage(profile, kWindowlessUserProcess);
  EXPECT_STREQ(static_cast<const char*>(PkgGetPtr("ZipPassword")), "secret");
}

} // namespace
