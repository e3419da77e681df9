// Telling the desktop about the wallpaper. Each desktop keeps its background
// in its own settings store and offers its own command-line tool; the tools
// are started directly with an argument vector (never through a shell, so no
// file name is ever read as shell syntax), their output read through a pipe,
// and a tool that has not finished within the time limit is killed: a D-Bus
// service that never answers must not freeze the program.
#include "app/wallpaper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/folders.h"

extern char** environ;

namespace {

constexpr std::chrono::milliseconds kToolTimeLimit{5000};
// Enough for any property list; a tool that writes more is not one of ours.
constexpr size_t kMaxToolOutput = 1 << 20;
// Arguments longer than this (scripts, file addresses) are left out of the
// log lines, which have room for about 130 characters.
constexpr size_t kLoggedArgumentLength = 40;

struct TToolRun {
  bool started = false;
  bool timedOut = false;
  int exitStatus = -1; // -1 when the tool did not exit normally
  std::string output;
};

using TClock = std::chrono::steady_clock;

// Takes whatever the tool has written so far. False once the tool has
// closed its output.
bool ReadAvailable(int descriptor, std::string& output) {
  char buffer[4096];
  for (;;) {
    const ssize_t count = read(descriptor, buffer, sizeof buffer);
    if (count > 0) {
      if (output.size() < kMaxToolOutput) output.append(buffer, static_cast<size_t>(count));
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    return count < 0 && errno == EAGAIN;
  }
}

// Collects the tool's output until it exits; a tool still running at the
// deadline is killed. The tool's exit is what counts, not the end of its
// output: a helper it left running may hold the pipe open.
void Collect(pid_t child, int descriptor, TToolRun& run) {
  const TClock::time_point deadline = TClock::now() + kToolTimeLimit;
  bool outputOpen = true;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) {
      if (outputOpen) ReadAvailable(descriptor, run.output);
      if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
      return;
    }
    if (done < 0 && errno != EINTR) return; // lost: counts as a failure
    if (TClock::now() >= deadline) {
      kill(child, SIGKILL);
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      run.timedOut = true;
      return;
    }
    if (outputOpen) {
      pollfd waiting{descriptor, POLLIN, 0};
      poll(&waiting, 1, 10);
      outputOpen = ReadAvailable(descriptor, run.output);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
}

// Runs arguments[0], found on PATH, with standard input and error on
// /dev/null and standard output collected.
TToolRun RunTool(const std::vector<std::string>& arguments) {
  TToolRun run;
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) return run;
  // Only this end waits without blocking; the tool writes as usual.
  fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  run.started = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  if (run.started) Collect(child, pipeEnds[0], run);
  close(pipeEnds[0]);
  return run;
}

bool ToolExists(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::string candidate = (folder.empty() ? "." : folder) + "/" + name;
    struct stat status;
    if (stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) && access(candidate.c_str(), X_OK) == 0)
      return true;
  }
  return false;
}

struct TWallpaper {
  std::string path; // absolute
  std::string uri;
};

// One attempt to set the wallpaper. A tool that did not answer once is not
// started again: a session bus that hangs would hang every further call.
struct TSetting {
  TLog& log;
  TWallpaper wallpaper;
  std::vector<std::string> hungTools;

  bool Usable(const std::string& tool) const {
    return std::find(hungTools.begin(), hungTools.end(), tool) == hungTools.end() && ToolExists(tool);
  }
};

std::string CommandForLog(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& argument : arguments) {
    if (!text.empty()) text += ' ';
    text += argument.size() > kLoggedArgumentLength ? std::string("...") : argument;
  }
  return text;
}

// Runs a tool and logs how it went. True when it exited with status 0.
bool RunLogged(TSetting& setting, const std::vector<std::string>& arguments, std::string* output = nullptr) {
  TLog& log = setting.log;
  const std::string command = CommandForLog(arguments);
  if (!setting.Usable(arguments[0])) {
    log.Log("Skipped %s", command.c_str());
    return false;
  }
  const TToolRun run = RunTool(arguments);
  if (run.timedOut) setting.hungTools.push_back(arguments[0]);
  if (!run.started) {
    log.Log("Could not start %s", command.c_str());
  } else if (run.timedOut) {
    log.Log("Stopped %s: no answer within %lld seconds", command.c_str(),
            static_cast<long long>(kToolTimeLimit.count() / 1000));
  } else if (run.exitStatus != 0) {
    log.Log("Failed: %s (exit status %d)", command.c_str(), run.exitStatus);
  } else {
    log.Log("Ran %s", command.c_str());
  }
  if (output) *output = run.output;
  return run.started && !run.timedOut && run.exitStatus == 0;
}

// The file's address: "file://" and the absolute path with every byte
// outside the unreserved characters and '/' percent-encoded, so that the
// address holds no quote, space or backslash.
std::string FileUri(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (const unsigned char c : path) {
    const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                            c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved || c == '/') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

// A string in the text form of GLib's variants, which gsettings and gdbus
// parse their values from.
std::string VariantText(const std::string& value) {
  std::string text = "'";
  for (const char c : value) {
    if (c == '\'' || c == '\\') text += '\\';
    text += c;
  }
  return text + "'";
}

// The gsettings schemas of the desktops that keep their background there.
// Fit shows the whole picture at the largest size the screen allows; the
// file has the screen's size, so on a single screen that is the picture
// pixel for pixel.
bool SetThroughGsettings(TSetting& setting, const char* schema, const char* key, const std::string& value) {
  if (!RunLogged(setting, {"gsettings", "set", schema, key, VariantText(value)})) return false;
  RunLogged(setting, {"gsettings", "set", schema, "picture-options", "'scaled'"});
  return true;
}

bool SetGnome(TSetting& setting) {
  if (!SetThroughGsettings(setting, "org.gnome.desktop.background", "picture-uri", setting.wallpaper.uri)) return false;
  // The dark style has a background of its own since GNOME 42; older
  // versions have no such key, which does not make the change fail.
  RunLogged(setting, {"gsettings", "set", "org.gnome.desktop.background", "picture-uri-dark",
                      VariantText(setting.wallpaper.uri)});
  return true;
}

bool SetCinnamon(TSetting& setting) {
  return SetThroughGsettings(setting, "org.cinnamon.desktop.background", "picture-uri", setting.wallpaper.uri);
}

bool SetMate(TSetting& setting) {
  return SetThroughGsettings(setting, "org.mate.background", "picture-filename", setting.wallpaper.path);
}

// Plasma's scripting interface: every desktop (one per screen and activity)
// gets the image wallpaper plugin with the file. The address is
// percent-encoded, so it cannot end the script's string.
std::string PlasmaScript(const std::string& uri) {
  return "var all = desktops(); for (var i = 0; i < all.length; i++) { var d = all[i]; "
         "d.wallpaperPlugin = \"org.kde.image\"; "
         "d.currentConfigGroup = [\"Wallpaper\", \"org.kde.image\", \"General\"]; "
         "d.writeConfig(\"Image\", \"" + uri + "\"); }";
}

bool SetKde(TSetting& setting) {
  const std::string script = PlasmaScript(setting.wallpaper.uri);
  const char* kService = "org.kde.plasmashell";
  const char* kObject = "/PlasmaShell";
  const char* kMethod = "org.kde.PlasmaShell.evaluateScript";
  for (const char* qdbus : {"qdbus", "qdbus6", "qdbus-qt6"})
    if (setting.Usable(qdbus)) return RunLogged(setting, {qdbus, kService, kObject, kMethod, script});
  if (setting.Usable("dbus-send"))
    return RunLogged(setting, {"dbus-send", "--session", "--print-reply", std::string("--dest=") + kService, kObject,
                           kMethod, "string:" + script});
  return RunLogged(setting, {"gdbus", "call", "--session", "--dest", kService, "--object-path", kObject, "--method",
                         kMethod, VariantText(script)});
}

// XFCE keeps one image per monitor and workspace, under properties whose
// names end in "last-image"; all of them are set.
bool SetXfce(TSetting& setting) {
  std::string listing;
  if (!RunLogged(setting, {"xfconf-query", "-c", "xfce4-desktop", "-l"}, &listing)) return false;
  bool set = false;
  std::istringstream lines(listing);
  for (std::string property; std::getline(lines, property);) {
    if (!property.ends_with("last-image")) continue;
    const std::vector<std::string> command = {"xfconf-query", "-c", "xfce4-desktop", "-p", property, "-s",
                                              setting.wallpaper.path};
    if (RunLogged(setting, command)) set = true;
  }
  if (!set) setting.log.Log("XFCE has no background image settings to change");
  return set;
}

// The desktop portal sets the background of whatever desktop serves it; it
// may ask the user to confirm first.
bool SetThroughPortal(TSetting& setting) {
  return RunLogged(setting, {"gdbus", "call", "--session", "--dest", "org.freedesktop.portal.Desktop", "--object-path",
                         "/org/freedesktop/portal/desktop", "--method",
                         "org.freedesktop.portal.Wallpaper.SetWallpaperURI", "''", VariantText(setting.wallpaper.uri),
                         "@a{sv} {}"});
}

struct TDesktopMethod {
  const char* name;
  // Names in XDG_CURRENT_DESKTOP (compared without regard to case) that
  // select this method first.
  std::vector<std::string_view> desktops;
  // Any one of them must exist for the method to be tried.
  std::vector<const char*> tools;
  bool (*set)(TSetting& setting);
};

// In the order the methods are tried when the desktop names none of them:
// those that fail unless their desktop runs come first, GNOME's settings
// (present on many other desktops too) and the portal last.
const std::vector<TDesktopMethod>& Methods() {
  static const std::vector<TDesktopMethod> kMethods = {
      {"KDE Plasma", {"kde"}, {"qdbus", "qdbus6", "qdbus-qt6", "dbus-send", "gdbus"}, SetKde},
      {"XFCE", {"xfce"}, {"xfconf-query"}, SetXfce},
      {"Cinnamon", {"x-cinnamon", "cinnamon"}, {"gsettings"}, SetCinnamon},
      {"MATE", {"mate"}, {"gsettings"}, SetMate},
      {"GNOME",
       {"gnome", "ubuntu", "unity", "gnome-classic", "gnome-flashback", "budgie", "budgie-desktop", "pantheon",
        "pop"},
       {"gsettings"},
       SetGnome},
      {"the desktop portal", {}, {"gdbus"}, SetThroughPortal},
  };
  return kMethods;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// The methods in the order they are tried: those of the desktops named in
// XDG_CURRENT_DESKTOP, in the order named, then the others.
std::vector<const TDesktopMethod*> MethodOrder(const std::string& currentDesktops) {
  std::vector<const TDesktopMethod*> order;
  auto add = [&order](const TDesktopMethod& method) {
    for (const TDesktopMethod* present : order)
      if (present == &method) return;
    order.push_back(&method);
  };
  std::istringstream names(currentDesktops);
  for (std::string name; std::getline(names, name, ':');)
    for (const TDesktopMethod& method : Methods())
      for (std::string_view desktop : method.desktops)
        if (Lower(name) == desktop) add(method);
  for (const TDesktopMethod& method : Methods()) add(method);
  return order;
}

std::string AbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char* folder = getcwd(nullptr, 0);
  const std::string absolute = std::string(folder ? folder : "") + "/" + path;
  std::free(folder);
  return absolute;
}

} // namespace

std::string WallpaperPath(const std::string& programPath) {
  std::string name = programPath.substr(programPath.find_last_of('/') + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return ConfigFolder() + "/" + (name.empty() ? std::string("zerbalin") : name) + ".bmp";
}

bool SetDesktopWallpaper(const std::string& bmpPath, TLog& log) {
  const std::string path = AbsolutePath(bmpPath);
  TSetting setting{log, {path, FileUri(path)}, {}};
  const char* current = std::getenv("XDG_CURRENT_DESKTOP");
  const std::string desktops = current ? current : "";
  log.Log("Setting the wallpaper; the desktop is %s", desktops.empty() ? "not named" : desktops.c_str());
  for (const TDesktopMethod* method : MethodOrder(desktops)) {
    bool available = false;
    for (const char* tool : method->tools) available = available || setting.Usable(tool);
    if (!available) continue;
    log.Log("Trying %s", method->name);
    if (method->set(setting)) {
      log.Log("Set the wallpaper of %s to %s", method->name, path.c_str());
      return true;
    }
  }
  log.Log("Saved the wallpaper as %s, but could not set it on this desktop", path.c_str());
  return false;
}
