// Settings files: the input is the settings file of a private configuration
// folder. It is parsed, loaded into the profile, changed and written back
// through the temporary-file rewrite, and the written file is read again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/ini_file.h"
#include "settings/profile.h"
#include "platform/headless_host.h"

namespace {

constexpr size_t kMaxInput = 256 * 1024;

// The settings file in a folder of this process, which ZERBALIN_HOME names.
const std::string& SettingsPath() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/zer_ini_fuzz_" + std::to_string(getpid());
    mkdir(folder.c_str(), 0700);
    setenv("ZERBALIN_HOME", folder.c_str(), 1);
    return folder + "/zerbalin.ini";
  }();
  return path;
}

void RemoveSettingsFolder() {
  const std::string& path = SettingsPath();
  unlink(path.c_str());
  rmdir(path.substr(0, path.find_last_of('/')).c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  const std::string& path = SettingsPath();
  static const int cleanup = std::atexit(RemoveSettingsFolder); // after the path, so it outlives it
  (void)cleanup;
  FILE* input = std::fopen(path.c_str(), "wb");
  if (!input) return 0;
  std::fwrite(data, 1, size, input);
  std::fclose(input);

  THeadlessHost host;
  TProfile profile(TProfileStart{}, host);
  profile.SetByName("Delay", "6");
  profile.SetString(StrKey::CopyImageTo, "line\nbreak");
  profile.WriteAll();
  profile.WriteOnExit();

  TIniFile file(path);
  for (const auto& [key, value] : file.Entries(kProfileSection)) file.Set("Copy", key, value);
  file.Remove(kProfileSection, "CopyImageTo");
  file.Save();

  // What was written must read back as written.
  if (TIniFile(path).Get(kProfileSection, "DelayBetweenImages") != "6") std::abort();
  TProfile again(TProfileStart{}, host);
  return 0;
}
