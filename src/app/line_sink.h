#pragma once
// Where the commands that report line by line (Unzip, Zip Info, Decode,
// Encode) write their lines, without time stamps: the main window's log, or
// the tool's standard output.
#include <functional>
#include <string>

using TLineSink = std::function<void(const std::string& line)>;
