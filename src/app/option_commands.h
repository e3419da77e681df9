#pragma once
// The menu commands that are settings: check items that flip a setting,
// radio groups that store the chosen item's value, and prompts that ask for
// a number and keep it inside the setting's range. The window carries out
// what a change means (a new ditherer, the picture shown again).
#include <cstdint>

#include "settings/profile_keys.h"

class Host;
class TProfile;

enum class TOptionKind { Toggle, Radio, Number };

struct TOptionCommand {
  int command;
  TOptionKind kind;
  IntKey key;
  int32_t value;      // a radio item's value
  const char* prompt; // a number's question
};

// The settings command of a menu id, or nullptr.
const TOptionCommand* FindOptionCommand(int id);

// Flips, sets or asks; true when the setting changed.
bool ApplyOptionCommand(const TOptionCommand& option, TProfile& settings, Host& host);

// A toggle is checked while its setting is not 0, a radio item while the
// setting holds its value; numbers carry no check.
bool OptionChecked(const TOptionCommand& option, const TProfile& settings);
