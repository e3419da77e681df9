#include "app/shell_commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <vector>

#include "output/desktop_integration.h"
#include "platform/folders.h"
#include "platform/host.h"
#include "settings/ini_file.h"
#include "settings/profile.h"

namespace {

constexpr int kFileTypes = 12;
constexpr int kExtensionsPerType = 8;

// The MIME types of the extensions of every enabled file type, in type
// order and then name order.
std::vector<std::string> EnabledTypes(const TProfile& settings) {
  std::vector<std::string> types;
  for (int type = 0; type < kFileTypes; ++type) {
    if (!settings.Get(static_cast<IntKey>(static_cast<int>(IntKey::GIFEnab) + type))) continue;
    for (int i = 0; i < kExtensionsPerType; ++i) {
      const auto key = static_cast<StrKey>(static_cast<int>(StrKey::GIFExt0) + type * kExtensionsPerType + i);
      const std::string mime = MimeTypeOf(settings.GetString(key));
      if (!mime.empty() && std::find(types.begin(), types.end(), mime) == types.end()) types.push_back(mime);
    }
  }
  return types;
}

bool Ask(TShellContext& context, const char* question, const char* caption) {
  return context.files.host.MessageBox(question, caption, TBoxButtons::YesNo, TBoxIcon::Question) == TBoxAnswer::Yes;
}

void ShowHints(TShellContext& context) {
  if (!context.installSwitch || !context.files.settings.Get(IntKey::EnableHints)) return;
  const char* hints[] = {"You can install and remove Zerbalin by\nusing commands in the Utilities menu.\n\nMake sure "
                         "you use the <Remove Zerbalin>\ncommand before deleting Zerbalin.",
                         "Most Zerbalin commands have keyboard\nshortcuts.  These shortcuts are on the\nright-hand "
                         "side of each menu choice.",
                         "You can get help at any time by pressing F1."};
  for (const char* hint : hints) context.files.host.MessageBox(hint, "Hint", TBoxButtons::Ok, TBoxIcon::Information);
}

TLineSink LogSink(TShellContext& context) {
  return [&log = context.files.log](const std::string& line) { log.Log("%s", line.c_str()); };
}

void DeleteLogged(TShellContext& context, const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
  context.files.log.Log("Deleted %s", path.c_str());
}

// The screen-saver entry of system.ini in the configuration folder.
void SetScreenSaverEntry(const std::string& value) {
  TIniFile system(ConfigFolder() + "/system.ini");
  system.Set("boot", "scrnsave.exe", value);
  system.Save();
}

} // namespace

std::string ScreenSaverFile(const char* extension) { return ConfigFolder() + "/zersav32" + extension; }

bool ConfigureExtensions(TShellContext& context) {
  if (!context.editExtensions(context.files.settings)) return false;
  const TDesktopPlaces places = UserDesktopPlaces();
  const std::vector<std::string> enabled = EnabledTypes(context.files.settings);
  TAssociations associations(places, LogSink(context));
  for (const std::string& type : associations.Types())
    if (std::find(enabled.begin(), enabled.end(), type) == enabled.end()) associations.Disassociate(type);
  for (const std::string& type : enabled) associations.Associate(type);
  associations.Save();
  // The menu entry lists the types the program opens.
  if (std::filesystem::exists(places.menuEntry)) WriteMenuEntry(places, context.program, enabled);
  return true;
}

void InstallProgram(TShellContext& context) {
  context.showLog(true);
  ShowHints(context);
  if (Ask(context, "Do you want to create an icon for Zerbalin\nin the Accessories folder?", "Install Zerbalin") &&
      WriteMenuEntry(UserDesktopPlaces(), context.program, EnabledTypes(context.files.settings)))
    context.files.log.Log("Created icon in Accessories group");
  if (Ask(context,
          "Do you want to automatically start Zerbalin\nwhen you double-click on an image, sound, or\nmovie file in "
          "the Windows Explorer?\n\nYou can also configure this at any time using\nthe Utilities|Configure "
          "extensions... command.",
          "Install Zerbalin"))
    ConfigureExtensions(context);
  context.showLog(false);
}

void RemoveProgram(TShellContext& context) {
  context.showLog(true);
  const TDesktopPlaces places = UserDesktopPlaces();
  if (Ask(context, "Do you want to remove Zerbalin's\nfile associations?", "Remove Zerbalin")) {
    TAssociations associations(places, LogSink(context));
    for (const std::string& type : associations.Types()) associations.Disassociate(type);
    associations.Save();
  }
  if (Ask(context, "Do you want to remove the Zerbalin icon\nfrom the Accessories folder?", "Remove Zerbalin")) {
    std::error_code ignored;
    std::filesystem::remove(places.menuEntry, ignored);
    context.files.log.Log("Deleted icon from Accessories group");
  }
  context.showLog(false);
}

void InstallScreenSaver(TShellContext& context) {
  context.showLog(true);
  DeleteLogged(context, ScreenSaverFile(".ini"));
  const std::string saver = ScreenSaverFile(".scr");
  std::error_code ignored;
  std::filesystem::create_directories(ConfigFolder(), ignored);
  if (CopyThroughPackage(context.files, context.program, saver, false, false) == TCopyResult::Copied) {
    std::filesystem::permissions(saver, std::filesystem::perms::owner_exec | std::filesystem::perms::group_exec,
                                 std::filesystem::perm_options::add, ignored);
    SetScreenSaverEntry(saver);
  }
  context.showLog(false);
}

void RemoveScreenSaver(TShellContext& context) {
  context.showLog(true);
  for (const char* extension : {".ini", ".hlp", ".scr"}) DeleteLogged(context, ScreenSaverFile(extension));
  SetScreenSaverEntry("(None)");
  context.showLog(false);
}
