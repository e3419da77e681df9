#include "app/package_settings.h"

#include "filepkg/filepkg.h"
#include "settings/profile.h"
#include "settings/profile_tables.h"

namespace {

// The settings the package knows by the same names.
constexpr IntKey kPackageSettings[] = {
    IntKey::EnableFILIO,      IntKey::EnableGIFIO,       IntKey::EnableHTMIO,       IntKey::EnableMEMIO,
    IntKey::EnableMULIO,      IntKey::EnableSLIIO,       IntKey::EnableTIFIO,       IntKey::EnableURLIO,
    IntKey::EnableUUEIO,      IntKey::EnableZIPIO,       IntKey::CacheSize,         IntKey::CacheTime,
    IntKey::EnableRecycleBin, IntKey::EnableHiddenFiles, IntKey::EnableSystemFiles,
};

} // namespace

void HandSettingsToPackage(const TProfile& profile, int32_t asyncWindow, const char* zipPassword) {
  for (IntKey key : kPackageSettings) PkgSetInt(IntSetting(key).name, profile.Get(key));
  const bool hasWindow = asyncWindow != 0 && asyncWindow != kWindowlessUserProcess;
  PkgSetInt("AsyncWindow", asyncWindow);
  PkgSetInt("AsyncMessage", hasWindow && profile.Get(IntKey::EnableAsyncWinsock) ? kAsyncLookupMessage : 0);
  PkgSetPtr("EncodeHeader", kEncodeHeader);
  if (zipPassword) PkgSetPtr("ZipPassword", zipPassword);
}
