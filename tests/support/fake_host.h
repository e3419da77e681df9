#pragma once
// FakeHost: the host of core tests. Time stands still until the test moves
// it; posted commands queue up for the test to drain; titles and progress
// pointers are recorded; waiting messages, message-box answers and prompt
// answers are scripted.
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/host.h"

namespace testsupport {

class FakeHost : public Host {
public:
  void PostCommand(int command) override { commands.push_back(command); }
  uint32_t TickCount() const override { return tick; }
  void Sleep(uint32_t milliseconds) override { Advance(milliseconds); }
  TLocalTime LocalTime() const override { return now; }
  TPumpResult PumpOneMessage() override;
  std::string Title() const override { return title; }
  void SetTitle(const std::string& text) override;
  void InvalidateRect(const TRect& rect) override { invalidated.push_back(rect); }
  TSize ClientSize() const override { return clientSize; }
  TSize ScreenSize() const override { return screenSize; }
  int DisplayDepth() const override { return displayDepth; }
  int DotsPerInch() const override { return dotsPerInch; }
  uint64_t PhysicalMemory() const override { return physicalMemory; }
  unsigned ModifierKeys() const override { return modifiers; }
  void ShowProgressPointer(int percent) override { pointerPercents.push_back(percent); }
  TBoxAnswer MessageBox(const std::string& text, const std::string& caption, TBoxButtons buttons,
                        TBoxIcon icon) override;
  bool Prompt(const std::string& caption, const std::string& text, std::string& value) override;
  bool ModalDialogOpen() const override { return openDialogs > 0; }

  // Moves the clock (and the local time's seconds with it).
  void Advance(uint32_t milliseconds);
  // The oldest posted command, or 0 when none is queued.
  int TakeCommand();

  // A message that waits in the queue: a callback run when it is dispatched,
  // or a quit request.
  void QueueMessage(std::function<void()> message) { messages.push_back(std::move(message)); }
  void QueueQuit() { messages.push_back(nullptr); }

  struct TBox {
    std::string text;
    std::string caption;
    TBoxButtons buttons;
    TBoxIcon icon;
  };

  uint32_t tick = 0;
  TLocalTime now{2024, 5, 17, 9, 5, 7, 0};
  std::deque<int> commands;
  std::string title = "Zerbalin";
  std::vector<std::string> titles; // every title set, in order
  std::vector<TRect> invalidated;
  TSize clientSize{800, 600};
  TSize screenSize{1024, 768};
  int displayDepth = 24;
  int dotsPerInch = 96;
  uint64_t physicalMemory = 8ull << 30;
  unsigned modifiers = 0;
  std::vector<int> pointerPercents;
  std::deque<std::function<void()>> messages; // nullptr = quit
  int pumps = 0;         // calls of PumpOneMessage
  bool quitPosted = false; // a quit was taken and posted again
  std::vector<TBox> boxes;
  std::deque<TBoxAnswer> boxAnswers;     // scripted; Ok (or No) when empty
  std::deque<std::string> promptAnswers; // scripted; cancelled when empty
  // Message boxes and prompts are modal: open while they wait for their
  // answer, during which whileDialogOpen runs (the user taking time).
  int openDialogs = 0;
  std::function<void()> whileDialogOpen;

private:
  void WaitForAnswer();
};

} // namespace testsupport
