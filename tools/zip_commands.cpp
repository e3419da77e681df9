// zerbalin-tool unzip and zipinfo: the program's Unzip and Zip Info
// commands, printing on standard output the lines the program logs.
#include <cstdio>
#include <string>

#include "app/zip_commands.h"
#include "command_setup.h"
#include "commands.h"

namespace {

void PrintLine(const std::string& line) { std::printf("%s\n", line.c_str()); }

int RunUnzip(int argc, char** argv) {
  TCommandStart start;
  if (!StartCommand(argc, argv, 2, start)) return 1;
  return UnzipArchive(start.operands[0], start.operands[1], PrintLine) ? 0 : 1;
}

int RunZipInfo(int argc, char** argv) {
  TCommandStart start;
  if (!StartCommand(argc, argv, 1, start)) return 1;
  return ZipInfo(start.operands[0], PrintLine) ? 0 : 1;
}

const TToolCommand kUnzip("unzip", "unzip ARCHIVE DIR [-Key=Value ...]", RunUnzip);
const TToolCommand kZipInfo("zipinfo", "zipinfo ARCHIVE [-Key=Value ...]", RunZipInfo);

} // namespace
