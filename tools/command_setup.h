#pragma once
// The settings every zerbalin-tool command runs with. The tool and the viewer
// share their settings: a command loads the viewer's settings file, applies
// the "-Key=Value" switches of its command line and hands the result to the
// file package as the viewer does, so that the tool deletes, lists and reads
// exactly as the program would.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "settings/profile.h"

// A command's arguments sorted into the switches (see ParseSwitch) and the
// rest, the operands, each kind in the order given.
struct TCommandArguments {
  std::vector<const char*> operands;
  std::vector<TSwitch> switches;
};

// argv[0] is the command name.
TCommandArguments SplitArguments(int argc, char** argv);

// Applies the switches in order. False after saying on standard error which
// switch was refused: one that names no setting, or an integer setting given
// something other than a whole number.
bool ApplySwitches(const std::vector<TSwitch>& switches, TProfile& profile);

// What a command starts from: the settings and the operands.
struct TCommandStart {
  TProfile settings;
  std::vector<const char*> operands;
};

// Loads the viewer's settings file (zerbalin.ini in the configuration folder),
// applies the switches and hands the settings to the package. A switch whose
// name is a leading part of "ZipPassword" is the program's keyword of that
// name: its value becomes the package's ZIP password. False after a message
// when a switch is refused or the command was not given operandCount
// operands (kOneOrMore: at least one).
inline constexpr size_t kOneOrMore = SIZE_MAX;
bool StartCommand(int argc, char** argv, size_t operandCount, TCommandStart& start);
