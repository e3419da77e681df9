// The program's entry: the start mode, the hand-over to a running viewer,
// the start-up password, then the main window and its message loop.
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/command_line.h"
#include "app/password.h"
#include "core/pixel_memory.h"
#include "platform/headless_host.h"
#include "platform/process_start.h"
#include "qt/main_window.h"
#include "qt/saver_dialog.h"
#include "qt/single_instance.h"
#include "qt/termination_signals.h"
#include "settings/profile.h"

namespace {

constexpr const char* kVersion = "Zerbalin 6.0";

// No X or Wayland display is named, and no Qt platform was chosen instead.
bool NoDisplay() {
  return !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY") && !std::getenv("QT_QPA_PLATFORM");
}

// Without a display the program runs on Qt's offscreen platform, so batch
// conversions work on a server; no dialog can be answered there.
bool SelectPlatform(bool noDisplay) {
  if (noDisplay) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  return platform && std::strncmp(platform, "offscreen", 9) == 0;
}

// Without a display only a batch run has work to do: a viewer or a saver
// would run unseen and never end.
int RefuseWithoutDisplay(const std::string& programName) {
  std::fprintf(stderr,
               "%s: no display to show pictures on (DISPLAY and WAYLAND_DISPLAY are not set).\n"
               "Start it in a desktop session, or give a batch keyword to work without a window,\n"
               "for example: %s -ConvertToJPG *.gif   (%s --help lists them all)\n",
               programName.c_str(), programName.c_str(), programName.c_str());
  return 2;
}

// The running viewer has its own current directory: a relative name is
// handed over as the absolute name it means here.
std::string AbsoluteName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name.find("://") != std::string::npos) return name;
  char directory[4096];
  if (!::getcwd(directory, sizeof directory)) return name;
  return std::string(directory) + "/" + name;
}

// The start-up password, asked until it is given or the prompt cancelled.
bool StartupPasswordGiven() {
  return PasswordGiven(
      PasswordFile(), [](std::string& typed) { return AskPasswordDialog(nullptr, typed); },
      [] { QMessageBox::warning(nullptr, QStringLiteral("Zerbalin"), QString::fromLatin1(kIncorrectPasswordMessage)); });
}

// Qt's own warnings about the missing screen are noise in a batch run; the
// program's log lines go to standard error there instead.
void QuietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char** argv) {
  if (!SecureStandardDescriptors()) return 1;
  IgnoreFileSizeSignal();
  KeepFreedMemoryForReuse();
  SetPixelMemoryBudgetFromEnvironment();
  const std::string programPath = argv[0];
  const std::string programName = programPath.substr(programPath.find_last_of('/') + 1);
  if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(CommandLineHelp(programName).c_str(), stdout);
    return 0;
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("%s\n", kVersion);
    return 0;
  }
  const StartMode mode = StartModeOf(argc, argv);
  std::vector<TArgument> arguments = ParseArguments(argc, argv);
  const bool noDisplay = NoDisplay();
  const bool headless = SelectPlatform(noDisplay);
  if (headless) qInstallMessageHandler(QuietQtMessages);
  // Qt reads none of the arguments: "-style" or "-display" are the user's
  // settings switches here, not Qt's options.
  int qtArgc = 1;
  QApplication application(qtArgc, argv);
  application.setApplicationName(mode == StartMode::Viewer ? "Zerbalin" : "Screen Saver.Zerbalin");
  application.setQuitOnLastWindowClosed(false);

  THeadlessHost machine;
  TProfile settings(TProfileStart{mode, programName, SettingSwitches(arguments), HasInstallSwitch(arguments)}, machine);
  if (mode == StartMode::Preview) {
    // The saver's settings dialog; OK writes every setting.
    if (headless) {
      std::fprintf(stderr, "%s: the screen-saver settings need a display\n", programName.c_str());
      return 2;
    }
    TSaverDialog dialog(settings);
    if (dialog.exec() == QDialog::Accepted) {
      dialog.Store();
      settings.WriteAll();
    }
    return 0;
  }
  const QString socketName =
      InstanceSocketName(mode == StartMode::Viewer ? "WindowsZerbalinClass" : "WindowsScreenSaverClass");
  if (mode == StartMode::Saver && InstanceRunning(socketName)) return 0;
  if (mode == StartMode::Viewer && arguments.size() == 1 && arguments[0].kind == TArgument::kFile &&
      settings.Get(IntKey::EnableDragDrop) && HandOverToRunningInstance(socketName, AbsoluteName(arguments[0].file)))
    return 0;
  if (noDisplay && !(mode == StartMode::Viewer && HasBatchKeyword(arguments))) return RefuseWithoutDisplay(programName);
  if (settings.Get(IntKey::StartupPassword) && !headless && !StartupPasswordGiven()) return 0;

  TQtMainWindow window(mode, programName, arguments, headless);
  TTerminationSignals termination([&window] { window.close(); });
  // A batch run takes no files from other starts: it ends when its own list
  // is done.
  std::unique_ptr<TInstanceServer> server;
  if (!window.IsBatchRun())
    server =
        std::make_unique<TInstanceServer>(socketName, [&window](const std::string& name) { window.HandOver(name); });
  window.Begin();
  application.exec();
  return window.ExitStatus();
}
