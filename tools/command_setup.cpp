#include "command_setup.h"

#include <strings.h>

#include <cstring>
#include <optional>
#include <string>

#include "app/package_settings.h"
#include "commands.h"
#include "platform/headless_host.h"

namespace {

// The ZipPassword keyword takes precedence over the settings, as on the
// viewer's command line, so "-Zip=x" sets the password too.
bool IsZipPasswordKeyword(const std::string& name) {
  static constexpr const char* kKeyword = "ZipPassword";
  return name.size() <= std::strlen(kKeyword) && strncasecmp(name.c_str(), kKeyword, name.size()) == 0;
}

} // namespace

TCommandArguments SplitArguments(int argc, char** argv) {
  TCommandArguments arguments;
  for (int i = 1; i < argc; ++i) {
    TSwitch option;
    if (ParseSwitch(argv[i], option))
      arguments.switches.push_back(option);
    else
      arguments.operands.push_back(argv[i]);
  }
  return arguments;
}

bool ApplySwitches(const std::vector<TSwitch>& switches, TProfile& profile) {
  for (const TSwitch& option : switches) {
    switch (profile.ApplySwitch(option)) {
    case TSwitchResult::Applied:
      break;
    case TSwitchResult::NoSuchSetting:
      ToolFail("no setting matches %s", option.name.c_str());
      return false;
    case TSwitchResult::NotANumber:
      ToolFail("-%s=%s: the setting takes a whole number", option.name.c_str(), option.value.c_str());
      return false;
    }
  }
  return true;
}

bool StartCommand(int argc, char** argv, size_t operandCount, TCommandStart& start) {
  TCommandArguments arguments = SplitArguments(argc, argv);
  std::vector<TSwitch> settingSwitches;
  std::optional<std::string> zipPassword;
  for (const TSwitch& option : arguments.switches) {
    if (!IsZipPasswordKeyword(option.name))
      settingSwitches.push_back(option);
    else if (!option.value.empty()) // without a value the keyword does nothing
      zipPassword = option.value;
  }
  THeadlessHost host;
  start.settings = TProfile(TProfileStart{}, host);
  if (!ApplySwitches(settingSwitches, start.settings)) return false;
  HandSettingsToPackage(start.settings, kWindowlessUserProcess, zipPassword ? zipPassword->c_str() : nullptr);
  start.operands = std::move(arguments.operands);
  const size_t given = start.operands.size();
  if (operandCount == kOneOrMore ? given > 0 : given == operandCount) return true;
  CommandUsage(argv[0]);
  return false;
}
