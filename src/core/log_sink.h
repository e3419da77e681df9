#pragma once
// Where codecs and layers below the application send their log messages
// ("TIFF Error: %s", "JPEG Message: %s", ...). The application installs its
// time-stamping log window here; until then the newest 100 messages are kept
// in memory, which is what tools and tests read.
#include <string>
#include <vector>

using TLogSinkFn = void (*)(const char* message);

void SetLogSink(TLogSinkFn sink);
// printf-style message, at most 511 characters after formatting.
void LogMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The messages kept by the built-in sink, oldest first.
std::vector<std::string> LoggedMessages();
void ClearLoggedMessages();
