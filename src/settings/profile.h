#pragma once
// TProfile: every option of the program, 243 integer and 119 string settings
// with their defaults, ranges and help texts, kept in one section of an ini
// file. Readers and writers take it as their options record.
#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "settings/profile_keys.h"
#include "platform/host.h"

// 0 viewer, 1 screen saver, 2 screen-saver preview, 3 screen-saver
// configuration opened from the viewer.
enum class StartMode : int { Viewer = 0, Saver = 1, Preview = 2, SaverConfig = 3 };

// The section of the settings file that holds every setting.
inline constexpr const char* kProfileSection = "Zerbalin";

// A settings switch of the command line: "-Name=value" or "-Name" (an empty
// value).
struct TSwitch {
  std::string name;
  std::string value;
};

// Reads a settings switch: '-', a name of letters and digits that begins with
// a letter, then optionally '=' and a value ("-Rand", "-OutputWidth=640").
// Anything else is not a switch: on Linux "/home/me/a.gif" is an absolute
// file name, "-" stands for standard input or output, and "--write" is a
// keyword of the command that takes it.
bool ParseSwitch(const char* argument, TSwitch& option);

// What applying a command-line switch came to.
enum class TSwitchResult { Applied, NoSuchSetting, NotANumber };

// What loading the settings depends on.
struct TProfileStart {
  StartMode mode = StartMode::Viewer;
  // The program file as started (argv[0]); the settings file is named after
  // it, so a copy of the program under another name has its own settings.
  std::string programName = "zerbalin";
  // The settings-key switches of the command line, keywords already taken
  // out. They are applied after the file, and only in the viewer.
  std::vector<TSwitch> switches;
  // The install switch turns the 3-D controls setting off.
  bool install = false;
};

// The settings file of a start mode: "<configuration folder>/<program file
// name without extension>.ini", and "zersav32.ini" there for the screen-saver
// configuration opened from the viewer.
std::string SettingsFilePath(StartMode mode, const std::string& programName);

// The default of a string setting (the starting file spec is computed from
// the user's pictures folder).
std::string DefaultString(StrKey key);

class TProfile {
public:
  // Viewer defaults, no file: what tests and tools start from.
  TProfile();
  // The settings of a start mode: the mode's defaults adjusted to the
  // machine (display depth and memory of the host), then the settings file,
  // then the command-line switches. The defaults in force before the file
  // was read are what later writes compare against.
  TProfile(const TProfileStart& start, const Host& host);

  int32_t Get(IntKey key) const { return m_values[static_cast<int>(key)]; }
  // Stores the value clamped to the setting's range: the user's choice, or a
  // step of the program that the settings file is to keep. A value forced
  // before (Force) gives way to it.
  void Set(IntKey key, int32_t value);
  // A value a mode of the program imposes for a while (a batch run, a
  // conversion, a thumbnail sheet, the clipboard event's action, the saver's
  // show): it holds for the rest of the session, but the settings file keeps
  // the value the setting had when it was first forced, until Set gives the
  // setting a value of its own.
  void Force(IntKey key, int32_t value);
  bool IsForced(IntKey key) const { return m_forced.keys[static_cast<int>(key)]; }
  // The value the settings file gets: the user's, beneath any forced one.
  int32_t Chosen(IntKey key) const { return ChosenAt(static_cast<int>(key)); }
  // One setting as it stands, forced or not, to be given back after it was
  // forced for a single action.
  struct TKeyState {
    IntKey key;
    int32_t value;
    bool forced;
    int32_t chosen;
  };
  TKeyState StateOf(IntKey key) const;
  void Restore(const TKeyState& state);
  // Address of a value, for records that keep references to settings.
  const int32_t* Ref(IntKey key) const { return &m_values[static_cast<int>(key)]; }
  const std::string& GetString(StrKey key) const { return m_strings[static_cast<int>(key)]; }
  void SetString(StrKey key, const std::string& value);

  // Leading-part match, integers first; false when no setting matches.
  bool SetByName(const char* name, const char* value);
  // A switch typed by the user, matched as SetByName matches, but an integer
  // setting takes only a whole decimal number (or no value, meaning 1): a
  // mistyped "-OutputWidth=abc" is refused instead of quietly becoming 1.
  // Values read from the settings file keep SetByName's lenient reading.
  TSwitchResult ApplySwitch(const TSwitch& option);

  // Applies every key of the settings section with SetByName, then (in the
  // viewer) the command-line switches. Keys matching no setting are left
  // alone; settings absent from the file keep their values.
  void Read();
  // Writes every setting whose chosen value (Chosen) differs from its
  // default and removes the key of every other. False when the file could not be written (the settings
  // then stay unsaved; nothing is reported).
  bool WriteAll();
  // What is written at exit when RememberOptions is off: the resume and
  // password switches, the file-type associations and the extension lists.
  bool WriteOnExit();
  // Every value and string back to the defaults in force at start; nothing
  // stays forced.
  void ResetToDefaults();

  // Direct access to keys of the settings section outside the tables
  // ("Directory", "CurrentImage", "FilterFile0", ...). A null value removes
  // the key. Integer reads take the leading decimal number of the text.
  std::string ReadString(std::string_view key, std::string_view defaultValue) const;
  bool WriteString(std::string_view key, const char* value);
  int32_t ReadInt(std::string_view key, int32_t defaultValue = 0) const;
  bool WriteInt(std::string_view key, int32_t value);

  // Table access for the options dialog: integer settings 0..Count()-1.
  static int Count();
  // The integer setting a switch name selects by the leading-part rule, or
  // -1 when it selects none.
  static int IntIndexOf(const char* name);
  static const char* Name(int index);
  static const char* Help(int index);
  static int32_t Min(int index);
  static int32_t Max(int index);
  static int32_t Default(int index); // the viewer default

  // The default a setting is compared against when written.
  int32_t SnapshotValue(IntKey key) const { return m_defaultValues[static_cast<int>(key)]; }

  // The copy of all integers held while thumbnail mode is on: SaveValues
  // takes it, RestoreSavedValues puts every integer back, forced or not as
  // it was, and drops it.
  bool HasSavedValues() const { return m_hasSavedValues; }
  void SaveValues();
  void RestoreSavedValues();

  const std::string& FileName() const { return m_fileName; }
  StartMode Mode() const { return m_mode; }

private:
  void SetDefaults(StartMode mode);
  void AdjustToMachine(const Host& host);
  void TakeSnapshot();
  int32_t ChosenAt(int index) const { return m_forced.keys[index] ? m_forced.chosen[index] : m_values[index]; }

  static constexpr int kIntCount = static_cast<int>(IntKey::Count);
  // The settings a mode forced, each with the value the user had chosen.
  struct TForced {
    std::bitset<kIntCount> keys;
    int32_t chosen[kIntCount] = {};
  };

  int32_t m_values[kIntCount];
  std::string m_strings[static_cast<int>(StrKey::Count)];
  std::string m_fileName;
  StartMode m_mode = StartMode::Viewer;
  std::vector<TSwitch> m_switches;
  int32_t m_defaultValues[static_cast<int>(IntKey::Count)];
  std::string m_defaultStrings[static_cast<int>(StrKey::Count)];
  TForced m_forced;
  int32_t m_savedValues[kIntCount];
  TForced m_savedForced;
  bool m_hasSavedValues = false;
};

// Window placement: five settings X, Y, W, H, M. X and W are thousandths of
// the reference width, Y and H of the reference height; M is 1 maximised,
// -1 minimised, 0 normal. The dialogs keep no M.
struct TPlacement {
  int32_t x = 0;
  int32_t y = 0;
  int32_t w = 1000;
  int32_t h = 1000;
  int32_t m = 0;
};

enum class TShowState { Minimised = -1, Normal = 0, Maximised = 1 };

// The keys of one window's placement; m is IntKey::Count when there is none.
struct TPlacementKeys {
  IntKey x, y, w, h, m;
};
inline constexpr TPlacementKeys kImagePlacement{IntKey::XImage, IntKey::YImage, IntKey::WImage, IntKey::HImage,
                                                IntKey::MImage};
inline constexpr TPlacementKeys kCommentsPlacement{IntKey::XComments, IntKey::YComments, IntKey::WComments,
                                                   IntKey::HComments, IntKey::MComments};
inline constexpr TPlacementKeys kLogPlacement{IntKey::XLog, IntKey::YLog, IntKey::WLog, IntKey::HLog, IntKey::MLog};
inline constexpr TPlacementKeys kOpenPlacement{IntKey::XOpen, IntKey::YOpen, IntKey::WOpen, IntKey::HOpen,
                                               IntKey::Count};
inline constexpr TPlacementKeys kSavePlacement{IntKey::XSave, IntKey::YSave, IntKey::WSave, IntKey::HSave,
                                               IntKey::Count};
inline constexpr TPlacementKeys kSoundPlacement{IntKey::XSound, IntKey::YSound, IntKey::WSound, IntKey::HSound,
                                                IntKey::MSound};
inline constexpr TPlacementKeys kMoviePlacement{IntKey::XMovie, IntKey::YMovie, IntKey::WMovie, IntKey::HMovie,
                                                IntKey::MMovie};

TPlacement LoadPlacement(const TProfile& profile, const TPlacementKeys& keys);
// Stores each part clamped to its setting's range.
void StorePlacement(TProfile& profile, const TPlacementKeys& keys, const TPlacement& placement);

// The rectangle a placement gives within a reference area (the screen, or
// the main window's client area for the media windows): a size of 0 keeps
// the current size, a negative position centres the window.
TRect ApplyPlacement(const TPlacement& placement, const TRect& current, TSize reference);
TShowState ShowStateOf(const TPlacement& placement);
// The placement of a window's normal (not maximised) rectangle on a screen.
TPlacement ReadPlacement(const TRect& normal, TShowState state, TSize screen);
