#pragma once
// The program's command line: which start mode a run is in, which arguments
// are file names and which are switches, and the keywords among the switches
// ("-ConvertToJPG", "-p", "-Directory=..."). Everything else a switch names
// is a setting ("-DelayBetweenImages=3").
//
// On Linux a switch begins with '-' and a letter; '/' begins an absolute
// file name, never a switch.
#include <string>
#include <string_view>
#include <vector>

#include "settings/profile.h"

// The keywords in the order their leading parts are matched: "-p" is Print,
// "-c" ConvertToGIF, "-i" Install.
enum TKeyword : int {
  kKeywordNone = -1,
  kKeywordZipPassword = 0,
  kKeywordDirectory,
  kKeywordPrint,
  kKeywordWallpaper,
  kKeywordConvertToGif, // through kKeywordConvertToTif, in the order of the file type codes
  kKeywordConvertToBmp,
  kKeywordConvertToPcx,
  kKeywordConvertToTga,
  kKeywordConvertToJpg,
  kKeywordConvertToTif,
  kKeywordInstall,
};

// The longest switch text taken after the '-'; the rest is dropped.
inline constexpr size_t kMaxSwitchText = 318;

// One argument of the command line.
struct TArgument {
  enum TKind { kFile, kSwitch } kind = kFile;
  // A file argument as given.
  std::string file;
  // A switch, cut to kMaxSwitchText characters, and the keyword it selects.
  TSwitch option;
  TKeyword keyword = kKeywordNone;
};

// The arguments after the program's own name, empty ones skipped.
std::vector<TArgument> ParseArguments(int argc, const char* const* argv);

// The keyword a switch name selects: the first of the list of which it is a
// leading part, without regard to case.
TKeyword KeywordOf(std::string_view name);

// The start mode from the program file's name and the first argument: a name
// ending in ".scr" runs the screen saver, and its configuration when the first
// argument is "c", "-c" or "/c" (any case).
StartMode StartModeOf(int argc, const char* const* argv);

// True when a switch selects Install.
bool HasInstallSwitch(const std::vector<TArgument>& arguments);
// True when a switch asks for a batch run: print, wallpaper or a conversion
// of every file, then exit.
bool HasBatchKeyword(const std::vector<TArgument>& arguments);
// The switches that name settings, for the settings load.
std::vector<TSwitch> SettingSwitches(const std::vector<TArgument>& arguments);
int CountFileArguments(const std::vector<TArgument>& arguments);

// A file argument longer than three characters ending in "..." stands for a
// directory with all its subdirectories; returns the name without the dots.
bool TakeSubdirectoryDots(std::string& name);

// The text of --help: the grammar, the keywords and every setting.
std::string CommandLineHelp(const std::string& programName);
