#include "qt/media_players.h"

#include <QWidget>

#include "platform/gst_player.h"

namespace {

// Device types that carry sound only.
bool SoundOnly(const std::string& deviceType) { return deviceType == "waveaudio" || deviceType == "sequencer"; }

class TQtMediaPlayer : public TMediaPlayer {
public:
  TQtMediaPlayer(std::unique_ptr<QWidget> video, std::function<void()> started)
      : m_video(std::move(video)), m_started(std::move(started)) {}

  // Made after the picture window, whose native handle it draws into.
  void SetPlayer(std::unique_ptr<TMediaPlayer> player) { m_player = std::move(player); }

  bool Open(const std::string& path, std::string& error) override {
    if (m_video) m_video->setWindowTitle(QString::fromStdString(path));
    return m_player->Open(path, error);
  }
  bool Play(std::string& error) override {
    if (!m_player->Play(error)) return false;
    if (m_video) m_video->show();
    m_started();
    return true;
  }
  bool Rewind(std::string& error) override { return m_player->Rewind(error); }
  bool WaitForEnd(std::string& error) override { return m_player->WaitForEnd(error); }
  std::optional<bool> TakeEnd(std::string& error) override { return m_player->TakeEnd(error); }
  void SetVolume(double level) override { m_player->SetVolume(level); }

private:
  // Declared first so that the player, which draws into it, goes first.
  std::unique_ptr<QWidget> m_video;
  std::unique_ptr<TMediaPlayer> m_player;
  std::function<void()> m_started;
};

} // namespace

std::unique_ptr<TMediaPlayer> NewQtMediaPlayer(QWidget* parent, bool headless, const std::string& deviceType,
                                               std::function<void()> started, std::string& error) {
  std::unique_ptr<QWidget> video;
  if (!headless && !SoundOnly(deviceType)) {
    video = std::make_unique<QWidget>(parent, Qt::Window);
    video->setAttribute(Qt::WA_NativeWindow);
    video->resize(640, 480);
  }
  const uintptr_t handle = video ? static_cast<uintptr_t>(video->winId()) : 0;
  auto player = std::make_unique<TQtMediaPlayer>(std::move(video), std::move(started));
  std::unique_ptr<TMediaPlayer> gst = NewGstPlayer(handle, error);
  if (!gst) return nullptr;
  player->SetPlayer(std::move(gst));
  return player;
}
