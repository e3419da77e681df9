#pragma once
// Busy operations: a long task (reading or writing a picture, expanding the
// file list, copying, unzipping, printing) runs on the one user-interface
// thread between BusyBegin and BusyEnd. Its progress reports show a
// percentage in the title and the pointer, dispatch the messages that wait
// meanwhile, and carry a stop request back into the task. The state is
// process-wide: one operation runs at a time.
#include "core/progress.h"
#include "platform/host.h"

// The host whose title, pointer and messages the service uses (the main
// window's); nullptr detaches, after which progress only reports stop
// requests.
void BusyAttach(Host* host);
// Copies of the settings EnableWindowPercent and EnableCursorPercent.
void BusyConfigure(bool windowPercent, bool cursorPercent);

void BusyBegin();
// percent 0..100, or -1 to keep the window alive only. Returns non-zero
// when the task is to stop now. Messages dispatched here may run commands,
// which find the service busy (BusyCheck) and ask it to stop.
int BusyProgress(int percent);
// Asks the running operation to stop, unless it is one that cannot be
// stopped (TBusyUnstoppableScope).
void BusyCancel();
bool BusyIsActive();
// False while an operation runs that nothing stops: input and commands that
// would stop an operation wait for its end instead.
bool BusyIsStoppable();
// Restores the title a percentage replaced and leaves the busy state.
void BusyEnd();

// The first step of every command handler: true when an operation runs, in
// which case it is asked to stop and the command must be dropped.
bool BusyCheck();

// The codecs' progress hook over this service. Its Begin starts an operation
// only when none runs, and its End ends only an operation its Begin started,
// so a picture loaded while the file list expands stays inside that
// operation.
const TProgressHook& BusyProgressHook();

// The file-package layer's AbortProc: Progress(-1), so slow package work
// keeps the window alive and stops on request.
int BusyAbortProc(const void* abortData);

// Sets AbortProc to BusyAbortProc for its lifetime, then back to what it
// was (none, outside other scopes). A picture loaded while the file list
// expands opens a scope inside the expansion's, and the expansion stays
// stoppable after the load.
class TBusyAbortScope {
public:
  TBusyAbortScope();
  ~TBusyAbortScope();
  TBusyAbortScope(const TBusyAbortScope&) = delete;
  TBusyAbortScope& operator=(const TBusyAbortScope&) = delete;

private:
  const void* m_previousProc;
  const void* m_previousData;
};

// A busy operation for the life of a scope, begun unless one runs already
// (a command of the slide show may run inside the show's) and ended only by
// the scope that began it; slow package work stays stoppable meanwhile.
class TBusyScope {
public:
  TBusyScope() : m_began(!BusyIsActive()) {
    if (m_began) BusyBegin();
  }
  ~TBusyScope() {
    if (m_began) BusyEnd();
  }
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;

private:
  bool m_began;
  TBusyAbortScope m_abort;
};

// A busy operation for the life of a scope that nothing stops: a picture
// being written is finished, never left half written behind the user's back.
// Stop requests are ignored meanwhile, and a quit taken by the pump stays in
// the queue until the scope has ended.
class TBusyUnstoppableScope {
public:
  TBusyUnstoppableScope();
  ~TBusyUnstoppableScope();
  TBusyUnstoppableScope(const TBusyUnstoppableScope&) = delete;
  TBusyUnstoppableScope& operator=(const TBusyUnstoppableScope&) = delete;

private:
  TBusyScope m_busy;
  bool m_wasStoppable;
};
