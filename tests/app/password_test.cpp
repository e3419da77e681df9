// The password kept in control.ini: stored as a salted hash a peer's crypt(3)
// verifies, checked with the messages' rules, and accepted in the
// transformed form older configurations hold until it is next set.
#include "app/password.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "settings/ini_file.h"
#include "support/peer.h"

namespace {

class Password : public testing::Test {
protected:
  std::string Stored() const { return IniReadString(m_file, "ScreenSaver", "Password", ""); }

  testsupport::TTempDir m_dir;
  std::string m_file = m_dir / "control.ini";
};

TEST_F(Password, IsStoredAsASaltedHashThatPeersVerify) {
  EXPECT_FALSE(PasswordIsSet(m_file));
  EXPECT_TRUE(PasswordMatches(m_file, "anything")) << "no password set lets everyone in";
  ASSERT_EQ(SetPassword(m_file, "", "Open Sesame", "open sesame"), TSetPasswordResult::kDone);
  const std::string stored = Stored();
  EXPECT_EQ(stored.rfind("$y$", 0), 0u) << stored;
  EXPECT_EQ(stored.find("SESAME"), std::string::npos);
  EXPECT_TRUE(PasswordMatches(m_file, "OPEN sesame")) << "letters match in either case";
  EXPECT_FALSE(PasswordMatches(m_file, "open sesam"));
  EXPECT_FALSE(PasswordMatches(m_file, ""));

  // The same password set again gets a new salt.
  ASSERT_EQ(SetPassword(m_file, "open sesame", "open sesame", "open sesame"), TSetPasswordResult::kDone);
  EXPECT_NE(Stored(), stored);
  const std::string check =
      "python3 -W ignore -c 'import crypt, sys; sys.exit(crypt.crypt(\"OPEN SESAME\", sys.argv[1]) != sys.argv[1])' '" +
      Stored() + "'";
  if (testsupport::Run("python3 -W ignore -c 'import crypt' 2>/dev/null") == 0) {
    EXPECT_EQ(testsupport::Run(check), 0) << "the system's crypt(3) verifies the stored hash";
  }
}

TEST_F(Password, SettingChecksTheOldAndTheRetypedPassword) {
  ASSERT_EQ(SetPassword(m_file, "", "first", "first"), TSetPasswordResult::kDone);
  const std::string stored = Stored();
  EXPECT_EQ(SetPassword(m_file, "wrong", "second", "second"), TSetPasswordResult::kOldIncorrect);
  EXPECT_EQ(SetPassword(m_file, "first", "second", "secnod"), TSetPasswordResult::kNotIdentical);
  EXPECT_EQ(Stored(), stored) << "a refused change leaves the password as it was";
  EXPECT_EQ(SetPassword(m_file, "FIRST", "", ""), TSetPasswordResult::kDone);
  EXPECT_FALSE(PasswordIsSet(m_file)) << "an empty new password removes it";
}

TEST_F(Password, TheOldTransformedFormIsAcceptedUntilTheNextChange) {
  ASSERT_TRUE(IniWriteString(m_file, "ScreenSaver", "Password", LegacyPasswordForm("Tulip").c_str()));
  EXPECT_TRUE(PasswordMatches(m_file, "tulip"));
  EXPECT_FALSE(PasswordMatches(m_file, "tulips"));
  ASSERT_EQ(SetPassword(m_file, "TULIP", "rose", "rose"), TSetPasswordResult::kDone);
  EXPECT_EQ(Stored().rfind("$y$", 0), 0u) << "replaced by a hash";
  EXPECT_TRUE(PasswordMatches(m_file, "Rose"));
  EXPECT_FALSE(PasswordMatches(m_file, "tulip"));
}

// The hash is the owner's alone, in a new control.ini and in one another
// program made readable by everyone; the file's other entries stay.
TEST_F(Password, ControlIniIsReadableByItsOwnerOnly) {
  const auto mode = [this] {
    struct stat info;
    return stat(m_file.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
  };
  const mode_t previousMask = umask(022);
  ASSERT_EQ(SetPassword(m_file, "", "first", "first"), TSetPasswordResult::kDone);
  EXPECT_EQ(mode(), 0600u);
  testsupport::WriteFileBytes(m_file, "[Other]\nkept=1\n[ScreenSaver]\nPassword=" + Stored() + "\n");
  chmod(m_file.c_str(), 0644);
  ASSERT_EQ(SetPassword(m_file, "first", "second", "second"), TSetPasswordResult::kDone);
  EXPECT_EQ(mode(), 0600u);
  EXPECT_EQ(IniReadString(m_file, "Other", "kept", ""), "1");
  EXPECT_TRUE(PasswordMatches(m_file, "second"));
  umask(previousMask);
}

TEST(LegacyPasswordForm, KeepsLengthIgnoresCaseAndLeavesOneCharacterAsTyped) {
  EXPECT_EQ(LegacyPasswordForm(""), "");
  EXPECT_EQ(LegacyPasswordForm("q"), "q");
  EXPECT_EQ(LegacyPasswordForm("Tulip"), LegacyPasswordForm("tULIP"));
  EXPECT_NE(LegacyPasswordForm("tulip"), LegacyPasswordForm("tulpi"));
  const std::string form = LegacyPasswordForm("a password that is too long");
  EXPECT_EQ(form.size(), kMaxPasswordLength) << "cut where the dialogs stop";
  for (unsigned char c : form) EXPECT_GT(c, 32) << "no control characters or blanks reach the file";
}

} // namespace
