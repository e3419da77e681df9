// zerbalin-tool decodefiles and encodefile: the program's Decode and Encode
// commands, printing on standard output the lines the program logs.
#include <cstdio>
#include <string>

#include "app/encoded_files.h"
#include "command_setup.h"
#include "commands.h"

namespace {

void PrintLine(const std::string& line) { std::printf("%s\n", line.c_str()); }

int RunDecodeFiles(int argc, char** argv) {
  TCommandStart start;
  if (!StartCommand(argc, argv, kOneOrMore, start)) return 1;
  TDecode decode(PrintLine);
  for (const char* file : start.operands)
    if (!decode.DecodeFile(file)) break;
  decode.Finish();
  return 0;
}

int RunEncodeFile(int argc, char** argv) {
  TCommandStart start;
  if (!StartCommand(argc, argv, 1, start)) return 1;
  if (!EncodeFile(start.operands[0], start.settings.Get(IntKey::EncodeLines), PrintLine))
    return ToolFail("cannot encode %s", start.operands[0]);
  return 0;
}

const TToolCommand kDecodeFiles("decodefiles", "decodefiles FILE... [-Key=Value ...]", RunDecodeFiles);
const TToolCommand kEncodeFile("encodefile", "encodefile FILE [-EncodeLines=N ...]", RunEncodeFile);

} // namespace
