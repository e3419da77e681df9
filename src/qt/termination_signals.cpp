#include "qt/termination_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The pipe's writing end, for the handler; -1 when none is set up.
volatile sig_atomic_t g_writeEnd = -1;

// Only async-signal-safe calls: one byte written, errno kept for the code
// the signal interrupted. A full pipe already holds a byte to be seen.
void OnSignal(int) {
  const int savedErrno = errno;
  const char byte = 1;
  if (g_writeEnd >= 0) (void)::write(g_writeEnd, &byte, 1);
  errno = savedErrno;
}

} // namespace

TTerminationSignals::TTerminationSignals(std::function<void()> onSignal) : m_onSignal(std::move(onSignal)) {
  if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_writeEnd = m_pipe[1];
  m_notifier = std::make_unique<QSocketNotifier>(m_pipe[0], QSocketNotifier::Read);
  connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { Received(); });
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (const int number : kSignals) ::sigaction(number, &action, nullptr);
}

TTerminationSignals::~TTerminationSignals() {
  for (const int number : kSignals) ::signal(number, SIG_DFL);
  g_writeEnd = -1;
  m_notifier.reset();
  for (const int end : m_pipe)
    if (end >= 0) ::close(end);
}

void TTerminationSignals::Received() {
  char bytes[16];
  while (::read(m_pipe[0], bytes, sizeof bytes) > 0) {
  }
  m_onSignal();
}
