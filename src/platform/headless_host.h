#pragma once
// The host of a run without any window: command-line tools and batch work.
// Commands are queued for the caller to drain, the title is only remembered,
// dialogs answer as if cancelled and message boxes as if the default button
// (OK, or No for questions) was chosen.
#include <deque>

#include "platform/host.h"

class THeadlessHost : public Host {
public:
  void PostCommand(int command) override { m_commands.push_back(command); }
  uint32_t TickCount() const override;
  void Sleep(uint32_t milliseconds) override;
  TLocalTime LocalTime() const override;
  TPumpResult PumpOneMessage() override { return TPumpResult::Empty; }
  std::string Title() const override { return m_title; }
  void SetTitle(const std::string& title) override { m_title = title; }
  void InvalidateRect(const TRect&) override {}
  TSize ClientSize() const override { return {640, 480}; }
  TSize ScreenSize() const override { return {640, 480}; }
  int DisplayDepth() const override;
  int DotsPerInch() const override { return 96; }
  uint64_t PhysicalMemory() const override;
  unsigned ModifierKeys() const override { return 0; }
  void ShowProgressPointer(int) override {}
  TBoxAnswer MessageBox(const std::string& text, const std::string& caption, TBoxButtons buttons,
                        TBoxIcon icon) override;
  bool Prompt(const std::string&, const std::string&, std::string&) override { return false; }
  bool ModalDialogOpen() const override { return false; }

  // The oldest queued command, or 0 when none is queued.
  int TakeCommand();

private:
  std::deque<int> m_commands;
  std::string m_title;
};
