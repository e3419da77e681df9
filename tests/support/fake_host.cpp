#include "support/fake_host.h"

namespace testsupport {

TPumpResult FakeHost::PumpOneMessage() {
  ++pumps;
  if (messages.empty()) return TPumpResult::Empty;
  std::function<void()> message = std::move(messages.front());
  messages.pop_front();
  if (!message) {
    // The real host puts the quit request back into its queue; here it is
    // only noted, so a test's later pumps see an empty queue.
    quitPosted = true;
    return TPumpResult::Quit;
  }
  message();
  return TPumpResult::Dispatched;
}

void FakeHost::SetTitle(const std::string& text) {
  title = text;
  titles.push_back(text);
}

TBoxAnswer FakeHost::MessageBox(const std::string& text, const std::string& caption, TBoxButtons buttons,
                                TBoxIcon icon) {
  boxes.push_back({text, caption, buttons, icon});
  WaitForAnswer();
  if (!boxAnswers.empty()) {
    TBoxAnswer answer = boxAnswers.front();
    boxAnswers.pop_front();
    return answer;
  }
  return buttons == TBoxButtons::YesNo || buttons == TBoxButtons::YesNoCancel ? TBoxAnswer::No : TBoxAnswer::Ok;
}

bool FakeHost::Prompt(const std::string&, const std::string&, std::string& value) {
  WaitForAnswer();
  if (promptAnswers.empty()) return false;
  value = promptAnswers.front();
  promptAnswers.pop_front();
  return true;
}

void FakeHost::WaitForAnswer() {
  ++openDialogs;
  if (whileDialogOpen) whileDialogOpen();
  --openDialogs;
}

void FakeHost::Advance(uint32_t milliseconds) {
  tick += milliseconds;
  int total = now.millisecond + static_cast<int>(milliseconds % 1000);
  int seconds = now.second + static_cast<int>(milliseconds / 1000) + total / 1000;
  now.millisecond = total % 1000;
  int minutes = now.minute + seconds / 60;
  now.second = seconds % 60;
  int hours = now.hour + minutes / 60;
  now.minute = minutes % 60;
  now.hour = hours % 24; // the date is left alone: tests run within a day
}

int FakeHost::TakeCommand() {
  if (commands.empty()) return 0;
  int command = commands.front();
  commands.pop_front();
  return command;
}

} // namespace testsupport
