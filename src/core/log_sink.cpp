#include "core/log_sink.h"

#include <cstdarg>
#include <cstdio>
#include <deque>

namespace {

constexpr size_t kKeptMessages = 100;
std::deque<std::string> g_kept;
TLogSinkFn g_sink = nullptr;

} // namespace

void SetLogSink(TLogSinkFn sink) { g_sink = sink; }

void LogMessage(const char* format, ...) {
  char message[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (g_sink) {
    g_sink(message);
    return;
  }
  if (g_kept.size() == kKeptMessages) g_kept.pop_front();
  g_kept.emplace_back(message);
}

std::vector<std::string> LoggedMessages() { return {g_kept.begin(), g_kept.end()}; }

void ClearLoggedMessages() { g_kept.clear(); }
