// zerbalin-tool: reaches the package layer, the codecs and the settings from
// the command line, for scripts, tests and users.
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"

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

int ToolFail(const char* format, ...) {
  std::fputs("zerbalin-tool: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  return 1;
}

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  for (const TEntry& entry : Commands())
    if (entry.name == argv[1]) return entry.run(argc - 1, argv + 1);
  return Usage();
}
