#pragma once
// SIGTERM, SIGINT and SIGHUP (a desktop logging out, kill, Ctrl+C, a closed
// terminal, a screen saver being stopped) end the program the way closing
// its window does: settings written, temporary copies and the hand-over
// socket removed. The handler itself only writes a byte into a pipe; the
// message loop reads it and runs onSignal, where any work is safe.
//
// Each signal's handler is used once: a second signal of the same kind ends
// the process at once, as without this class, so a program that no longer
// answers (a sound played to its end blocks the loop) can still be stopped.
#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

class TTerminationSignals : public QObject {
public:
  explicit TTerminationSignals(std::function<void()> onSignal);
  // Gives the signals their default action back.
  ~TTerminationSignals() override;

private:
  void Received();

  int m_pipe[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> m_notifier;
  std::function<void()> m_onSignal;
};
