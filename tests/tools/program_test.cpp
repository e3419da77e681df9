// The program as a process, as users start it: batch runs from the command
// line without a display, the exit status, the settings file it leaves, the
// hand-over of a file name to a running viewer, and how a running viewer
// ends: by its window closing or by a signal.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>

#include "support/peer.h"
#include "tools/tool_runner.h"

extern char** environ;

namespace {

using testsupport::RunOutput;
using tooltest::Quoted;
using tooltest::TToolUser;

// Waits up to seconds for condition; a sanitizer build on a busy machine
// starts slowly.
bool Eventually(const std::function<bool()>& condition, int seconds = 20) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return condition();
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A process started in the background from a shell command line, with its
// output in a file; the shell execs the command, so the process is the
// program itself. One still running at the end is killed.
class TProcess {
public:
  TProcess(const std::string& commandLine, const std::string& outputFile) {
    const std::string line = "exec " + commandLine + " </dev/null >" + Quoted(outputFile) + " 2>&1";
    const char* argv[] = {"/bin/sh", "-c", line.c_str(), nullptr};
    if (posix_spawn(&m_pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) m_pid = -1;
  }
  ~TProcess() {
    if (m_pid <= 0 || m_status) return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
  TProcess(const TProcess&) = delete;
  TProcess& operator=(const TProcess&) = delete;

  pid_t Pid() const { return m_pid; }
  // Asks the process to end, and waits for it.
  void End() {
    ::kill(m_pid, SIGTERM);
    WaitForExit(10);
  }
  // The exit status once the process has ended (-1 when a signal ended it),
  // nullopt while it still runs after seconds.
  std::optional<int> WaitForExit(int seconds) {
    Eventually(
        [this] {
          int status = 0;
          if (!m_status && ::waitpid(m_pid, &status, WNOHANG) == m_pid)
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
          return m_status.has_value();
        },
        seconds);
    return m_status;
  }

private:
  pid_t m_pid = -1;
  std::optional<int> m_status;
};

// The child processes of a process, each with its state letter ('Z' for one
// that ended and was not waited for).
std::vector<std::pair<pid_t, char>> ChildrenOf(pid_t parent) {
  std::vector<std::pair<pid_t, char>> children;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string stat = FileText(entry.path() / "stat");
    // "pid (name) state ppid ...", where the name may hold anything.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream rest(stat.substr(close + 1));
    char state = 0;
    pid_t ppid = 0;
    if (rest >> state >> ppid && ppid == parent) children.emplace_back(std::stoi(stat), state);
  }
  return children;
}

// A display of a test's own: Xvfb on a free display number, with openbox
// managing its windows as a desktop's window manager does (Alt+F4 asks the
// active window to close, as its close box does).
class TVirtualDisplay {
public:
  explicit TVirtualDisplay(const std::string& folder)
      : m_server("Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp", folder + "/xvfb.out") {
    // The server writes its display number on a line of its own when it is
    // ready; its warnings go to the same file.
    Eventually([&] {
      std::istringstream lines(FileText(folder + "/xvfb.out"));
      for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) m_number = line;
      return !m_number.empty();
    });
    if (m_number.empty()) return;
    m_manager = std::make_unique<TProcess>("env DISPLAY=:" + m_number + " openbox", folder + "/openbox.out");
    // Windows mapped before the manager runs are not shown.
    m_ready = Eventually([&] { return Xdotool("search --class openbox") == 0; });
  }
  ~TVirtualDisplay() {
    if (m_manager) m_manager->End();
    m_server.End();
  }

  bool Ready() const { return m_ready; }
  // The environment setting that names the display.
  std::string Setting() const { return "DISPLAY=:" + m_number; }
  // xdotool on the display, for at most 20 s: its status, and its output.
  int Xdotool(const std::string& arguments) const { return testsupport::Run(XdotoolCommand(arguments) + " >/dev/null"); }
  std::string XdotoolOutput(const std::string& arguments) const { return RunOutput(XdotoolCommand(arguments)); }

private:
  std::string XdotoolCommand(const std::string& arguments) const {
    return "env " + Setting() + " timeout 20 xdotool " + arguments + " 2>/dev/null";
  }

  TProcess m_server;
  std::string m_number;
  std::unique_ptr<TProcess> m_manager;
  bool m_ready = false;
};

std::string SocketName(const char* windowClass) { return std::string(windowClass) + "-" + std::to_string(::getuid()); }

class ProgramTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(testsupport::Run("convert -size 64x48 gradient:red-blue " + m_dir / "a.gif"), 0);
    ASSERT_EQ(testsupport::Run("convert -size 40x30 plasma:fractal -seed 7 " + m_dir / "b.pcx"), 0);
  }
  // ImageMagick's name of a file's format.
  std::string Format(const std::string& name) const { return RunOutput("identify -format %m " + Quoted(m_dir / name)); }

  // A viewer running unseen in the background (on Qt's offscreen platform,
  // or on the display screen names), its log lines in viewer.log.
  std::unique_ptr<TProcess> StartViewer(const std::string& arguments,
                                        const std::string& screen = "QT_QPA_PLATFORM=offscreen") const {
    return std::make_unique<TProcess>(m_user.Command(arguments, screen), m_dir / "viewer.log");
  }
  bool ViewerLogHas(const std::string& text) const {
    return Eventually([&] { return FileText(m_dir / "viewer.log").find(text) != std::string::npos; });
  }
  bool Exists(const std::string& path) const { return std::filesystem::exists(path); }

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

// A second start with one name hands it to the running viewer and ends,
// with or without a display of its own.
TEST_F(ProgramTest, SecondStartHandsItsFileToTheRunningViewer) {
  const std::unique_ptr<TProcess> viewer = StartViewer(Quoted(m_dir / "b.pcx"));
  ASSERT_TRUE(ViewerLogHas("Loaded image " + m_dir / "b.pcx"));
  // A relative name means the file in the second start's own folder.
  EXPECT_EQ(testsupport::Run("cd " + Quoted(m_dir.Path()) + " && " + m_user.Command("a.gif")), 0);
  EXPECT_TRUE(ViewerLogHas("Loaded image " + m_dir / "a.gif"));
}

// On a desktop, Alt+F4 (the window manager's close, as from the close box)
// and X close the main window while the log window is open: the program
// ends, and no hidden viewer is left to take the next start's file.
TEST_F(ProgramTest, ClosingTheWindowOnADesktopEndsTheViewerWithTheLogOpen) {
  const TVirtualDisplay display(m_dir.Path());
  ASSERT_TRUE(display.Ready());
  const std::string socket = m_user.TemporaryFolder() + "/" + SocketName("WindowsZerbalinClass");
  for (const char* key : {"alt+F4", "x"}) {
    SCOPED_TRACE(key);
    const std::unique_ptr<TProcess> viewer = StartViewer("-ShowLog=1 " + Quoted(m_dir / "a.gif"), display.Setting());
    ASSERT_EQ(display.Xdotool("search --sync --onlyvisible --name '^Zerbalin - Log$'"), 0)
        << FileText(m_dir / "viewer.log");
    std::istringstream found(display.XdotoolOutput("search --sync --onlyvisible --name '^Zerbalin - GIF'"));
    std::string window;
    ASSERT_TRUE(found >> window);
    ASSERT_TRUE(Exists(socket));
    // The key goes to the active window: it is sent again until the program
    // has ended, in case the window was not active yet.
    std::optional<int> status;
    for (int attempt = 0; attempt < 10 && !status; ++attempt) {
      display.Xdotool("windowactivate --sync " + window + " key --clearmodifiers " + key);
      status = viewer->WaitForExit(2);
    }
    EXPECT_EQ(status, std::optional<int>(0)) << FileText(m_dir / "viewer.log");
    EXPECT_FALSE(Exists(socket));
  }
}

// Without a display only a batch run has work to do: a viewer would run
// unseen and never end, so the program says what to do instead.
TEST_F(ProgramTest, WithoutADisplayOnlyBatchRunsStart) {
  for (const std::string& arguments : {std::string(), Quoted(m_dir / "a.gif"), std::string("-ShowLog=1")}) {
    const TToolUser::TRun run = m_user.Invoke(arguments, 60);
    EXPECT_EQ(run.status, 2) << arguments << run.output;
    EXPECT_NE(run.output.find("desktop session"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("-ConvertToJPG"), std::string::npos) << run.output;
  }
  EXPECT_FALSE(Exists(m_user.ConfigFile())) << "nothing ran, nothing was written";
}

// Showing the log kept the program from ending: a batch run saved its
// picture and never exited, and so did a show whose sound failed to open.
// A batch whose last entry was a sound started over for ever.
TEST_F(ProgramTest, BatchRunsAndShowsEndAfterTheirLastFile) {
  setenv("ZERBALIN_MEDIA_SINK", "fake", 1);
  ASSERT_TRUE(testsupport::MakeSoundAndMovie(m_dir / "s.wav", m_dir / "m.avi"));
  testsupport::WriteFileBytes(m_dir / "broken.wav", "RIFF and nothing else");
  const std::string gif = Quoted(m_dir / "a.gif");
  const struct {
    std::string arguments;
    std::string screen;
    int saves;
  } cases[] = {
      {"-ShowLog=1 -ConvertToBMP " + gif, "", 1},
      {"-ConvertToBMP " + gif + " " + Quoted(m_dir / "s.wav"), "", 1},
      {"-ConvertToBMP " + gif + " " + Quoted(m_dir / "m.avi"), "", 1},
      {"-ConvertToBMP -SoundEnable=1 " + gif + " " + Quoted(m_dir / "s.wav"), "", 1},
      {"-ConvertToBMP -SoundEnable=1 " + gif + " " + Quoted(m_dir / "broken.wav"), "", 1},
      {"-RunSlideshow=1 -SlideshowDoneEvent=10 " + Quoted(m_dir / "broken.wav"), "QT_QPA_PLATFORM=offscreen", 0},
  };
  for (const auto& test : cases) {
    const TToolUser::TRun run = m_user.Invoke(test.arguments, 60, test.screen);
    EXPECT_EQ(run.status, 0) << test.arguments << "\n" << run.output;
    size_t saves = 0;
    for (size_t at = run.output.find("Saved "); at != std::string::npos; at = run.output.find("Saved ", at + 1)) ++saves;
    EXPECT_EQ(saves, static_cast<size_t>(test.saves)) << test.arguments << "\n" << run.output;
  }
  unsetenv("ZERBALIN_MEDIA_SINK");
}

// A signal ends the viewer as closing its window does: the temporary copy
// of the sound it plays from a ZIP archive and its hand-over socket are
// removed, and its settings are written, with the log window open too.
TEST_F(ProgramTest, TerminationSignalEndsTheViewerAsClosingItsWindowDoes) {
  setenv("ZERBALIN_MEDIA_SINK", "fake", 1);
  ASSERT_TRUE(testsupport::MakeSoundAndMovie(m_dir / "s.wav", m_dir / "m.avi"));
  ASSERT_EQ(testsupport::Run("cd " + Quoted(m_dir.Path()) + " && zip -q sounds.zip s.wav"), 0);
  const std::string sound = m_dir / "sounds.zip/s.wav";
  const std::string socket = m_user.TemporaryFolder() + "/" + SocketName("WindowsZerbalinClass");
  const auto temporaryCopies = [&] {
    std::vector<std::string> copies;
    for (const auto& entry : std::filesystem::directory_iterator(m_user.TemporaryFolder()))
      if (entry.path().filename().string().rfind("ZER", 0) == 0) copies.push_back(entry.path());
    return copies;
  };
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(strsignal(signal));
    std::filesystem::remove(m_user.ConfigFile());
    // The sound plays again and again, so its copy stays while it runs.
    const std::unique_ptr<TProcess> viewer = StartViewer("-ShowLog=1 -SoundLoop=1 " + Quoted(sound));
    ASSERT_TRUE(ViewerLogHas("MCI: play sound notify"));
    ASSERT_TRUE(Eventually([&] { return temporaryCopies().size() == 1 && Exists(socket); }));
    ::kill(viewer->Pid(), signal);
    EXPECT_EQ(viewer->WaitForExit(30), std::optional<int>(0));
    EXPECT_EQ(temporaryCopies(), std::vector<std::string>());
    EXPECT_FALSE(Exists(socket));
    EXPECT_NE(FileText(m_user.ConfigFile()).find("CurrentImage=" + sound), std::string::npos)
        << FileText(m_user.ConfigFile());
  }
  unsetenv("ZERBALIN_MEDIA_SINK");
}

// Test screen saver starts the saver as its own process; when the saver is
// stopped (by a signal, as a desktop does), it writes where it was, and the
// viewer keeps no ended child behind.
TEST_F(ProgramTest, TestScreenSaverLeavesNoZombieAndTheSaverItsResumePosition) {
  m_user.WriteSettings("");
  testsupport::WriteFileBytes(m_user.ConfigFile("zersav32.ini"),
                              "[Zerbalin]\nAutoResume=1\nFileSpec=" + m_dir / "a.gif" + "\n");
  // The show carries out Test screen saver (907) on its picture, then stops,
  // so the command runs as from the menu.
  const std::unique_ptr<TProcess> viewer =
      StartViewer("-RunSlideshow=1 -ImageDisplayEvent=907 -SlideshowDoneEvent=9 " + Quoted(m_dir / "a.gif"));
  const std::string saverSocket = m_user.TemporaryFolder() + "/" + SocketName("WindowsScreenSaverClass");
  ASSERT_TRUE(Eventually([&] { return ChildrenOf(viewer->Pid()).size() == 1 && Exists(saverSocket); }))
      << FileText(m_dir / "viewer.log");
  const pid_t saver = ChildrenOf(viewer->Pid()).front().first;
  ::kill(saver, SIGTERM);
  EXPECT_TRUE(Eventually([&] { return ChildrenOf(viewer->Pid()).empty(); }))
      << ChildrenOf(viewer->Pid()).size() << " child left, 'Z' when it ended unseen";
  EXPECT_FALSE(Exists(saverSocket));
  EXPECT_NE(FileText(m_user.ConfigFile("zersav32.ini")).find("CurrentImage=" + m_dir / "a.gif"), std::string::npos)
      << FileText(m_user.ConfigFile("zersav32.ini"));
  ::kill(viewer->Pid(), SIGTERM);
  EXPECT_EQ(viewer->WaitForExit(30), std::optional<int>(0));
}

} // namespace
