#pragma once
// The window system's media service as playback sees it: one player per
// opened sound or movie file. The program's own players play through
// GStreamer (gst_player.h); tests use fakes.
#include <optional>
#include <string>

// One opened file of the window system's media service.
class TMediaPlayer {
public:
  virtual ~TMediaPlayer() = default;
  // Opens a file for playing; false with the reason in error.
  virtual bool Open(const std::string& path, std::string& error) = 0;
  // Starts or resumes playing and returns at once.
  virtual bool Play(std::string& error) = 0;
  // Stops playing and goes back to the start of the file.
  virtual bool Rewind(std::string& error) = 0;
  // Blocks until the file has played to its end; false on a failure.
  virtual bool WaitForEnd(std::string& error) = 0;
  // The end of a play started with Play, once it has come: true for the end
  // of the file, false with error for a failure.
  virtual std::optional<bool> TakeEnd(std::string& error) = 0;
  // Loudness 0 (silent) .. 1 (full).
  virtual void SetVolume(double level) = 0;
};
