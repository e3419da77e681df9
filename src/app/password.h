#pragma once
// The one password of the program, asked for at start-up and when a running
// slide show is interrupted, and shared with the screen saver. It lives in
// "control.ini" of the configuration folder, section "ScreenSaver", key
// "Password", as a salted hash made by crypt(3) (yescrypt). An empty or
// missing value means no password is set. A password of more than one
// character does not depend on the case of its ASCII letters. Setting the
// password leaves the file readable and writable by its owner only (0600).
//
// Older configurations hold the password in a reversible transformed form;
// such a value is still accepted, and is replaced by a hash the next time
// the password is set.
#include <functional>
#include <string>
#include <string_view>

inline constexpr const char* kIncorrectPasswordMessage = "Incorrect password, please try again.";
inline constexpr const char* kPasswordsDifferMessage = "These two passwords are not identical.";
// The longest password the dialogs take; longer texts are cut there.
inline constexpr size_t kMaxPasswordLength = 20;

// The file the password is kept in: "control.ini" of the configuration folder.
std::string PasswordFile();

// True when a password is stored in the file.
bool PasswordIsSet(const std::string& controlIni);

// True when no password is stored or typed is the stored one.
bool PasswordMatches(const std::string& controlIni, std::string_view typed);
// The password prompt of the start and of an interrupted show: asks through
// prompt until the stored password is typed (true) or the prompt is
// cancelled (false), calling incorrect after each wrong one. True at once
// when no password is stored.
bool PasswordGiven(const std::string& controlIni, const std::function<bool(std::string& typed)>& prompt,
                   const std::function<void()>& incorrect);

enum class TSetPasswordResult {
  kDone,
  kOldIncorrect, // the old password typed is not the stored one
  kNotIdentical, // the new password and its retyped copy differ
  kNotSaved,     // the file could not be written; the old password stays
};

// Checks the old password when one is stored, then the retyped copy, and
// stores the hash of the new password; an empty new password removes it.
TSetPasswordResult SetPassword(const std::string& controlIni, std::string_view oldText, std::string_view newText,
                               std::string_view retyped);

// The transformed form older configurations stored: letters upper-cased,
// then scrambled in a forward and a backward pass; a single character is
// kept as typed.
std::string LegacyPasswordForm(std::string_view typed);
