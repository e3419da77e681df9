// The program as a process, as users start it: batch runs from the command
// line without a display, the exit status, the settings file it leaves, and
// the hand-over of a file name to a running viewer.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/peer.h"
#include "tools/tool_runner.h"

namespace {

using testsupport::RunOutput;
using tooltest::Quoted;
using tooltest::TToolUser;

class ProgramTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(testsupport::Run("convert -size 64x48 gradient:red-blue " + m_dir / "a.gif"), 0);
    ASSERT_EQ(testsupport::Run("convert -size 40x30 plasma:fractal -seed 7 " + m_dir / "b.pcx"), 0);
  }
  // ImageMagick's name of a file's format.
  std::string Format(const std::string& name) const { return RunOutput("identify -format %m " + Quoted(m_dir / name)); }

  testsupport::TTempDir m_dir;
  TToolUser m_user{ZER_PROGRAM};
};

TEST_F(ProgramTest, HelpAndVersionNeedNoWindow) {
  const TToolUser::TRun help = m_user.Invoke("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("-ConvertToJPG"), std::string::npos);
  EXPECT_NE(help.output.find("-DelayBetweenImages="), std::string::npos);
  const TToolUser::TRun version = m_user.Invoke("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output, "Zerbalin 6.0\n");
}

TEST_F(ProgramTest, ConvertsToEveryFormatAndExits) {
  const struct {
    const char* keyword;
    const char* extension;
    const char* format;
  } cases[] = {{"-ConvertToGIF", "gif", "GIF"}, {"-ConvertToBMP", "bmp", "BMP3"}, {"-ConvertToPCX", "pcx", "PCX"},
               {"-ConvertToTGA", "tga", "TGA"}, {"-ConvertToJPG", "jpg", "JPEG"}, {"-ConvertToTIF", "tif", "TIFF"}};
  for (const auto& test : cases) {
    const std::string source = std::string("pic_") + test.extension + ".pcx";
    std::filesystem::copy_file(m_dir / "b.pcx", m_dir / source);
    const TToolUser::TRun run = m_user.Invoke(std::string(test.keyword) + " " + Quoted(m_dir / source));
    EXPECT_EQ(run.status, 0) << test.keyword << run.output;
    const std::string target = std::string("pic_") + test.extension + "." + test.extension;
    if (std::string(test.extension) == "pcx") continue; // saved onto itself
    EXPECT_NE(Format(target).find(test.format), std::string::npos) << test.keyword;
  }
  // The picture survives the trip, pixel for pixel where the format keeps it.
  EXPECT_EQ(testsupport::PeerDecode(m_dir / "pic_tif.tif").rgb, testsupport::PeerDecode(m_dir / "b.pcx").rgb);
}

TEST_F(ProgramTest, ConvertsFromFoldersArchivesAndEncodedFiles) {
  std::filesystem::create_directory(m_dir / "dir");
  std::filesystem::copy_file(m_dir / "a.gif", m_dir / "dir/c.gif");
  ASSERT_EQ(testsupport::Run("cd " + Quoted(m_dir.Path()) + " && zip -q pics.zip b.pcx && uuencode a.gif a.gif > mail.uue"), 0);
  const TToolUser::TRun run = m_user.Invoke("-ConvertToJPG " + Quoted(m_dir / "dir/") + " " + Quoted(m_dir / "pics.zip/b.pcx") +
                                            " " + Quoted(m_dir / "mail.uue/a.gif"));
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Format("dir/c.jpg"), "JPEG");
  const std::string members = RunOutput("unzip -Z1 " + Quoted(m_dir / "pics.zip"));
  EXPECT_NE(members.find("b.jpg"), std::string::npos) << members;
  EXPECT_NE(members.find("b.pcx"), std::string::npos) << members;
  EXPECT_EQ(RunOutput("cd " + Quoted(m_dir.Path()) + " && unzip -p pics.zip b.jpg | identify -format %m -"), "JPEG");
  EXPECT_NE(run.output.find("Saved " + m_dir / "mail.uue/a.gif"), std::string::npos) << run.output;
}

TEST_F(ProgramTest, MissingFilesAndBadSwitchesAreLoggedAndFailTheBatch) {
  const std::string longSwitch = "-" + std::string(400, 'Q');
  const TToolUser::TRun run = m_user.Invoke("-ConvertToBMP -NoSuchSetting=2 " + longSwitch + " " +
                                            Quoted(m_dir / "missing.gif") + " " + Quoted(m_dir / "a.gif"));
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_EQ(Format("a.bmp"), "BMP3");
  EXPECT_FALSE(std::filesystem::exists(m_dir / "missing.bmp"));
  EXPECT_NE(run.output.find("Ignored switch -NoSuchSetting"), std::string::npos) << run.output;
}

TEST_F(ProgramTest, RememberedOptionsLeaveNoBatchBehind) {
  EXPECT_EQ(m_user.Run("-RememberOptions -DelayBetweenImages=3 -c " + Quoted(m_dir / "a.gif") + " 2>/dev/null"), 0);
  const std::string settings = RunOutput("cat " + Quoted(m_user.ConfigFile()));
  EXPECT_NE(settings.find("RememberOptions=1"), std::string::npos) << settings;
  EXPECT_NE(settings.find("DelayBetweenImages=3"), std::string::npos) << settings;
  for (const char* forced : {"RunSlideshow=", "ImageDisplayEvent=", "SlideshowDoneEvent="})
    EXPECT_EQ(settings.find(forced), std::string::npos) << forced << "\n" << settings;
}

TEST_F(ProgramTest, WallpaperIsSavedInTheConfigurationFolder) {
  const TToolUser::TRun run = m_user.Invoke("-Wallpaper " + Quoted(m_dir / "a.gif"));
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(RunOutput("identify -format %m " + Quoted(m_user.ConfigFile("zerbalin.bmp"))), "BMP3");
}

// A second start with one name hands it to the running viewer and ends.
TEST_F(ProgramTest, SecondStartHandsItsFileToTheRunningViewer) {
  const std::string log = m_dir / "viewer.log";
  const std::string pidFile = m_dir / "viewer.pid";
  // The viewer runs in the background with no stream of the test's: a viewer
  // left behind must not keep the test's output open.
  ASSERT_EQ(testsupport::Run(m_user.Command(Quoted(m_dir / "b.pcx") + " </dev/null >/dev/null 2>" + Quoted(log) +
                                            " & echo $! > " + Quoted(pidFile))),
            0);
  struct TEndAtExit {
    pid_t pid;
    ~TEndAtExit() { ::kill(pid, SIGTERM); }
  } viewer{static_cast<pid_t>(std::stol(RunOutput("cat " + Quoted(pidFile))))};
  const auto viewerLogHas = [&](const std::string& text) {
    for (int i = 0; i < 400; ++i) { // up to 20 s: a sanitizer build on a busy machine starts slowly
      if (RunOutput("cat " + Quoted(log)).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  };
  ASSERT_TRUE(viewerLogHas("Loaded image " + m_dir / "b.pcx"));
  // A relative name means the file in the second start's own folder.
  EXPECT_EQ(testsupport::Run("cd " + Quoted(m_dir.Path()) + " && " + m_user.Command("a.gif")), 0);
  EXPECT_TRUE(viewerLogHas("Loaded image " + m_dir / "a.gif"));
}

} // namespace
