#include "app/password.h"

#include <crypt.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "platform/folders.h"
#include "settings/ini_file.h"

namespace {

constexpr std::string_view kSection = "ScreenSaver";
constexpr std::string_view kKey = "Password";

std::string_view Cut(std::string_view typed) { return typed.substr(0, kMaxPasswordLength); }

// Passwords longer than one character are not case-sensitive, as they
// always were: ASCII letters are upper-cased before they are hashed.
std::string Normalised(std::string_view typed) {
  std::string t(Cut(typed));
  if (t.size() > 1)
    for (char& c : t)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return t;
}

std::string StoredValue(const std::string& controlIni) { return IniReadString(controlIni, kSection, kKey, ""); }

// One scrambling step: the character is combined with the key unless the
// result would be a control character or one of the few bytes the old form
// kept out of the file.
uint8_t Scramble(uint8_t key, uint8_t c) {
  const uint8_t r = key ^ c;
  const bool kept = r <= 32 || r == 61 || r == 91 || r == 93 || r == 127 || (r >= 128 && r <= 144) ||
                    (r >= 147 && r <= 159);
  return kept ? c : r;
}

// crypt(3) of typed with the setting (a salt, or a stored hash to check
// against); empty when the library refuses.
std::string Crypt(std::string_view typed, const char* setting) {
  auto data = std::make_unique<crypt_data>();
  const std::string text(typed);
  const char* hashed = crypt_r(text.c_str(), setting, data.get());
  if (!hashed || hashed[0] == '*') return {};
  return hashed;
}

std::string Hash(std::string_view typed) {
  char salt[CRYPT_GENSALT_OUTPUT_SIZE];
  if (!crypt_gensalt_rn(nullptr, 0, nullptr, 0, salt, sizeof salt)) return {};
  return Crypt(typed, salt);
}

// Compares without stopping at the first difference, so the time taken
// tells nothing about how much of a guess was right.
bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  uint8_t difference = 0;
  for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<uint8_t>(a[i] ^ b[i]);
  return difference == 0;
}

bool MatchesStored(const std::string& stored, std::string_view typed) {
  if (stored.empty()) return true;
  if (stored[0] == '$' && SameText(Crypt(Normalised(typed), stored.c_str()), stored)) return true;
  return SameText(LegacyPasswordForm(typed), stored);
}

} // namespace

std::string PasswordFile() { return ConfigFilePath("control.ini"); }

bool PasswordIsSet(const std::string& controlIni) { return !StoredValue(controlIni).empty(); }

bool PasswordMatches(const std::string& controlIni, std::string_view typed) {
  return MatchesStored(StoredValue(controlIni), typed);
}

TSetPasswordResult SetPassword(const std::string& controlIni, std::string_view oldText, std::string_view newText,
                               std::string_view retyped) {
  if (!PasswordMatches(controlIni, oldText)) return TSetPasswordResult::kOldIncorrect;
  if (Normalised(newText) != Normalised(retyped)) return TSetPasswordResult::kNotIdentical;
  const std::string value = newText.empty() ? std::string() : Hash(Normalised(newText));
  if (!newText.empty() && value.empty()) return TSetPasswordResult::kNotSaved;
  // The hash is for the user's eyes only.
  return IniWriteString(controlIni, kSection, kKey, value.c_str(), TIniAccess::OwnerOnly) ? TSetPasswordResult::kDone
                                                                                         : TSetPasswordResult::kNotSaved;
}

std::string LegacyPasswordForm(std::string_view typed) {
  std::string t = Normalised(typed);
  const size_t n = t.size();
  if (n <= 1) return t;
  auto at = [&t](size_t i) { return static_cast<uint8_t>(t[i]); };
  const auto length = static_cast<uint8_t>(n);
  for (size_t i = 0; i < n; ++i) {
    uint8_t c = Scramble(length, at(i));
    c = i == 0 ? Scramble(42, c) : Scramble(at(i - 1), Scramble(static_cast<uint8_t>(i), c));
    t[i] = static_cast<char>(c);
  }
  for (size_t i = n; i-- > 0;) {
    uint8_t c = Scramble(length, at(i));
    c = i == n - 1 ? Scramble(42, c) : Scramble(at(i + 1), Scramble(static_cast<uint8_t>(i), c));
    t[i] = static_cast<char>(c);
  }
  return t;
}

bool PasswordGiven(const std::string& controlIni, const std::function<bool(std::string& typed)>& prompt,
                   const std::function<void()>& incorrect) {
  if (!PasswordIsSet(controlIni)) return true;
  for (;;) {
    std::string typed;
    if (!prompt(typed)) return false;
    if (PasswordMatches(controlIni, typed)) return true;
    incorrect();
  }
}
