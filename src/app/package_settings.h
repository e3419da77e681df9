#pragma once
// Hands the settings that the file package consults over to the package. The
// package sits above the settings and never reads the profile itself, so
// whoever owns the settings calls this: the main window when it starts, the
// command-line tool before each command.
#include <cstdint>

class TProfile;

// The AsyncWindow value of a process that has no window but acts for a user
// who is present, as the command-line tool does. The package's rule "move to
// the Trash when EnableRecycleBin is on and AsyncWindow is not 0" was made
// for the viewer, which always has its window; a user who deletes with the
// tool expects the same settings to protect the file, so the tool must not
// hand over 0. It is never the handle of a real window, so no answer to an
// asynchronous host-name lookup is ever posted to it: with no message loop to
// deliver one, lookups block instead.
inline constexpr int32_t kWindowlessUserProcess = -1;

// The message number that carries the answer of an asynchronous host-name
// lookup to the main window.
inline constexpr int32_t kAsyncLookupMessage = 1327;

// The header written before and after each section of an encoded file: the
// section number, the number of sections and the file name.
inline constexpr const char* kEncodeHeader = "\r\nsection %d/%d   file %s   [ Zerbalin 6.0 ]\r\n\r\n";

// Sets the package's named parameters from the settings: the layer switches
// EnableFILIO, EnableGIFIO, EnableHTMIO, EnableMEMIO, EnableMULIO, EnableSLIIO,
// EnableTIFIO, EnableURLIO, EnableUUEIO and EnableZIPIO (EnablePWPIO is not
// handed over: the package keeps its own default for it), CacheSize and
// CacheTime (which close every cached stream), EnableRecycleBin,
// EnableHiddenFiles and EnableSystemFiles. AsyncWindow becomes asyncWindow:
// the main window's handle, or kWindowlessUserProcess. AsyncMessage becomes
// kAsyncLookupMessage when a real window was given and EnableAsyncWinsock is
// on, else 0 (lookups block). EncodeHeader becomes kEncodeHeader. The ZIP
// password is not a setting: zipPassword replaces it when given (the
// command line's ZipPassword keyword), and nullptr keeps the one the package
// holds.
void HandSettingsToPackage(const TProfile& profile, int32_t asyncWindow, const char* zipPassword = nullptr);
