#include "settings/profile.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "settings/ini_file.h"
#include "settings/profile_tables.h"
#include "platform/folders.h"

namespace {

// Values read from the file are cut to this length, and key enumeration
// stops once the names would fill this many bytes: a damaged or hostile
// settings file costs bounded work.
constexpr size_t kMaxValueLength = 255;
constexpr size_t kKeyNamesBytes = 16 * 1024;

// Below this much physical memory the two-pass JPEG limit is half of it.
constexpr uint64_t kSmallMachineBytes = 64ull << 20;

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

// The first setting of a table whose name the given name is a leading part
// of, or -1.
template <typename TSetting, size_t count>
int FindSetting(const TSetting (&table)[count], const char* name) {
  for (size_t i = 0; i < count; ++i)
    if (LeadingPartOf(name, table[i].name)) return static_cast<int>(i);
  return -1;
}

// The leading decimal number of a text (blanks and a sign allowed), or
// nothing when it does not begin with one. Overflow saturates.
bool LeadingNumber(const char* text, long long& value) {
  char* end = nullptr;
  value = std::strtoll(text, &end, 10);
  return end != text;
}

// The text of an integer setting: empty means 1 (a bare switch "-Rand" turns a
// setting on), a leading decimal number is the value, anything else is 1.
long long IntFromText(const char* text) {
  long long value = 1;
  if (*text == '\0' || !LeadingNumber(text, value)) return 1;
  return value;
}

// An optional sign and decimal digits, nothing before or after them.
bool IsWholeNumber(const std::string& text) {
  const size_t digits = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  return digits < text.size() && text.find_first_not_of("0123456789", digits) == std::string::npos;
}

std::string ProgramStem(const std::string& programName) {
  std::string name = programName.substr(programName.find_last_of('/') + 1);
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name.empty() ? "zerbalin" : name;
}

bool IsExtensionKey(int index) {
  return index >= static_cast<int>(StrKey::GIFExt0) && index <= static_cast<int>(StrKey::ZIPExt7);
}

} // namespace

std::string SettingsFilePath(StartMode mode, const std::string& programName) {
  std::string stem = mode == StartMode::SaverConfig ? "zersav32" : ProgramStem(programName);
  return ConfigFilePath(stem + ".ini");
}

std::string DefaultString(StrKey key) {
  const TStrSetting& setting = StrSetting(key);
  if (setting.value) return setting.value;
  // The starting file spec: the pictures folder and everything below it.
  return PicturesFolder() + "/...";
}

TProfile::TProfile() {
  SetDefaults(StartMode::Viewer);
  TakeSnapshot();
}

TProfile::TProfile(const TProfileStart& start, const Host& host)
    : m_fileName(SettingsFilePath(start.mode, start.programName)), m_mode(start.mode), m_switches(start.switches) {
  SetDefaults(start.mode);
  AdjustToMachine(host);
  TakeSnapshot();
  Read();
  if (start.install) Set(IntKey::Enable3dControls, 0);
}

void TProfile::SetDefaults(StartMode mode) {
  for (int i = 0; i < kIntSettingCount; ++i)
    m_values[i] = mode == StartMode::Viewer ? kIntSettings[i].viewerDefault : kIntSettings[i].saverDefault;
  for (int i = 0; i < kStrSettingCount; ++i) m_strings[i] = DefaultString(static_cast<StrKey>(i));
}

void TProfile::AdjustToMachine(const Host& host) {
  Set(IntKey::JPEGTwoPass, host.DisplayDepth() == 8 ? 1 : 0);
  uint64_t memory = host.PhysicalMemory();
  if (memory == 0) return; // unknown: keep the table's default
  Set(IntKey::JPEGKBytesMemory, memory < kSmallMachineBytes ? static_cast<int32_t>(memory / 2048) : 32767);
}

void TProfile::TakeSnapshot() {
  std::copy(std::begin(m_values), std::end(m_values), m_defaultValues);
  std::copy(std::begin(m_strings), std::end(m_strings), m_defaultStrings);
}

void TProfile::Set(IntKey key, int32_t value) {
  m_values[static_cast<int>(key)] = Clamp(IntSetting(key), value);
  m_forced.keys.reset(static_cast<int>(key));
}

void TProfile::Force(IntKey key, int32_t value) {
  const int index = static_cast<int>(key);
  if (!m_forced.keys[index]) {
    m_forced.chosen[index] = m_values[index];
    m_forced.keys.set(index);
  }
  m_values[index] = Clamp(IntSetting(key), value);
}

TProfile::TKeyState TProfile::StateOf(IntKey key) const {
  const int index = static_cast<int>(key);
  return {key, m_values[index], m_forced.keys[index], m_forced.chosen[index]};
}

void TProfile::Restore(const TKeyState& state) {
  const int index = static_cast<int>(state.key);
  m_values[index] = state.value;
  m_forced.keys[index] = state.forced;
  m_forced.chosen[index] = state.chosen;
}

void TProfile::SetString(StrKey key, const std::string& value) { m_strings[static_cast<int>(key)] = value; }

bool TProfile::SetByName(const char* name, const char* value) {
  if (const int index = FindSetting(kIntSettings, name); index >= 0) {
    m_values[index] = Clamp(kIntSettings[index], IntFromText(value));
    m_forced.keys.reset(index);
    return true;
  }
  if (const int index = FindSetting(kStrSettings, name); index >= 0) {
    m_strings[index] = value;
    return true;
  }
  return false;
}

int TProfile::IntIndexOf(const char* name) { return FindSetting(kIntSettings, name); }

TSwitchResult TProfile::ApplySwitch(const TSwitch& option) {
  const char* name = option.name.c_str();
  if (FindSetting(kIntSettings, name) >= 0) {
    if (!option.value.empty() && !IsWholeNumber(option.value)) return TSwitchResult::NotANumber;
  } else if (FindSetting(kStrSettings, name) < 0) {
    return TSwitchResult::NoSuchSetting;
  }
  SetByName(name, option.value.c_str());
  return TSwitchResult::Applied;
}

bool ParseSwitch(const char* argument, TSwitch& option) {
  if (argument[0] != '-' || !std::isalpha(static_cast<unsigned char>(argument[1]))) return false;
  const char* end = argument + 1;
  while (std::isalnum(static_cast<unsigned char>(*end))) ++end;
  if (*end != '\0' && *end != '=') return false;
  option.name.assign(argument + 1, end);
  option.value = *end == '=' ? end + 1 : "";
  return true;
}

void TProfile::Read() {
  if (!m_fileName.empty()) {
    size_t namesBytes = 0;
    for (auto& [key, value] : TIniFile(m_fileName).Entries(kProfileSection)) {
      namesBytes += key.size() + 1;
      if (namesBytes > kKeyNamesBytes) break;
      if (value.size() > kMaxValueLength) value.resize(kMaxValueLength);
      SetByName(key.c_str(), value.c_str());
    }
  }
  if (m_mode != StartMode::Viewer) return;
  for (const TSwitch& option : m_switches) SetByName(option.name.c_str(), option.value.c_str());
}

namespace {

// Writes an integer setting, or removes its key when it holds the default.
void WriteIntSetting(TIniFile& file, int index, int32_t value, int32_t defaultValue) {
  if (value == defaultValue)
    file.Remove(kProfileSection, kIntSettings[index].name);
  else
    file.Set(kProfileSection, kIntSettings[index].name, std::to_string(value));
}

// Strings count as defaults without regard to case (".GIF" is ".gif").
void WriteStrSetting(TIniFile& file, int index, const std::string& value, const std::string& defaultValue) {
  if (value.size() == defaultValue.size() && strcasecmp(value.c_str(), defaultValue.c_str()) == 0)
    file.Remove(kProfileSection, kStrSettings[index].name);
  else
    file.Set(kProfileSection, kStrSettings[index].name, value);
}

} // namespace

bool TProfile::WriteAll() {
  if (m_fileName.empty()) return false;
  TIniFile file(m_fileName);
  file.AddSection(kProfileSection);
  for (int i = 0; i < kIntSettingCount; ++i) {
    m_values[i] = Clamp(kIntSettings[i], m_values[i]);
    WriteIntSetting(file, i, Clamp(kIntSettings[i], ChosenAt(i)), m_defaultValues[i]);
  }
  for (int i = 0; i < kStrSettingCount; ++i) WriteStrSetting(file, i, m_strings[i], m_defaultStrings[i]);
  return file.Save();
}

bool TProfile::WriteOnExit() {
  if (m_fileName.empty()) return false;
  TIniFile file(m_fileName);
  for (IntKey key : {IntKey::AutoResume, IntKey::StartupPassword, IntKey::SlideshowPassword})
    file.Set(kProfileSection, IntSetting(key).name, std::to_string(Chosen(key)));
  for (int i = static_cast<int>(IntKey::GIFEnab); i <= static_cast<int>(IntKey::ZIPEnab); ++i) {
    m_values[i] = Clamp(kIntSettings[i], m_values[i]);
    WriteIntSetting(file, i, Clamp(kIntSettings[i], ChosenAt(i)), m_defaultValues[i]);
  }
  for (int i = 0; i < kStrSettingCount; ++i)
    if (IsExtensionKey(i)) WriteStrSetting(file, i, m_strings[i], m_defaultStrings[i]);
  return file.Save();
}

void TProfile::ResetToDefaults() {
  std::copy(std::begin(m_defaultValues), std::end(m_defaultValues), m_values);
  m_forced.keys.reset();
  std::copy(std::begin(m_defaultStrings), std::end(m_defaultStrings), m_strings);
}

std::string TProfile::ReadString(std::string_view key, std::string_view defaultValue) const {
  if (m_fileName.empty()) return std::string(defaultValue);
  return IniReadString(m_fileName, kProfileSection, key, defaultValue);
}

bool TProfile::WriteString(std::string_view key, const char* value) {
  return !m_fileName.empty() && IniWriteString(m_fileName, kProfileSection, key, value);
}

int32_t TProfile::ReadInt(std::string_view key, int32_t defaultValue) const {
  std::string text = ReadString(key, "");
  long long value = 0;
  if (text.empty() || !LeadingNumber(text.c_str(), value)) return defaultValue;
  return static_cast<int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

bool TProfile::WriteInt(std::string_view key, int32_t value) {
  return WriteString(key, std::to_string(value).c_str());
}

int TProfile::Count() { return kIntSettingCount; }

namespace {
const TIntSetting& Row(int index) { return kIntSettings[std::clamp(index, 0, kIntSettingCount - 1)]; }
} // namespace

const char* TProfile::Name(int index) { return Row(index).name; }
const char* TProfile::Help(int index) { return Row(index).help; }
int32_t TProfile::Min(int index) { return Row(index).min; }
int32_t TProfile::Max(int index) { return Row(index).max; }
int32_t TProfile::Default(int index) { return Row(index).viewerDefault; }

void TProfile::SaveValues() {
  std::copy(std::begin(m_values), std::end(m_values), m_savedValues);
  m_savedForced = m_forced;
  m_hasSavedValues = true;
}

void TProfile::RestoreSavedValues() {
  if (!m_hasSavedValues) return;
  std::copy(std::begin(m_savedValues), std::end(m_savedValues), m_values);
  m_forced = m_savedForced;
  m_hasSavedValues = false;
}

TPlacement LoadPlacement(const TProfile& profile, const TPlacementKeys& keys) {
  TPlacement placement{profile.Get(keys.x), profile.Get(keys.y), profile.Get(keys.w), profile.Get(keys.h), 0};
  if (keys.m != IntKey::Count) placement.m = profile.Get(keys.m);
  return placement;
}

void StorePlacement(TProfile& profile, const TPlacementKeys& keys, const TPlacement& placement) {
  profile.Set(keys.x, placement.x);
  profile.Set(keys.y, placement.y);
  profile.Set(keys.w, placement.w);
  profile.Set(keys.h, placement.h);
  if (keys.m != IntKey::Count) profile.Set(keys.m, placement.m);
}

namespace {

// One axis of ApplyPlacement: the size from thousandths when given, the
// position from thousandths or centred.
void PlaceAxis(int32_t position, int32_t size, int32_t reference, int32_t& start, int32_t& length) {
  if (size > 0) length = static_cast<int32_t>(int64_t{size} * reference / 1000);
  start = position < 0 ? (reference - length) / 2 : static_cast<int32_t>(int64_t{position} * reference / 1000);
}

int32_t Thousandths(int32_t value, int32_t reference) {
  if (reference <= 0) return 0;
  return static_cast<int32_t>(std::clamp<int64_t>(int64_t{value} * 1000 / reference, INT32_MIN, INT32_MAX));
}

} // namespace

TRect ApplyPlacement(const TPlacement& placement, const TRect& current, TSize reference) {
  TRect rect = current;
  PlaceAxis(placement.x, placement.w, reference.width, rect.left, rect.width);
  PlaceAxis(placement.y, placement.h, reference.height, rect.top, rect.height);
  return rect;
}

TShowState ShowStateOf(const TPlacement& placement) {
  if (placement.m > 0) return TShowState::Maximised;
  return placement.m < 0 ? TShowState::Minimised : TShowState::Normal;
}

TPlacement ReadPlacement(const TRect& normal, TShowState state, TSize screen) {
  return {Thousandths(normal.left, screen.width), Thousandths(normal.top, screen.height),
          Thousandths(normal.width, screen.width), Thousandths(normal.height, screen.height),
          static_cast<int32_t>(state)};
}
