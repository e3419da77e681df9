#pragma once
// Runs zerbalin-tool, or the program itself, as a user would, with a
// configuration folder, a data folder (where the Trash lives) and a
// temporary folder (where a running viewer's socket lives) of the test's
// own, so that neither the settings, the Trash nor the viewer of whoever runs
// the tests is ever used. There is no display: the program runs on its own
// choice of platform, as on a server, unless a test names a screen.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/peer.h"

namespace tooltest {

inline std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// A wallpaper set by a test must not reach the desktop of whoever runs the
// tests: gsettings keeps it in memory and no session bus answers.
inline constexpr const char* kNoDesktop =
    "GSETTINGS_BACKEND=memory DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent XDG_CURRENT_DESKTOP=";

class TToolUser {
public:
  explicit TToolUser(std::string program = ZER_TOOL) : m_program(std::move(program)) {
    std::filesystem::create_directory(m_home / "config");
    std::filesystem::create_directory(m_home / "tmp");
  }

  // The shell command line "PROGRAM ARGUMENTS" run with this user's
  // folders; arguments may carry redirections. variables ("NAME=value ...")
  // are set for the program too: a screen as "QT_QPA_PLATFORM=offscreen" (a
  // viewer that runs unseen) or "DISPLAY=:5", a memory budget.
  std::string Command(const std::string& arguments, const std::string& variables = "") const {
    return "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + std::string(kNoDesktop) + " " + variables +
           " ZERBALIN_HOME=" + Quoted(m_home / "config") +
           " XDG_DATA_HOME=" + Quoted(m_home / "data") + " TMPDIR=" + Quoted(m_home / "tmp") + " " +
           Quoted(m_program) + " " + arguments;
  }
  int Run(const std::string& arguments) const { return testsupport::Run(Command(arguments)); }
  // Standard output and standard error, in that order of arrival.
  std::string Output(const std::string& arguments) const {
    return testsupport::RunOutput(Command(arguments) + " 2>&1");
  }
  // The exit status and the output together. With a limit, a run still
  // going after limitSeconds is stopped and has the status 124.
  struct TRun {
    int status = -1;
    std::string output;
  };
  TRun Invoke(const std::string& arguments, int limitSeconds = 0, const std::string& variables = "") const {
    TRun run;
    const std::string limit = limitSeconds > 0 ? "timeout -k 5 " + std::to_string(limitSeconds) + " " : "";
    FILE* pipe = popen((limit + Command(arguments, variables) + " 2>&1").c_str(), "r");
    if (!pipe) return run;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof(buffer), pipe)) run.output.append(buffer, n);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

  // A file of the configuration folder; the viewer's settings file, which
  // the tool shares, by default.
  std::string ConfigFile(const std::string& name = "zerbalin.ini") const { return m_home / ("config/" + name); }
  void WriteSettings(const std::string& lines) const {
    testsupport::WriteFileBytes(ConfigFile(), "[Zerbalin]\n" + lines);
  }
  std::string TrashFile(const std::string& name) const { return m_home / ("data/Trash/files/" + name); }
  // The folder $TMPDIR names: a running viewer's socket and the temporary
  // copies of sounds and movies.
  std::string TemporaryFolder() const { return m_home / "tmp"; }

private:
  std::string m_program;
  testsupport::TTempDir m_home;
};

} // namespace tooltest
