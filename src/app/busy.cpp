#include "app/busy.h"

#include <string>
#include <vector>

#include "filepkg/filepkg.h"

namespace {

struct TBusyState {
  Host* host = nullptr;
  bool active = false;
  bool cancel = false;
  bool stoppable = true;
  int lastPercent = 0;
  // The title as it was at the first report. A flag beside it, because an
  // empty title must be restored too.
  std::string savedTitle;
  bool titleSaved = false;
  bool windowPercent = false;
  bool cursorPercent = false;
  // One entry per Begin of the progress hook: whether that Begin started the
  // operation.
  std::vector<bool> hookBegan;
};

TBusyState g_busy;

void ShowPercentInTitle(int percent) {
  if (!g_busy.windowPercent || percent < 0 || percent == g_busy.lastPercent || !g_busy.host) return;
  g_busy.lastPercent = percent;
  // The first report only remembers the title; later ones show the
  // percentage after it.
  if (!g_busy.titleSaved) {
    g_busy.savedTitle = g_busy.host->Title();
    g_busy.titleSaved = true;
  } else {
    g_busy.host->SetTitle(g_busy.savedTitle + " (" + std::to_string(percent) + "%)");
  }
}

// A stop asked for before a part that cannot be stopped began waits for the
// end of that part too.
bool StopAsked() { return g_busy.cancel && g_busy.stoppable; }

int PumpMessages() {
  while (!StopAsked() && g_busy.host) {
    switch (g_busy.host->PumpOneMessage()) {
    case TPumpResult::Empty:
      return 0;
    case TPumpResult::Quit:
      // The host has posted the quit again, so the program ends once the
      // operation has wound down. One that cannot be stopped goes on; the
      // quit waits in the queue, not taken again by this report.
      if (!g_busy.stoppable) return 0;
      g_busy.cancel = true;
      break;
    case TPumpResult::Dispatched:
      break;
    }
  }
  return StopAsked() ? 1 : 0;
}

void HookBegin() {
  bool begins = !g_busy.active;
  if (begins) BusyBegin();
  g_busy.hookBegan.push_back(begins);
}

void HookEnd() {
  if (g_busy.hookBegan.empty()) return;
  bool began = g_busy.hookBegan.back();
  g_busy.hookBegan.pop_back();
  if (began) BusyEnd();
}

const TProgressHook kHook{HookBegin, BusyProgress, HookEnd};

} // namespace

void BusyAttach(Host* host) { g_busy.host = host; }

void BusyConfigure(bool windowPercent, bool cursorPercent) {
  g_busy.windowPercent = windowPercent;
  g_busy.cursorPercent = cursorPercent;
}

void BusyBegin() {
  g_busy.cancel = false;
  g_busy.active = true;
  g_busy.lastPercent = 0;
  g_busy.savedTitle.clear();
  g_busy.titleSaved = false;
}

int BusyProgress(int percent) {
  if (g_busy.cursorPercent && g_busy.host) g_busy.host->ShowProgressPointer(percent);
  if (!g_busy.active) return 0;
  ShowPercentInTitle(percent);
  return PumpMessages();
}

void BusyCancel() {
  if (g_busy.active && g_busy.stoppable) g_busy.cancel = true;
}

bool BusyIsActive() { return g_busy.active; }

bool BusyIsStoppable() { return g_busy.stoppable; }

void BusyEnd() {
  if (!g_busy.active) return;
  if (g_busy.titleSaved && g_busy.host) g_busy.host->SetTitle(g_busy.savedTitle);
  g_busy.cancel = false;
  g_busy.active = false;
  g_busy.savedTitle.clear();
  g_busy.titleSaved = false;
}

bool BusyCheck() {
  if (!BusyIsActive()) return false;
  BusyCancel();
  return true;
}

const TProgressHook& BusyProgressHook() { return kHook; }

int BusyAbortProc(const void*) { return BusyProgress(-1); }

TBusyAbortScope::TBusyAbortScope()
    : m_previousProc(PkgGetPtr("AbortProc")), m_previousData(PkgGetPtr("AbortData")) {
  PkgSetPtr("AbortData", nullptr);
  PkgSetPtr("AbortProc", reinterpret_cast<const void*>(&BusyAbortProc));
}

TBusyAbortScope::~TBusyAbortScope() {
  PkgSetPtr("AbortProc", m_previousProc);
  PkgSetPtr("AbortData", m_previousData);
}

TBusyUnstoppableScope::TBusyUnstoppableScope() : m_wasStoppable(g_busy.stoppable) { g_busy.stoppable = false; }

TBusyUnstoppableScope::~TBusyUnstoppableScope() { g_busy.stoppable = m_wasStoppable; }
