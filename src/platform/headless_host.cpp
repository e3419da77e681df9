#include "platform/headless_host.h"

#include <chrono>
#include <ctime>
#include <thread>

#include "platform/machine.h"

uint32_t THeadlessHost::TickCount() const {
  auto elapsed = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

void THeadlessHost::Sleep(uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

TLocalTime THeadlessHost::LocalTime() const {
  auto now = std::chrono::system_clock::now();
  std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm parts{};
  localtime_r(&seconds, &parts);
  int millisecond =
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
          millisecond};
}

int THeadlessHost::DisplayDepth() const { return MachineDisplayDepth(); }

uint64_t THeadlessHost::PhysicalMemory() const { return MachinePhysicalMemory(); }

TBoxAnswer THeadlessHost::MessageBox(const std::string&, const std::string&, TBoxButtons buttons, TBoxIcon) {
  return buttons == TBoxButtons::YesNo || buttons == TBoxButtons::YesNoCancel ? TBoxAnswer::No : TBoxAnswer::Ok;
}

int THeadlessHost::TakeCommand() {
  if (m_commands.empty()) return 0;
  int command = m_commands.front();
  m_commands.pop_front();
  return command;
}
