// zerbalin-tool unzip and zipinfo: the program's Unzip and Zip Info
// commands, printing on standard output the lines the program logs.
#include <cstdio>
#include <string>

#include "app/zip_commands.h"
#include "commands.h"

namespace {

void PrintLine(const std::string& line) { std::printf("%s\n", line.c_str()); }

int RunUnzip(int argc, char** argv) {
  if (argc != 3) return ToolFail("usage: unzip ARCHIVE DIR");
  return UnzipArchive(argv[1], argv[2], PrintLine) ? 0 : 1;
}

int RunZipInfo(int argc, char** argv) {
  if (argc != 2) return ToolFail("usage: zipinfo ARCHIVE");
  return ZipInfo(argv[1], PrintLine) ? 0 : 1;
}

const TToolCommand kUnzip("unzip", "unzip ARCHIVE DIR", RunUnzip);
const TToolCommand kZipInfo("zipinfo", "zipinfo ARCHIVE", RunZipInfo);

} // namespace
