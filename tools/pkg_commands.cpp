// zerbalin-tool commands that reach package names: list, copy out, write,
// delete and describe anything a name can stand for.
#include <cstdio>

#include "commands.h"
#include "filepkg/filepkg.h"

namespace {

// Bytes moved per call when copying through a handle.
constexpr int32_t kCopyBlock = 32768;

// Every command takes exactly one package name.
const char* NameArgument(int argc, char** argv) { return argc == 2 ? argv[1] : nullptr; }

int RunLs(int argc, char** argv) {
  const char* name = NameArgument(argc, argv);
  if (!name) return ToolFail("usage: ls NAME");
  TPkgStream* stream = PkgOpen(name, "rd");
  if (!stream) return ToolFail("cannot list %s", name);
  char entry[kPkgRecordSize];
  while (PkgReadEntry(stream, entry)) std::printf("%s\n", entry);
  PkgClose(stream, 0);
  return 0;
}

int RunCat(int argc, char** argv) {
  const char* name = NameArgument(argc, argv);
  if (!name) return ToolFail("usage: cat NAME");
  TPkgStream* stream = PkgOpen(name, "rb");
  if (!stream) return ToolFail("cannot open %s", name);
  uint8_t* data = nullptr;
  bool ok = true;
  while (int32_t count = PkgMapRead(&data, kCopyBlock, stream))
    if (std::fwrite(data, 1, count, stdout) != static_cast<size_t>(count)) ok = false;
  PkgClose(stream, 0);
  if (std::fflush(stdout) != 0 || !ok) return ToolFail("cannot write the bytes of %s", name);
  return 0;
}

int RunPut(int argc, char** argv) {
  const char* name = NameArgument(argc, argv);
  if (!name) return ToolFail("usage: put NAME");
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
  if (!name) return ToolFail("usage: rm NAME");
  if (PkgDelete(name) != 0) return ToolFail("cannot delete %s", name);
  return 0;
}

int RunInfo(int argc, char** argv) {
  const char* name = NameArgument(argc, argv);
  if (!name) return ToolFail("usage: info NAME");
  TPkgStream* stream = PkgOpen(name, "rb");
  if (!stream) stream = PkgOpen(name, "rd");
  if (!stream) return ToolFail("cannot open %s", name);
  TPkgInfo info;
  PkgGetInfo(stream, &info);
  PkgClose(stream, 0);
  std::printf("name=%s\nmode=%c\ntype=%c\naccess=%c\nlayer=%s\ntime=%ld\nblockSize=%lu\nblockCount=%lu\n",
              info.name, info.mode, info.type, info.access, info.layerId, static_cast<long>(info.time),
              static_cast<unsigned long>(info.blockSize), static_cast<unsigned long>(info.blockCount));
  return 0;
}

TToolCommand g_ls("ls", "ls NAME", RunLs);
TToolCommand g_cat("cat", "cat NAME", RunCat);
TToolCommand g_put("put", "put NAME", RunPut);
TToolCommand g_rm("rm", "rm NAME", RunRm);
TToolCommand g_info("info", "info NAME", RunInfo);

} // namespace
