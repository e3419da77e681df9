#include "app/profile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "app/profile_tables.h"
#include "platform/folders.h"

namespace {

int32_t Clamp(const TIntSetting& setting, long long value) {
  if (value < setting.min) return setting.min;
  if (value > setting.max) return setting.max;
  return static_cast<int32_t>(value);
}

// A name matches a setting when it is a leading part of the setting's name,
// without regard to case. An empty name would match the first setting of
// every table, so it matches nothing.
bool LeadingPartOf(const char* name, const char* settingName) {
  size_t length = std::strlen(name);
  return length > 0 && length <= std::strlen(settingName) && strncasecmp(name, settingName, length) == 0;
}

// The text of an integer setting: empty means 1 (a bare switch "-Rand" turns a
// setting on), a leading decimal number is the value, anything else is 1.
long long IntFromText(const char* text) {
  if (*text == '\0') return 1;
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(text, &end, 10);
  return end == text ? 1 : value; // strtoll saturates on overflow; Clamp takes it from there
}

} // namespace

std::string DefaultString(StrKey key) {
  const TStrSetting& setting = StrSetting(key);
  if (setting.value) return setting.value;
  // The starting file spec: the pictures folder and everything below it.
  return PicturesFolder() + "/...";
}

TProfile::TProfile() {
  for (int i = 0; i < kIntSettingCount; ++i) m_values[i] = kIntSettings[i].viewerDefault;
  for (int i = 0; i < kStrSettingCount; ++i) m_strings[i] = DefaultString(static_cast<StrKey>(i));
}

void TProfile::Set(IntKey key, int32_t value) { m_values[static_cast<int>(key)] = Clamp(IntSetting(key), value); }

void TProfile::SetString(StrKey key, const std::string& value) { m_strings[static_cast<int>(key)] = value; }

bool TProfile::SetByName(const char* name, const char* value) {
  for (int i = 0; i < kIntSettingCount; ++i) {
    if (!LeadingPartOf(name, kIntSettings[i].name)) continue;
    m_values[i] = Clamp(kIntSettings[i], IntFromText(value));
    return true;
  }
  for (int i = 0; i < kStrSettingCount; ++i) {
    if (!LeadingPartOf(name, kStrSettings[i].name)) continue;
    m_strings[i] = value;
    return true;
  }
  return false;
}
