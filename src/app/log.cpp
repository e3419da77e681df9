#include "app/log.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "core/log_sink.h"

namespace {

TLog* g_sinkLog = nullptr;

void SinkToLog(const char* message) {
  if (g_sinkLog) g_sinkLog->Add(message);
}

} // namespace

void TLog::Log(const char* format, ...) {
  char message[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  Add(message);
}

void TLog::Add(std::string_view message) {
  TLocalTime now = m_host.LocalTime();
  char stamp[16];
  std::snprintf(stamp, sizeof stamp, "%02d:%02d:%02d ", now.hour % 100, now.minute % 100, now.second % 100);
  std::string line = stamp;
  line += message;
  m_text.AddLine(line);
  if (m_onLine) m_onLine(line);
}

void TLog::InstallAsSink(TLog* log) {
  g_sinkLog = log;
  SetLogSink(log ? SinkToLog : nullptr);
}
