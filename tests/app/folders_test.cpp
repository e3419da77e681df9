#include "platform/folders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

#include "support/peer.h"

namespace {

// Sets or clears environment variables for one test and puts them back.
class Environment : public ::testing::Test {
protected:
  void Put(const char* name, const char* value) {
    if (!m_saved.count(name)) {
      const char* old = std::getenv(name);
      m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  void TearDown() override {
    for (auto& [name, value] : m_saved) value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
  }

private:
  std::map<std::string, std::optional<std::string>> m_saved;
};

TEST_F(Environment, ConfigurationFolderByPrecedence) {
  Put("HOME", "/home/u");
  Put("XDG_CONFIG_HOME", nullptr);
  Put("ZERBALIN_HOME", nullptr);
  EXPECT_EQ(ConfigFolder(), "/home/u/.config/zerbalin");
  Put("XDG_CONFIG_HOME", "/cfg");
  EXPECT_EQ(ConfigFolder(), "/cfg/zerbalin");
  Put("ZERBALIN_HOME", "/z/");
  EXPECT_EQ(ConfigFolder(), "/z");
  EXPECT_EQ(ConfigFilePath("control.ini"), "/z/control.ini");
}

TEST_F(Environment, PicturesFolderFromTheUserDirectories) {
  testsupport::TTempDir dir;
  Put("HOME", dir.Path().c_str());
  Put("XDG_CONFIG_HOME", nullptr);
  Put("XDG_PICTURES_DIR", nullptr);
  EXPECT_EQ(PicturesFolder(), dir / "Pictures");
  std::filesystem::create_directory(dir.Path() / ".config");
  testsupport::WriteFileBytes(dir / ".config/user-dirs.dirs",
                              "# written by xdg-user-dirs-update\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
  EXPECT_EQ(PicturesFolder(), dir / "Bilder");
  Put("XDG_PICTURES_DIR", "/srv/photos");
  EXPECT_EQ(PicturesFolder(), "/srv/photos");
}

} // namespace
