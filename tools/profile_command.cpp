// zerbalin-tool profile: shows the settings as the program would load them,
// with command-line switches applied, and optionally writes them back.
#include <cstdio>
#include <cstring>

#include "command_setup.h"
#include "commands.h"
#include "platform/headless_host.h"
#include "settings/profile.h"
#include "settings/profile_tables.h"

namespace {

constexpr const char* kUsage = "profile [--saver] [--write] [-Key=Value ...]";

int RunProfile(int argc, char** argv) {
  TProfileStart start;
  bool write = false;
  const TCommandArguments arguments = SplitArguments(argc, argv);
  for (const char* operand : arguments.operands) {
    if (std::strcmp(operand, "--saver") == 0) {
      start.mode = StartMode::Saver;
      start.programName = "zersav32";
    } else if (std::strcmp(operand, "--write") == 0) {
      write = true;
    } else {
      return ToolFail("unknown argument %s (usage: %s)", operand, kUsage);
    }
  }

  THeadlessHost host;
  TProfile profile(start, host);
  if (!ApplySwitches(arguments.switches, profile)) return 1;

  for (int i = 0; i < kIntSettingCount; ++i)
    std::printf("%s=%d\n", kIntSettings[i].name, profile.Get(static_cast<IntKey>(i)));
  for (int i = 0; i < kStrSettingCount; ++i)
    std::printf("%s=%s\n", kStrSettings[i].name, profile.GetString(static_cast<StrKey>(i)).c_str());

  if (write && !profile.WriteAll()) return ToolFail("cannot write %s", profile.FileName().c_str());
  return 0;
}

TToolCommand reg("profile", kUsage, RunProfile);

} // namespace
