#include "app/option_commands.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>

#include "platform/host.h"
#include "settings/profile.h"

namespace {

constexpr TOptionCommand Toggle(int command, IntKey key) { return {command, TOptionKind::Toggle, key, 0, nullptr}; }
constexpr TOptionCommand Radio(int command, IntKey key, int32_t value) {
  return {command, TOptionKind::Radio, key, value, nullptr};
}
constexpr TOptionCommand Number(int command, IntKey key, const char* prompt) {
  return {command, TOptionKind::Number, key, 0, prompt};
}

constexpr TOptionCommand kOptionCommands[] = {
    Toggle(401, IntKey::SoundEnable),
    Toggle(402, IntKey::SoundSynchronous),
    Toggle(405, IntKey::SoundLoop),
    Toggle(501, IntKey::MovieEnable),
    Toggle(502, IntKey::MovieSynchronous),
    Toggle(503, IntKey::MovieLoop),
    Toggle(804, IntKey::RememberOptions),
    Toggle(807, IntKey::ThumbnailsRandom),
    Toggle(808, IntKey::ThumbnailsAnnotate),
    Toggle(809, IntKey::ThumbnailsOutline),
    Number(810, IntKey::ThumbnailsAcross, "Number of thumbnails to display horizontally:"),
    Number(811, IntKey::ThumbnailsDown, "Number of thumbnails to display vertically:"),
    Toggle(813, IntKey::FillWindow),
    Toggle(814, IntKey::AlwaysOnTop),
    Toggle(815, IntKey::DisplayInColor),
    Toggle(829, IntKey::GIFInterlaced),
    Toggle(830, IntKey::GIFTransparent),
    Number(831, IntKey::GIFColors, "Maximum number of colors in GIF file:"),
    Toggle(832, IntKey::GIFLZWEnable),
    Toggle(834, IntKey::JPEGTwoPass),
    Toggle(835, IntKey::JPEGUseDithering),
    Toggle(836, IntKey::JPEGUseMonochrome),
    Toggle(837, IntKey::JPEGOutputProgressive),
    Toggle(838, IntKey::JPEGOutputMonochrome),
    Toggle(839, IntKey::JPEGOutputOptimize),
    Number(840, IntKey::JPEGOutputQuality, "Output Quality, 0-100 (75 is nominal):"),
    Number(841, IntKey::JPEGOutputSmoothing, "Output Smoothing, 0-100 (0 is none):"),
    Number(842, IntKey::JPEGKBytesMemory, "KBytes of memory for buffering, 1-32767:"),
    Radio(844, IntKey::TIFFCompression, 1),
    Radio(845, IntKey::TIFFCompression, 2),
    Radio(846, IntKey::TIFFCompression, 3),
    Radio(847, IntKey::TIFFCompression, 4),
    Radio(848, IntKey::TIFFCompression, 5),
    Radio(849, IntKey::TIFFCompression, 6),
    Toggle(851, IntKey::QuickLook),
    Toggle(852, IntKey::SortPalette),
    Number(854, IntKey::OutputWidth, "Output width (0 is current image width):"),
    Number(855, IntKey::OutputHeight, "Output height (0 is current image height):"),
    Number(856, IntKey::EncodeLines, "Maximum number of lines per uuencoded file:"),
    Radio(858, IntKey::DitherQuality, 1),
    Radio(859, IntKey::DitherQuality, 2),
    Radio(860, IntKey::DitherQuality, 3),
    Radio(862, IntKey::Effect, 1),
    Radio(863, IntKey::Effect, 2),
    Radio(864, IntKey::Effect, 3),
    Radio(865, IntKey::Effect, 4),
    Radio(866, IntKey::Effect, 5),
    Radio(867, IntKey::Effect, 6),
    Radio(868, IntKey::Effect, 7),
    Radio(869, IntKey::Effect, 8),
    Radio(870, IntKey::Effect, 9),
    Radio(871, IntKey::Effect, 10),
    Radio(872, IntKey::Effect, 11),
    Radio(873, IntKey::Effect, 12),
    Toggle(875, IntKey::AutoScale),
    Toggle(876, IntKey::AutoFit),
    Toggle(877, IntKey::AutoCrop),
    Toggle(878, IntKey::AutoDither),
    Toggle(879, IntKey::AutoComments),
    Toggle(880, IntKey::AutoSearch),
    Toggle(881, IntKey::AutoResume),
    Toggle(883, IntKey::StartupPassword),
    Toggle(884, IntKey::SlideshowPassword),
};

// Asks for the setting's new value and keeps it inside its range; false
// when the question was cancelled.
bool AskNumber(const TOptionCommand& option, TProfile& settings, Host& host) {
  std::string value = std::to_string(settings.Get(option.key));
  if (!host.Prompt("Zerbalin", option.prompt, value)) return false;
  const long number = std::strtol(value.substr(0, 11).c_str(), nullptr, 10);
  const int index = static_cast<int>(option.key);
  settings.Set(option.key, static_cast<int32_t>(std::clamp<long>(number, TProfile::Min(index), TProfile::Max(index))));
  return true;
}

} // namespace

const TOptionCommand* FindOptionCommand(int id) {
  const auto found = std::find_if(std::begin(kOptionCommands), std::end(kOptionCommands),
                                  [id](const TOptionCommand& option) { return option.command == id; });
  return found == std::end(kOptionCommands) ? nullptr : found;
}

bool ApplyOptionCommand(const TOptionCommand& option, TProfile& settings, Host& host) {
  const int32_t before = settings.Get(option.key);
  switch (option.kind) {
  case TOptionKind::Toggle: settings.Set(option.key, before == 0); break;
  case TOptionKind::Radio: settings.Set(option.key, option.value); break;
  case TOptionKind::Number:
    if (!AskNumber(option, settings, host)) return false;
    break;
  }
  return settings.Get(option.key) != before;
}

bool OptionChecked(const TOptionCommand& option, const TProfile& settings) {
  switch (option.kind) {
  case TOptionKind::Toggle: return settings.Get(option.key) != 0;
  case TOptionKind::Radio: return settings.Get(option.key) == option.value;
  case TOptionKind::Number: return false;
  }
  return false;
}
