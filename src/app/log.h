#pragma once
// The program's log: each message becomes one line of the log window's text,
// prefixed with the local time as "hh:mm:ss ".
#include <functional>
#include <string_view>

#include "app/text_model.h"
#include "platform/host.h"

class TLog {
public:
  // Both live as long as the main window; the log only refers to them.
  TLog(const Host& host, TZerbalinTxt& text) : m_host(host), m_text(text) {}

  // printf-style; the message is cut to what fits one line.
  void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Add(std::string_view message);

  // Runs after every line with the line as written; the main window
  // repaints the log window there while it is shown.
  void SetOnLine(std::function<void(std::string_view line)> onLine) { m_onLine = std::move(onLine); }

  // Sends the messages of the codecs and package layers to this log (nullptr
  // gives them back to the built-in keeper of core/log_sink.h).
  static void InstallAsSink(TLog* log);

private:
  const Host& m_host;
  TZerbalinTxt& m_text;
  std::function<void(std::string_view line)> m_onLine;
};
