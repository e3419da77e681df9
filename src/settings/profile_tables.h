#pragma once
// The static tables of the settings profile: one entry per setting, in the
// order of IntKey and StrKey. The order matters: set-by-name takes the first
// setting whose name starts with the given text, and the Configure options
// dialog lists the integers in this order.
#include <cstdint>

#include "settings/profile_keys.h"

struct TIntSetting {
  const char* name;
  int32_t viewerDefault;
  int32_t saverDefault; // start modes other than the viewer
  int32_t min;
  int32_t max;
  const char* help; // lines separated by '\n'
};

struct TStrSetting {
  const char* name;
  // nullptr marks a default computed at run time (the starting file spec,
  // which depends on the user's pictures folder).
  const char* value;
};

inline constexpr int kIntSettingCount = static_cast<int>(IntKey::Count);
inline constexpr int kStrSettingCount = static_cast<int>(StrKey::Count);

extern const TIntSetting kIntSettings[kIntSettingCount];
extern const TStrSetting kStrSettings[kStrSettingCount];

inline const TIntSetting& IntSetting(IntKey key) { return kIntSettings[static_cast<int>(key)]; }
inline const TStrSetting& StrSetting(StrKey key) { return kStrSettings[static_cast<int>(key)]; }
