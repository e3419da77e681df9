#pragma once
// The Utilities commands that tie the program into the desktop: Install and
// Remove (the menu entry and the file associations), Configure extensions,
// and installing and removing the screen-saver copy of the program. Each
// shows the log window while it runs and logs every step.
#include <functional>
#include <string>

#include "app/file_commands.h"

struct TShellContext {
  // The window's host, settings and log; the copy of the saver goes
  // through the copy engine.
  TFileCommandContext& files;
  // Shows the log window for the command, and hides it again at its end.
  std::function<void(bool shown)> showLog;
  // The extensions dialog on the settings; false when cancelled.
  std::function<bool(TProfile& settings)> editExtensions;
  // The program file, as the menu entry and the saver copy name it.
  std::string program;
  // The program was started with the install switch: hints come first.
  bool installSwitch = false;
};

void InstallProgram(TShellContext& context);
void RemoveProgram(TShellContext& context);
// Associates the extensions of the enabled file types and gives the other
// types back; false when the dialog was cancelled.
bool ConfigureExtensions(TShellContext& context);
void InstallScreenSaver(TShellContext& context);
void RemoveScreenSaver(TShellContext& context);

// The screen saver's files in the configuration folder: "zersav32" with the
// extension (".scr", ".ini").
std::string ScreenSaverFile(const char* extension);
