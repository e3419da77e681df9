// zerbalin-tool profile: shows the settings as the program would load them,
// with command-line switches applied, and optionally writes them back.
#include <cstdio>
#include <cstring>

#include "settings/profile.h"
#include "settings/profile_tables.h"
#include "commands.h"
#include "platform/headless_host.h"

namespace {

constexpr const char* kUsage = "profile [--saver] [--write] [-Key=Value ...]";

// "-Name=value" or "-Name"; false for anything else.
bool ParseSwitch(const char* argument, TSwitch& option) {
  if (argument[0] != '-' || argument[1] == '\0' || argument[1] == '-') return false;
  const char* equals = std::strchr(argument, '=');
  option.name = equals ? std::string(argument + 1, equals) : std::string(argument + 1);
  option.value = equals ? equals + 1 : "";
  return !option.name.empty();
}

int RunProfile(int argc, char** argv) {
  TProfileStart start;
  bool write = false;
  std::vector<TSwitch> switches;
  for (int i = 1; i < argc; ++i) {
    TSwitch option;
    if (std::strcmp(argv[i], "--saver") == 0) {
      start.mode = StartMode::Saver;
      start.programName = "zersav32";
    } else if (std::strcmp(argv[i], "--write") == 0) {
      write = true;
    } else if (ParseSwitch(argv[i], option)) {
      switches.push_back(option);
    } else {
      return ToolFail("unknown argument %s (usage: %s)", argv[i], kUsage);
    }
  }

  THeadlessHost host;
  TProfile profile(start, host);
  for (const TSwitch& option : switches)
    if (!profile.SetByName(option.name.c_str(), option.value.c_str()))
      return ToolFail("no setting matches %s", option.name.c_str());

  for (int i = 0; i < kIntSettingCount; ++i)
    std::printf("%s=%d\n", kIntSettings[i].name, profile.Get(static_cast<IntKey>(i)));
  for (int i = 0; i < kStrSettingCount; ++i)
    std::printf("%s=%s\n", kStrSettings[i].name, profile.GetString(static_cast<StrKey>(i)).c_str());

  if (write && !profile.WriteAll()) return ToolFail("cannot write %s", profile.FileName().c_str());
  return 0;
}

TToolCommand reg("profile", kUsage, RunProfile);

} // namespace
