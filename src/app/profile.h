#pragma once
// TProfile: every option of the program, 243 integer and 119 string settings
// with their defaults, ranges and help texts, kept in one section of an ini
// file. Readers and writers take it as their options record.
#include <cstdint>
#include <string>

#include "app/profile_keys.h"

// 0 viewer, 1 screen saver, 2 screen-saver preview, 3 screen-saver
// configuration opened from the viewer.
enum class StartMode : int { Viewer = 0, Saver = 1, Preview = 2, SaverConfig = 3 };

// The default of a string setting (the starting file spec is computed from
// the user's pictures folder).
std::string DefaultString(StrKey key);

class TProfile {
public:
  // Viewer defaults, no file: what tests and tools start from.
  TProfile();

  int32_t Get(IntKey key) const { return m_values[static_cast<int>(key)]; }
  // Stores the value clamped to the setting's range.
  void Set(IntKey key, int32_t value);
  // Address of a value, for records that keep references to settings.
  const int32_t* Ref(IntKey key) const { return &m_values[static_cast<int>(key)]; }
  const std::string& GetString(StrKey key) const { return m_strings[static_cast<int>(key)]; }
  void SetString(StrKey key, const std::string& value);

  // Leading-part match, integers first; false when no setting matches.
  bool SetByName(const char* name, const char* value);

  // The rest of the interface (Read, WriteAll, WriteOnExit, ResetToDefaults,
  // direct key access, table access, saved values) is declared below by the
  // profile module.

private:
  int32_t m_values[static_cast<int>(IntKey::Count)];
  std::string m_strings[static_cast<int>(StrKey::Count)];
};
