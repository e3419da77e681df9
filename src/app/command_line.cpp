#include "app/command_line.h"

#include <strings.h>

#include <cctype>
#include <cstring>

#include "settings/profile_tables.h"

namespace {

constexpr const char* kKeywords[] = {
    "ZipPassword",  "Directory",    "Print",        "Wallpaper",    "ConvertToGIF", "ConvertToBMP",
    "ConvertToPCX", "ConvertToTGA", "ConvertToJPG", "ConvertToTIF", "Install",
};

bool EndsWithScr(std::string_view name) {
  return name.size() >= 4 && strncasecmp(name.data() + name.size() - 4, ".scr", 4) == 0;
}

} // namespace

TKeyword KeywordOf(std::string_view name) {
  if (name.empty()) return kKeywordNone;
  for (size_t i = 0; i < std::size(kKeywords); ++i)
    if (name.size() <= std::strlen(kKeywords[i]) && strncasecmp(name.data(), kKeywords[i], name.size()) == 0)
      return static_cast<TKeyword>(i);
  return kKeywordNone;
}

std::vector<TArgument> ParseArguments(int argc, const char* const* argv) {
  std::vector<TArgument> arguments;
  for (int i = 1; i < argc; ++i) {
    const char* text = argv[i];
    if (text[0] == '\0') continue;
    TArgument argument;
    // Switch text past its limit is dropped before the name and value are
    // split, as a value typed too long is cut.
    const std::string cut = std::string(text).substr(0, kMaxSwitchText + 1);
    if (ParseSwitch(cut.c_str(), argument.option)) {
      argument.kind = TArgument::kSwitch;
      argument.keyword = KeywordOf(argument.option.name);
    } else {
      argument.file = text;
    }
    arguments.push_back(std::move(argument));
  }
  return arguments;
}

StartMode StartModeOf(int argc, const char* const* argv) {
  if (argc < 1 || !EndsWithScr(argv[0])) return StartMode::Viewer;
  if (argc > 1) {
    const char* first = argv[1];
    const bool configure =
        std::tolower(static_cast<unsigned char>(first[0])) == 'c' ||
        ((first[0] == '-' || first[0] == '/') && std::tolower(static_cast<unsigned char>(first[1])) == 'c');
    if (configure) return StartMode::Preview;
  }
  return StartMode::Saver;
}

bool HasInstallSwitch(const std::vector<TArgument>& arguments) {
  for (const TArgument& argument : arguments)
    if (argument.kind == TArgument::kSwitch && argument.keyword == kKeywordInstall) return true;
  return false;
}

bool HasBatchKeyword(const std::vector<TArgument>& arguments) {
  for (const TArgument& argument : arguments)
    if (argument.kind == TArgument::kSwitch && argument.keyword >= kKeywordPrint &&
        argument.keyword <= kKeywordConvertToTif)
      return true;
  return false;
}

std::vector<TSwitch> SettingSwitches(const std::vector<TArgument>& arguments) {
  std::vector<TSwitch> switches;
  for (const TArgument& argument : arguments)
    if (argument.kind == TArgument::kSwitch && argument.keyword == kKeywordNone) switches.push_back(argument.option);
  return switches;
}

int CountFileArguments(const std::vector<TArgument>& arguments) {
  int count = 0;
  for (const TArgument& argument : arguments) count += argument.kind == TArgument::kFile;
  return count;
}

bool TakeSubdirectoryDots(std::string& name) {
  if (name.size() <= 3 || name.compare(name.size() - 3, 3, "...") != 0) return false;
  name.resize(name.size() - 3);
  return true;
}

std::string CommandLineHelp(const std::string& programName) {
  std::string help = "Usage: " + programName + " [FILE...] [-KEYWORD] [-Setting=value ...]\n\n";
  help += "FILE is a picture, sound or movie file, a directory, a wildcard (\"*.gif\"), an http or https\n"
          "address, or a member of a container (\"pics.zip/a.gif\", \"mail.uue/b.jpg\", \"doc.tif/page0002.tif\").\n"
          "A name ending in \"...\" stands for that directory and all its subdirectories.\n\n"
          "Keywords (any leading part selects the first that matches: -p is Print, -c ConvertToGIF):\n"
          "  -ZipPassword=TEXT   password of encrypted ZIP members\n"
          "  -Directory=DIR      change to DIR before the files are listed\n"
          "  -Print              print every picture, then exit\n"
          "  -Wallpaper          save every picture as the desktop wallpaper, then exit\n"
          "  -ConvertToGIF, -ConvertToBMP, -ConvertToPCX, -ConvertToTGA, -ConvertToJPG, -ConvertToTIF\n"
          "                      save every picture beside its file in that format, then exit\n"
          "  -Install            install the program into the desktop\n\n"
          "  --help              show this text\n"
          "  --version           show the version\n\n"
          "Settings (\"-Name=value\"; a leading part of the name is enough, a missing value is 1):\n";
  for (int i = 0; i < kIntSettingCount; ++i) {
    const TIntSetting& setting = kIntSettings[i];
    help += "  -" + std::string(setting.name) + "=" + std::to_string(setting.min) + ".." + std::to_string(setting.max) +
            " (" + std::to_string(setting.viewerDefault) + ")\n";
  }
  for (int i = 0; i < kStrSettingCount; ++i) help += "  -" + std::string(kStrSettings[i].name) + "=TEXT\n";
  return help;
}
