// zerbalin-tool commands that reach package names: list, copy out, write,
// delete and describe anything a name can stand for.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "command_setup.h"
#include "commands.h"
#include "filepkg/filepkg.h"
#include "platform/process_start.h"

namespace {

// Bytes moved per call when copying through a handle.
constexpr int32_t kCopyBlock = 32768;

// Every command takes exactly one package name besides the settings switches.
// nullptr after a message when the arguments are not right.
const char* NameArgument(int argc, char** argv) {
  TCommandStart start;
  return StartCommand(argc, argv, 1, start) ? start.operands[0] : nullptr;
}

// A disk folder the user may not read still opens as a listing, which then
// ends at once as if the folder were empty; that must not pass for an empty
// folder.
bool CanReadListing(TPkgStream* listing) {
  TPkgInfo info;
  PkgGetInfo(listing, &info);
  if (std::strcmp(info.layerId, "fil") != 0) return true;
  DIR* folder = opendir(info.name);
  if (!folder) return false;
  closedir(folder);
  return true;
}

int RunLs(int argc, char** argv) {
  const char* name = NameArgument(argc, argv);
  if (!name) return 1;
  TPkgStream* stream = PkgOpen(name, "rd");
  if (!stream) return ToolFail("cannot list %s", name);
  if (!CanReadListing(stream)) {
    PkgClose(stream, kPkgKeep);
    return ToolFail("cannot read the folder %s", name);
  }
  char entry[kPkgRecordSize];
  while (PkgReadEntry(stream, entry)) std::printf("%s\n", entry);
  PkgClose(stream, kPkgKeep);
  return 0;
}

int RunCat(int argc, char** argv) {
  const char* name = NameArgument(argc, argv);
  if (!name) return 1;
  // Bytes written to the /dev/null that stands in for a closed standard
  // output would be lost without a word.
  if (StandardDescriptorWasClosed(STDOUT_FILENO)) return ToolFail("no standard output for the bytes of %s", name);
  TPkgStream* stream = PkgOpen(name, "rb");
  if (!stream) return ToolFail("cannot open %s", name);
  uint8_t* data = nullptr;
  bool ok = true;
  while (int32_t count = PkgMapRead(&data, kCopyBlock, stream))
    if (std::fwrite(data, 1, count, stdout) != static_cast<size_t>(count)) ok = false;
  PkgClose(stream, kPkgKeep);
  if (std::fflush(stdout) != 0 || !ok) return ToolFail("cannot write the bytes of %s", name);
  return 0;
}

int RunPut(int argc, char** argv) {
  const char* name = NameArgument(argc, argv);
  if (!name) return 1;
  // A standard input that was closed reads as the empty /dev/null; copying
  // that would replace the file with nothing.
  if (StandardDescriptorWasClosed(STDIN_FILENO)) return ToolFail("no standard input to write to %s", name);
  TPkgStream* stream = PkgOpen(name, "wb");
  if (!stream) return ToolFail("cannot create %s", name);
  static uint8_t buffer[kCopyBlock];
  bool ok = true;
  size_t count = 0;
  while (ok && (count = std::fread(buffer, 1, sizeof(buffer), stdin)) > 0)
    ok = PkgWrite(buffer, 1, count, stream) == count;
  if (std::ferror(stdin)) ok = false;
  // A failed copy is dropped, so the file keeps what it held before.
  if (PkgClose(stream, ok ? kPkgKeep : kPkgAbandon) != 0 || !ok) return ToolFail("writing %s failed", name);
  return 0;
}

int RunRm(int argc, char** argv) {
  const char* name = NameArgument(argc, argv);
  if (!name) return 1;
  if (PkgDelete(name) != 0) return ToolFail("cannot delete %s", name);
  return 0;
}

int RunInfo(int argc, char** argv) {
  const char* name = NameArgument(argc, argv);
  if (!name) return 1;
  TPkgStream* stream = PkgOpen(name, "rb");
  if (!stream) stream = PkgOpen(name, "rd");
  if (!stream) return ToolFail("cannot open %s", name);
  TPkgInfo info;
  PkgGetInfo(stream, &info);
  PkgClose(stream, kPkgKeep);
  std::printf("name=%s\nmode=%c\ntype=%c\naccess=%c\nlayer=%s\ntime=%ld\nblockSize=%lu\nblockCount=%lu\n",
              info.name, info.mode, info.type, info.access, info.layerId, static_cast<long>(info.time),
              static_cast<unsigned long>(info.blockSize), static_cast<unsigned long>(info.blockCount));
  return 0;
}

TToolCommand g_ls("ls", "ls NAME [-Key=Value ...]", RunLs);
TToolCommand g_cat("cat", "cat NAME [-Key=Value ...]", RunCat);
TToolCommand g_put("put", "put NAME [-Key=Value ...]", RunPut);
TToolCommand g_rm("rm", "rm NAME [-Key=Value ...]", RunRm);
TToolCommand g_info("info", "info NAME [-Key=Value ...]", RunInfo);

} // namespace
