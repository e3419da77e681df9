// Setting the wallpaper with stand-in desktop tools: small scripts named like
// the real tools, alone on PATH, that note their arguments in a file and
// answer as the test tells them.
#include "app/wallpaper.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "filepkg/pkg_test_support.h"
#include "support/log_capture.h"
#include "support/peer.h"

namespace {

using pkgtest::TEnvGuard;

class Wallpaper : public testing::Test {
protected:
  Wallpaper() { mkdir(Bin().c_str(), 0755); }

  std::string Bin() const { return m_dir / "bin"; }

  // A stand-in tool: notes "name [arg] [arg] ..." as one line, then runs body.
  void Stub(const std::string& name, const std::string& body = "exit 0") const {
    const std::string path = Bin() + "/" + name;
    testsupport::WriteFileBytes(path, "#!/bin/sh\n{ printf '%s' \"${0##*/}\"; for a in \"$@\"; do printf ' [%s]' \"$a\"; "
                                      "done; printf '\\n'; } >> '" + m_dir / "calls" + "'\n" + body + "\n");
    chmod(path.c_str(), 0755);
  }

  std::vector<std::string> Calls() const {
    std::vector<std::string> calls;
    const std::vector<uint8_t> bytes = testsupport::ReadFileBytes(m_dir / "calls");
    std::string line;
    for (uint8_t byte : bytes) {
      if (byte != '\n') {
        line += static_cast<char>(byte);
        continue;
      }
      calls.push_back(line);
      line.clear();
    }
    return calls;
  }

  bool Set(const std::string& desktop) {
    TEnvGuard path("PATH", Bin());
    TEnvGuard current("XDG_CURRENT_DESKTOP", desktop);
    return SetDesktopWallpaper(m_bmp, m_capture.log);
  }

  testsupport::TTempDir m_dir;
  testsupport::TLogCapture m_capture;
  // A name that needs quoting in every form the tools take.
  const std::string m_bmp = m_dir / "my wall'paper.bmp";
  const std::string m_uri = "file://" + m_dir.Path().string() + "/my%20wall%27paper.bmp";
};

TEST_F(Wallpaper, GnomeGetsBothStylesAndTheOtherToolsAreLeftAlone) {
  Stub("gsettings");
  Stub("xfconf-query");
  EXPECT_TRUE(Set("ubuntu:GNOME"));
  const std::string prefix = "gsettings [set] [org.gnome.desktop.background] ";
  EXPECT_EQ(Calls(), (std::vector<std::string>{prefix + "[picture-uri] ['" + m_uri + "']",
                                               prefix + "[picture-options] ['scaled']",
                                               prefix + "[picture-uri-dark] ['" + m_uri + "']"}));
  EXPECT_EQ(m_capture.Lines().back(), "Set the wallpaper of GNOME to " + m_bmp);
}

TEST_F(Wallpaper, XfceSetsEveryLastImageProperty) {
  Stub("gsettings");
  Stub("xfconf-query", "case \"$*\" in *-l) printf '%s\\n' /backdrop/screen0/monitor0/workspace0/last-image "
                       "/backdrop/screen0/monitor0/image-style /backdrop/screen0/monitorHDMI-1/workspace1/last-image;; esac");
  EXPECT_TRUE(Set("XFCE"));
  const std::string set = "xfconf-query [-c] [xfce4-desktop] [-p] ";
  EXPECT_EQ(Calls(), (std::vector<std::string>{"xfconf-query [-c] [xfce4-desktop] [-l]",
                                               set + "[/backdrop/screen0/monitor0/workspace0/last-image] [-s] [" + m_bmp + "]",
                                               set + "[/backdrop/screen0/monitorHDMI-1/workspace1/last-image] [-s] [" +
                                                   m_bmp + "]"}));
}

TEST_F(Wallpaper, PlasmaIsScriptedThroughTheFirstDbusToolThere) {
  const std::string script = "var all = desktops();";
  const std::string image = "d.writeConfig(\"Image\", \"" + m_uri + "\");";
  struct TCase {
    std::vector<std::string> tools;
    std::string callStart;
  } cases[] = {
      {{"gdbus"},
       "gdbus [call] [--session] [--dest] [org.kde.plasmashell] [--object-path] [/PlasmaShell] [--method] "
       "[org.kde.PlasmaShell.evaluateScript] ['" + script},
      {{"gdbus", "dbus-send"},
       "dbus-send [--session] [--print-reply] [--dest=org.kde.plasmashell] [/PlasmaShell] "
       "[org.kde.PlasmaShell.evaluateScript] [string:" + script},
      {{"dbus-send", "qdbus"}, "qdbus [org.kde.plasmashell] [/PlasmaShell] [org.kde.PlasmaShell.evaluateScript] [" + script},
  };
  for (const TCase& c : cases) {
    std::filesystem::remove_all(Bin());
    std::filesystem::remove(m_dir / "calls");
    mkdir(Bin().c_str(), 0755);
    for (const std::string& tool : c.tools) Stub(tool);
    EXPECT_TRUE(Set("KDE"));
    const std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), 1u) << c.tools.back();
    EXPECT_TRUE(calls[0].starts_with(c.callStart)) << calls[0];
    EXPECT_NE(calls[0].find(image), std::string::npos) << calls[0];
  }
}

TEST_F(Wallpaper, AnUnknownDesktopFallsThroughToThePortal) {
  // Plasma is not running and no desktop schema takes the setting; the
  // portal answers.
  Stub("gdbus", "case \"$*\" in *plasmashell*) exit 1;; esac");
  Stub("gsettings", "exit 1");
  EXPECT_TRUE(Set("Hyprland"));
  const std::vector<std::string> calls = Calls();
  ASSERT_EQ(calls.size(), 5u);
  EXPECT_TRUE(calls[0].starts_with("gdbus [call] [--session] [--dest] [org.kde.plasmashell]")) << calls[0];
  EXPECT_EQ(calls[1], "gsettings [set] [org.cinnamon.desktop.background] [picture-uri] ['" + m_uri + "']");
  EXPECT_EQ(calls[2], "gsettings [set] [org.mate.background] [picture-filename] ['" + m_dir.Path().string() +
                          "/my wall\\'paper.bmp']");
  EXPECT_EQ(calls[3], "gsettings [set] [org.gnome.desktop.background] [picture-uri] ['" + m_uri + "']");
  EXPECT_EQ(calls[4], "gdbus [call] [--session] [--dest] [org.freedesktop.portal.Desktop] [--object-path] "
                      "[/org/freedesktop/portal/desktop] [--method] [org.freedesktop.portal.Wallpaper.SetWallpaperURI] "
                      "[''] ['" + m_uri + "'] [@a{sv} {}]");
  EXPECT_EQ(m_capture.Lines().back(), "Set the wallpaper of the desktop portal to " + m_bmp);
}

TEST_F(Wallpaper, WithoutAnyToolTheWallpaperIsOnlyLogged) {
  EXPECT_FALSE(Set("GNOME"));
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(m_capture.Lines(), (std::vector<std::string>{
                                   "Setting the wallpaper; the desktop is GNOME",
                                   "Saved the wallpaper as " + m_bmp + ", but could not set it on this desktop"}));
}

TEST_F(Wallpaper, AToolThatNeverAnswersIsStopped) {
  Stub("gsettings", "exec /bin/sleep 60");
  EXPECT_FALSE(Set("GNOME"));
  const std::vector<std::string> lines = m_capture.Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "Stopped gsettings set org.gnome.desktop.background picture-uri ...: no answer within 5 seconds");
  EXPECT_EQ(lines[3], "Saved the wallpaper as " + m_bmp + ", but could not set it on this desktop");
}

TEST(WallpaperFile, ProgramNameInTheConfigurationFolder) {
  TEnvGuard home("ZERBALIN_HOME", "/cfg");
  EXPECT_EQ(WallpaperPath("/usr/bin/zerbalin"), "/cfg/zerbalin.bmp");
  EXPECT_EQ(WallpaperPath("/home/me/.config/zerbalin/zersav32.scr"), "/cfg/zersav32.bmp");
}

} // namespace
