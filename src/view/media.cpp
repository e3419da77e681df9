#include "view/media.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/log_sink.h"
#include "filepkg/filepkg.h"

namespace {

constexpr const char* kUnknownDevice = "unknown_mci_driver";
constexpr const char* kNoDeviceText = "The specified device is not open or is not recognized by MCI.";
constexpr const char* kMciHint = "Press F1 and choose <MCI Drivers> for help.";
// The longest line of a command script; longer lines are cut.
constexpr size_t kMaxScriptLine = 149;
// Louder and Softer move each channel by this much.
constexpr int32_t kVolumeStep = 4096;

struct TExtensionType {
  const char* extension;
  const char* type;
};

// The extensions the media service of this system plays, with the device
// type each is opened as. The players decode by content, so the type only
// says whether a picture comes with the sound.
constexpr TExtensionType kSystemTypes[] = {
    {"wav", "waveaudio"}, {"au", "waveaudio"},  {"snd", "waveaudio"},   {"aif", "waveaudio"},
    {"aiff", "waveaudio"}, {"mpa", "waveaudio"}, {"mp2", "waveaudio"},   {"mp3", "waveaudio"},
    {"ogg", "waveaudio"}, {"flac", "waveaudio"}, {"avi", "avivideo"},    {"mpg", "mpegvideo"},
    {"mpe", "mpegvideo"}, {"mpeg", "mpegvideo"}, {"mov", "qtwvideo"},    {"qt", "qtwvideo"},
    {"mp4", "mpegvideo"}, {"mkv", "mpegvideo"},  {"webm", "mpegvideo"},
};

// Used for extensions the system's table does not name.
constexpr TExtensionType kFallbackTypes[] = {
    {"mid", "sequencer"}, {"wav", "waveaudio"},  {"avi", "avivideo"},   {"mpg", "mpegvideo"},
    {"mmm", "mmmovie"},   {"mov", "qtwvideo"},   {"fli", "animation1"}, {"flc", "animation2"},
};

template <size_t N>
const char* Lookup(const TExtensionType (&table)[N], const std::string& extension) {
  for (const TExtensionType& entry : table)
    if (strcasecmp(entry.extension, extension.c_str()) == 0) return entry.type;
  return nullptr;
}

template <size_t N>
bool NamesType(const TExtensionType (&table)[N], const std::string& type) {
  return std::any_of(std::begin(table), std::end(table),
                     [&type](const TExtensionType& entry) { return strcasecmp(entry.type, type.c_str()) == 0; });
}

// The device types a player exists for: every type of the tables.
bool KnownDeviceType(const std::string& type) { return NamesType(kSystemTypes, type) || NamesType(kFallbackTypes, type); }

// The word in double quotes that starts at `at`, up to the next lone '"'
// (or the end); "" inside stands for one '"' (see MciQuoted). `at` moves past
// the word.
std::string QuotedWord(const std::string& command, size_t& at) {
  std::string word;
  for (++at; at < command.size(); ++at) {
    if (command[at] == '"' && (at + 1 == command.size() || command[at + 1] != '"')) {
      ++at;
      break;
    }
    word += command[at];
    if (command[at] == '"') ++at;
  }
  return word;
}

// Splits a command into words; a word in double quotes may hold spaces.
std::vector<std::string> Words(const std::string& command) {
  std::vector<std::string> words;
  size_t at = 0;
  while (at < command.size()) {
    if (std::isspace(static_cast<unsigned char>(command[at]))) {
      ++at;
    } else if (command[at] == '"') {
      words.push_back(QuotedWord(command, at));
    } else {
      size_t end = at;
      while (end < command.size() && !std::isspace(static_cast<unsigned char>(command[end]))) ++end;
      words.push_back(command.substr(at, end - at));
      at = end;
    }
  }
  return words;
}

bool Is(const std::string& word, const char* keyword) { return strcasecmp(word.c_str(), keyword) == 0; }

// The alias an open command gives its device: the word after "alias".
std::string AliasOf(const std::string& openCommand) {
  const std::vector<std::string> words = Words(openCommand);
  const auto found = std::find_if(words.begin(), words.end(), [](const std::string& word) { return Is(word, "alias"); });
  return found != words.end() && found + 1 != words.end() ? *(found + 1) : "";
}

std::string ExtensionOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return path.substr(dot + 1);
}

// Copies a stream to a new file in the temporary folder; the file's name
// keeps the extension so that players that look at names see the type.
// Empty when the copy could not be made (nothing is left behind then).
std::string CopyToTemporary(TPkgStream* stream, const std::string& extension) {
  const char* folder = std::getenv("TMPDIR");
  std::string path = std::string(folder && *folder ? folder : "/tmp") + "/ZERXXXXXX";
  const std::string suffix = extension.empty() ? "" : "." + extension;
  path += suffix;
  const int fd = mkstemps(path.data(), static_cast<int>(suffix.size()));
  if (fd < 0) return "";
  char buffer[16384];
  bool ok = true;
  for (size_t got; ok && (got = PkgRead(buffer, 1, sizeof buffer, stream)) > 0;)
    ok = ::write(fd, buffer, got) == static_cast<ssize_t>(got);
  ok = ::close(fd) == 0 && ok;
  if (ok) return path;
  ::unlink(path.c_str());
  return "";
}

struct TKindSettings {
  IntKey loop;
  StrKey open, setup, seek, play, close;
};

constexpr TKindSettings kSoundSettings{IntKey::SoundLoop,      StrKey::WAVOpenCommand, StrKey::WAVSetupCommand,
                                       StrKey::WAVSeekCommand, StrKey::WAVPlayCommand, StrKey::WAVCloseCommand};
constexpr TKindSettings kMovieSettings{IntKey::MovieLoop,      StrKey::AVIOpenCommand, StrKey::AVISetupCommand,
                                       StrKey::AVISeekCommand, StrKey::AVIPlayCommand, StrKey::AVICloseCommand};

const TKindSettings& SettingsOf(TMediaKind kind) { return kind == TMediaKind::Movie ? kMovieSettings : kSoundSettings; }

} // namespace

std::string FillTemplate(const std::string& format, std::initializer_list<std::string> arguments) {
  std::string text;
  auto next = arguments.begin();
  for (size_t at = 0; at < format.size(); ++at) {
    if (format[at] == '%' && at + 1 < format.size() && format[at + 1] == 's') {
      if (next != arguments.end()) text += *next++;
      ++at;
    } else if (format[at] == '%' && at + 1 < format.size() && format[at + 1] == '%') {
      text += '%';
      ++at;
    } else {
      text += format[at];
    }
  }
  return text;
}

std::string MciQuoted(const std::string& name) {
  std::string quoted;
  for (const char c : name) quoted += c == '"' ? std::string(2, '"') : std::string(1, c);
  return quoted;
}

std::string MediaDeviceType(const std::string& extension) {
  if (const char* type = Lookup(kSystemTypes, extension)) return type;
  if (const char* type = Lookup(kFallbackTypes, extension)) return type;
  return kUnknownDevice;
}

// TMciInterpreter ---------------------------------------------------------------

TMciInterpreter::TMciInterpreter(TPlayerFactory factory, std::function<void()> notify)
    : m_factory(std::move(factory)), m_notify(std::move(notify)) {}

bool TMciInterpreter::Send(const std::string& command, std::string& error) {
  const std::vector<std::string> words = Words(command);
  if (words.empty()) {
    error = "The specified command was not recognized.";
    return false;
  }
  const std::string& verb = words[0];
  if (Is(verb, "open")) return Open(words, error);
  if (words.size() < 2) {
    error = "A parameter is missing from the command.";
    return false;
  }
  const std::string& alias = words[1];
  if (Is(verb, "close")) {
    if (Is(alias, "all")) {
      while (!m_devices.empty()) Close(m_devices.begin()->first);
      return true;
    }
    if (Close(alias)) return true;
    error = kNoDeviceText;
    return false;
  }
  const auto found = m_devices.find(alias);
  if (found == m_devices.end()) {
    error = kNoDeviceText;
    return false;
  }
  TDevice& device = found->second;
  if (Is(verb, "play")) return Play(device, alias, words.size() > 2 ? words[2] : "", error);
  if (Is(verb, "seek") && words.size() > 3 && Is(words[2], "to") && Is(words[3], "start")) {
    if (device.notifyPending) Notify(alias, device, TNotifyResult::Aborted);
    device.playing = false;
    return device.player->Rewind(error);
  }
  if (Is(verb, "setaudio") && words.size() > 4 && Is(words[2], "volume") && Is(words[3], "to")) {
    device.volume = std::clamp(std::atoi(words[4].c_str()), 0, 1000);
    ApplyVolume(device);
    return true;
  }
  error = "The specified command was not recognized.";
  return false;
}

bool TMciInterpreter::Open(const std::vector<std::string>& words, std::string& error) {
  std::string file, type, alias;
  for (size_t i = 1; i < words.size(); ++i) {
    if (Is(words[i], "type") && i + 1 < words.size())
      type = words[++i];
    else if (Is(words[i], "alias") && i + 1 < words.size())
      alias = words[++i];
    else if (file.empty() && !Is(words[i], "wait") && !Is(words[i], "shareable"))
      file = words[i];
  }
  if (file.empty()) {
    error = "A file name is missing from the command.";
    return false;
  }
  if (alias.empty()) alias = file;
  if (m_devices.count(alias)) {
    error = "The specified alias is already being used in this application.";
    return false;
  }
  if (type.empty()) type = MediaDeviceType(ExtensionOf(file));
  std::unique_ptr<TMediaPlayer> player = KnownDeviceType(type) ? m_factory(type) : nullptr;
  if (!player) {
    error = "The specified device is not installed on the system.";
    return false;
  }
  if (!player->Open(file, error)) return false;
  TDevice& device = m_devices[alias];
  device.player = std::move(player);
  ApplyVolume(device);
  return true;
}

bool TMciInterpreter::Play(TDevice& device, const std::string& alias, const std::string& flag, std::string& error) {
  if (device.notifyPending) Notify(alias, device, TNotifyResult::Superseded);
  if (!device.player->Play(error)) return false;
  if (Is(flag, "wait")) {
    const bool ended = device.player->WaitForEnd(error);
    device.playing = false;
    return ended;
  }
  device.playing = true;
  device.notifyPending = Is(flag, "notify");
  return true;
}

bool TMciInterpreter::Close(const std::string& alias) {
  const auto found = m_devices.find(alias);
  if (found == m_devices.end()) return false;
  if (found->second.notifyPending) Notify(alias, found->second, TNotifyResult::Aborted);
  m_devices.erase(found);
  return true;
}

void TMciInterpreter::Notify(const std::string& alias, TDevice& device, TNotifyResult result) {
  device.notifyPending = false;
  m_notifications.push_back({alias, result});
  if (m_notify) m_notify();
}

bool TMciInterpreter::Poll() {
  bool playing = false;
  for (auto& [alias, device] : m_devices) {
    if (!device.playing) continue;
    std::string error;
    const std::optional<bool> end = device.player->TakeEnd(error);
    if (!end) {
      playing = true;
      continue;
    }
    device.playing = false;
    if (!*end) LogMessage("err: %s", error.c_str());
    if (device.notifyPending) Notify(alias, device, *end ? TNotifyResult::Successful : TNotifyResult::Failure);
  }
  return playing;
}

std::deque<TMciInterpreter::TNotification> TMciInterpreter::TakeNotifications() {
  return std::exchange(m_notifications, {});
}

void TMciInterpreter::SetVolume(uint32_t volume) {
  m_volume = volume;
  for (auto& [alias, device] : m_devices) ApplyVolume(device);
}

// The players have one loudness: the mean of the two channels, scaled by the
// device's own volume.
void TMciInterpreter::ApplyVolume(TDevice& device) const {
  const double master = ((m_volume & 0xFFFF) + (m_volume >> 16)) / (2.0 * 65535.0);
  device.player->SetVolume(master * device.volume / 1000.0);
}

// TMedia -------------------------------------------------------------------------

TMedia::TMedia(TProfile& settings, TMciInterpreter& mci, TMediaWindow window)
    : m_settings(settings), m_mci(mci), m_window(std::move(window)) {}

TMedia::~TMedia() {
  Stop(TMediaKind::Sound);
  Stop(TMediaKind::Movie);
  for (TKindState& state : m_state) RemoveTemporary(state);
}

// Commands that are empty or begin with '#', '!' or '/' are remarks: they
// count as done without being sent.
bool TMedia::SendCommand(const std::string& command) {
  LogMessage("MCI: %s", command.c_str());
  if (command.empty() || command[0] == '#' || command[0] == '!' || command[0] == '/') return true;
  std::string error;
  if (m_mci.Send(command, error)) return true;
  LogMessage("err: %s", error.c_str());
  return false;
}

bool TMedia::SendTemplate(StrKey format, const std::string& argument) {
  const std::string& text = m_settings.GetString(format);
  if (text.empty()) return true;
  return SendCommand(FillTemplate(text, {argument}));
}

void TMedia::RemoveTemporary(TKindState& state) {
  if (!state.temporary.empty()) ::unlink(state.temporary.c_str());
  state.temporary.clear();
}

void TMedia::PumpTenTimes() {
  for (int i = 0; i < 10; ++i)
    if (m_window.pumpMessages) m_window.pumpMessages();
}

void TMedia::PlaySound(const std::string& name) {
  Stop(TMediaKind::Sound);
  PumpTenTimes();
  const std::string extension = ExtensionOf(name);
  if (strcasecmp(extension.c_str(), "mci") == 0)
    PlayScript(name);
  else if (strcasecmp(extension.c_str(), "wav") == 0 && m_settings.Get(IntKey::SoundSynchronous))
    PlayWaveToEnd(name);
  else
    PlayFile(name, m_settings.Get(IntKey::SoundSynchronous) != 0, TMediaKind::Sound);
}

void TMedia::PlayMovie(const std::string& name) {
  Stop(TMediaKind::Movie);
  PumpTenTimes();
  if (m_settings.Get(IntKey::AlwaysOnTop) && m_window.leaveTopmost) m_window.leaveTopmost();
  PlayFile(name, m_settings.Get(IntKey::MovieSynchronous) != 0, TMediaKind::Movie);
}

void TMedia::PlayFile(const std::string& path, bool synchronous, TMediaKind kind) {
  const TKindSettings& keys = SettingsOf(kind);
  TKindState& state = State(kind);
  state.playing = false;
  RemoveTemporary(state);
  // A file that is not on the disk (a member of an archive, a download) is
  // played from a copy; the players read only disk files.
  if (TPkgStream* stream = PkgOpen(path.c_str(), "rb")) {
    if (std::strncmp(stream->info.layerId, "fil", 3) != 0) state.temporary = CopyToTemporary(stream, ExtensionOf(path));
    PkgClose(stream, kPkgKeep);
  }
  const std::string file = state.temporary.empty() ? path : state.temporary;
  const std::string& openFormat = m_settings.GetString(keys.open);
  if (!openFormat.empty() &&
      !SendCommand(FillTemplate(openFormat, {MciQuoted(file), MediaDeviceType(ExtensionOf(path))}))) {
    if (m_window.showLog) m_window.showLog();
    LogMessage("%s", kMciHint);
    RemoveTemporary(state);
    return;
  }
  if (SendTemplate(keys.setup, "") && SendTemplate(keys.play, synchronous ? "wait" : "notify") && !synchronous) {
    state.playing = true;
    return;
  }
  SendTemplate(keys.close, "");
  RemoveTemporary(state);
}

// A script of commands, one a line: characters below 32 end the line (CR, LF,
// NUL) or are dropped, empty lines are skipped. The first failure closes the
// sound and ends the script.
void TMedia::PlayScript(const std::string& path) {
  TPkgStream* stream = PkgOpen(path.c_str(), "rb");
  if (!stream) {
    LogMessage("err: %s", "The script cannot be opened.");
    return;
  }
  TKindState& state = State(TMediaKind::Sound);
  std::string line;
  bool failed = false;
  auto sendLine = [&] {
    if (line.empty()) return;
    if (SendCommand(line)) {
      state.playing = true;
    } else {
      SendTemplate(StrKey::WAVCloseCommand, "");
      state.playing = false;
      failed = true;
    }
    line.clear();
  };
  for (int c; !failed && (c = PkgGetByte(stream)) >= 0;) {
    if (c == '\r' || c == '\n' || c == 0)
      sendLine();
    else if (c >= 32 && line.size() < kMaxScriptLine)
      line += static_cast<char>(c);
  }
  if (!failed) sendLine();
  PkgClose(stream, kPkgKeep);
}

// A wave file played to its end with no command strings, as the system's
// simple sound call does; it leaves nothing playing.
void TMedia::PlayWaveToEnd(const std::string& path) {
  const std::string alias = "zerbalin_wave";
  std::string error;
  bool played = m_mci.Send(FillTemplate("open \"%s\" type waveaudio alias %s", {MciQuoted(path), alias}), error);
  if (played) {
    played = m_mci.Send("play " + alias + " wait", error);
    m_mci.Send("close " + alias, error);
  }
  if (!played) LogMessage("err: %s", error.c_str());
}

void TMedia::Stop(TMediaKind kind) {
  TKindState& state = State(kind);
  if (!state.playing) return;
  SendTemplate(SettingsOf(kind).close, "");
  RemoveTemporary(state);
  state.playing = false;
}

// Seeks to the start and plays again; when either fails the kind is closed.
void TMedia::Replay(TMediaKind kind) {
  const TKindSettings& keys = SettingsOf(kind);
  if (SendTemplate(keys.seek, "") && SendTemplate(keys.play, "notify")) return;
  SendTemplate(keys.close, "");
  RemoveTemporary(State(kind));
  State(kind).playing = false;
}

void TMedia::Notified() {
  for (const TMciInterpreter::TNotification& notification : m_mci.TakeNotifications()) {
    if (notification.result == TNotifyResult::Superseded) continue;
    // A device belongs to the movie when the movie's open command gives it
    // its alias ("movie" by default), else to the sound.
    const bool movie = notification.alias == AliasOf(m_settings.GetString(StrKey::AVIOpenCommand));
    const TMediaKind kind = movie ? TMediaKind::Movie : TMediaKind::Sound;
    const TKindSettings& keys = SettingsOf(kind);
    // Only asynchronous plays leave their kind playing; a play that began so
    // ends here even when synchronous play was chosen meanwhile.
    if (!State(kind).playing) continue;
    if (m_settings.Get(keys.loop) && notification.result == TNotifyResult::Successful)
      Replay(kind);
    else
      Stop(kind);
  }
}

void TMedia::AdjustVolume(int32_t step) {
  const uint32_t volume = m_mci.Volume();
  auto channel = [step](uint32_t value) {
    return static_cast<uint32_t>(std::clamp<int32_t>(static_cast<int32_t>(value) + step, 0, 0xFFFF));
  };
  m_mci.SetVolume(channel(volume & 0xFFFF) | channel(volume >> 16) << 16);
}

void TMedia::Louder() { AdjustVolume(kVolumeStep); }
void TMedia::Softer() { AdjustVolume(-kVolumeStep); }
