#pragma once
// Subcommands of zerbalin-tool. Each command file registers its commands with
// a static TToolCommand object; main() dispatches on the first argument.
#include <string_view>

using TToolCommandFn = int (*)(int argc, char** argv); // argv[0] is the command name

struct TToolCommand {
  TToolCommand(std::string_view name, std::string_view usage, TToolCommandFn run);
};

// Prints "zerbalin-tool: <message>" on standard error.
void ToolNote(const char* format, ...);
// Prints "zerbalin-tool: <message>" on standard error and returns 1, the exit
// status of every failed command.
int ToolFail(const char* format, ...);
// Prints "zerbalin-tool: usage: <the command's usage>" and returns 1.
int CommandUsage(const char* command);
