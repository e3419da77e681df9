// zerbalin-tool: reaches the package layer, the codecs and the settings from
// the command line, for scripts, tests and users.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "core/pixel_memory.h"
#include "platform/process_start.h"

namespace {

struct TEntry {
  std::string_view name;
  std::string_view usage;
  TToolCommandFn run;
};

std::vector<TEntry>& Commands() {
  static std::vector<TEntry> commands;
  return commands;
}

int Usage() {
  std::fprintf(stderr, "usage: zerbalin-tool COMMAND [ARGS]\n");
  for (const TEntry& entry : Commands())
    std::fprintf(stderr, "  %.*s\n", static_cast<int>(entry.usage.size()), entry.usage.data());
  return 2;
}

} // namespace

TToolCommand::TToolCommand(std::string_view name, std::string_view usage, TToolCommandFn run) {
  Commands().push_back({name, usage, run});
}

namespace {

void PrintNote(const char* format, va_list args) {
  std::fputs("zerbalin-tool: ", stderr);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
}

} // namespace

void ToolNote(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintNote(format, args);
  va_end(args);
}

int ToolFail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintNote(format, args);
  va_end(args);
  return 1;
}

int CommandUsage(const char* command) {
  for (const TEntry& entry : Commands())
    if (entry.name == command)
      return ToolFail("usage: %.*s", static_cast<int>(entry.usage.size()), entry.usage.data());
  return Usage();
}

int main(int argc, char** argv) {
  // Nothing may be opened before the standard descriptors are safe; without
  // /dev/null there is not even a way to say so.
  if (!SecureStandardDescriptors()) return 1;
  IgnoreFileSizeSignal();
  SetPixelMemoryBudgetFromEnvironment();
  if (argc < 2) return Usage();
  for (const TEntry& entry : Commands()) {
    if (entry.name != argv[1]) continue;
    const int status = entry.run(argc - 1, argv + 1);
    // Output that never reached its file (a full disk behind a redirection)
    // fails the command even when its own work succeeded.
    if (std::fflush(stdout) != 0 && status == 0) return ToolFail("cannot write to standard output");
    return status;
  }
  return Usage();
}
