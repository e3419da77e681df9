#pragma once
// Sound and movie playback. The main window drives playback with command
// strings taken from the settings (one set for sounds, one for movies), so
// the user can change how files are opened and played. The strings go to
// TMciInterpreter, which understands the media-control command language
// (open, seek, play, close, ...) over players of the window system
// (TMediaPlayer). TMedia carries out what the window asks: play a sound or a
// movie, stop it, react to the end of a play, make the sound louder or
// softer. Every command sent is logged as "MCI: <command>", every failure as
// "err: <reason>".
//
// Asynchronous plays end on the window's thread: the window polls the
// players (Poll), the interpreter queues the notification and posts one host
// command, and the window hands the queue to TMedia::Notified.
#include <cstdint>
#include <utility>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/media_player.h"
#include "settings/profile.h"

enum class TMediaKind { Sound, Movie };

// How a play that asked for notification ended.
enum class TNotifyResult { Successful, Superseded, Aborted, Failure };

// Makes a player for a device type ("waveaudio", "avivideo", ...).
using TPlayerFactory = std::function<std::unique_ptr<TMediaPlayer>(const std::string& deviceType)>;

// Fills a command template: each "%s" takes the next argument (or nothing
// when none is left), "%%" gives "%", everything else is copied.
std::string FillTemplate(const std::string& format, std::initializer_list<std::string> arguments);

// A file name as it goes between the double quotes of a command string:
// each '"' doubled, which the interpreter reads back as one.
std::string MciQuoted(const std::string& name);

// The device type of a file extension (without dot, any case): the system's
// table of extensions the media service plays, else the built-in fallback,
// else "unknown_mci_driver".
std::string MediaDeviceType(const std::string& extension);

// The media-control command language over players. Devices are known by
// their aliases; understood commands:
//   open "<file>" type <device type> alias <alias> [wait]   ("" in quotes is one ")
//   seek <alias> to start [wait]
//   play <alias> [wait | notify]
//   close <alias> | close all
//   setaudio <alias> volume to <0..1000>
class TMciInterpreter {
public:
  struct TNotification {
    std::string alias;
    TNotifyResult result;
  };

  // notify runs when a notification was queued (the window posts itself a
  // command there).
  TMciInterpreter(TPlayerFactory factory, std::function<void()> notify);

  // Runs a command; false with the error text in error.
  bool Send(const std::string& command, std::string& error);
  // Looks for the ends of asynchronous plays and queues their
  // notifications. True while any device is playing.
  bool Poll();
  // The notifications queued since the last call.
  std::deque<TNotification> TakeNotifications();

  // The master volume: left channel in the low 16 bits, right in the high.
  uint32_t Volume() const { return m_volume; }
  void SetVolume(uint32_t volume);

private:
  struct TDevice {
    std::unique_ptr<TMediaPlayer> player;
    bool notifyPending = false;
    bool playing = false;
    int32_t volume = 1000; // per device, 0..1000
  };

  bool Open(const std::vector<std::string>& words, std::string& error);
  bool Play(TDevice& device, const std::string& alias, const std::string& flag, std::string& error);
  bool Close(const std::string& alias);
  void Notify(const std::string& alias, TDevice& device, TNotifyResult result);
  void ApplyVolume(TDevice& device) const;

  TPlayerFactory m_factory;
  std::function<void()> m_notify;
  std::map<std::string, TDevice> m_devices;
  std::deque<TNotification> m_notifications;
  uint32_t m_volume = 0xFFFFFFFFu;
};

// What playback asks of the main window.
struct TMediaWindow {
  std::function<void()> pumpMessages;   // lets waiting messages through once
  std::function<void()> showLog;        // shows the log window when hidden
  std::function<void()> leaveTopmost;   // turns "always on top" off when on
};

// The sound and the movie of the main window.
class TMedia {
public:
  TMedia(TProfile& settings, TMciInterpreter& mci, TMediaWindow window);
  // Stops both, removing their temporary copies.
  ~TMedia();
  TMedia(const TMedia&) = delete;
  TMedia& operator=(const TMedia&) = delete;

  // Plays a file (a package name) after stopping the one of its kind.
  void PlaySound(const std::string& name);
  void PlayMovie(const std::string& name);
  void Stop(TMediaKind kind);
  bool Playing(TMediaKind kind) const { return State(kind).playing; }
  // Handles the notifications the interpreter queued.
  void Notified();
  // Each channel of the master volume 4096 steps (of 65535) louder or
  // softer, stopping at full and at silence.
  void Louder();
  void Softer();

  // The temporary copy of a file that is not a disk file, while it plays.
  const std::string& TemporaryCopy(TMediaKind kind) const { return State(kind).temporary; }

private:
  struct TKindState {
    bool playing = false;
    std::string temporary;
  };
  TKindState& State(TMediaKind kind) { return m_state[kind == TMediaKind::Movie]; }
  const TKindState& State(TMediaKind kind) const { return m_state[kind == TMediaKind::Movie]; }
  bool SendCommand(const std::string& command);
  bool SendTemplate(StrKey format, const std::string& argument);
  void PlayFile(const std::string& path, bool synchronous, TMediaKind kind);
  void PlayScript(const std::string& path);
  void PlayWaveToEnd(const std::string& path);
  void Replay(TMediaKind kind);
  void RemoveTemporary(TKindState& state);
  void PumpTenTimes();
  void AdjustVolume(int32_t step);

  TProfile& m_settings;
  TMciInterpreter& m_mci;
  TMediaWindow m_window;
  TKindState m_state[2];
};
