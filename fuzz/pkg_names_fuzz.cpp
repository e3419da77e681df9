// Package names: the input's first byte switches hidden and system entries
// on for listings (bits 0 and 1), the rest is a name opened for reading as a
// file ("rb") and as a listing ("rd"), relative to a scratch directory that
// is the current directory. Whatever opens is read a little and closed.
// Reading must never create anything, and every listed name must start with
// the name of its listing.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "filepkg/filepkg.h"

namespace {

constexpr size_t kMaxInput = 2048;
constexpr int kMaxBytesRead = 4096;
constexpr int kMaxEntriesRead = 64;

std::string g_scratch;

void RemoveScratch() {
  std::error_code ignored;
  std::filesystem::remove_all(g_scratch, ignored);
}

void WriteText(const char* path, const char* text) {
  if (FILE* file = std::fopen(path, "wb")) {
    std::fputs(text, file);
    std::fclose(file);
  }
}

// A small tree with what names run into: mixed letter case, a hidden file, a
// nested directory, a fifo (a system entry, never to be opened), a link
// back to the directory itself and a dangling link.
void MakeScratch() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zer_names_fuzz_XXXXXX";
  if (!mkdtemp(pattern.data()) || chdir(pattern.c_str()) != 0) std::abort();
  g_scratch = pattern;
  std::atexit(RemoveScratch);
  WriteText("a.gif", "GIF89a");
  WriteText("Mixed.BMP", "BM");
  WriteText(".hidden", "h");
  mkdir("sub", 0777);
  mkdir("sub/deeper", 0777);
  WriteText("sub/b.txt", "b");
  mkfifo("pipe", 0666);
  symlink(".", "loop");
  symlink("nowhere", "dangling");
}

int CountEntries(const std::string& path) {
  int count = 0;
  if (DIR* dir = opendir(path.c_str())) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

void ReadFile(const char* name) {
  TPkgStream* stream = PkgOpen(name, "rb");
  if (!stream) return;
  if (stream->info.type != 'b') std::abort();
  for (int i = 0; i < kMaxBytesRead && PkgGetByte(stream) >= 0; ++i) {
  }
  PkgSeek(stream, 0, 2);
  PkgTell(stream);
  PkgClose(stream, 0);
}

void ReadListing(const char* name) {
  TPkgStream* stream = PkgOpen(name, "rd");
  if (!stream) return;
  TPkgInfo info;
  PkgGetInfo(stream, &info);
  size_t length = std::strlen(info.name);
  if (info.type != 'd' || length == 0 || info.name[length - 1] != '/') std::abort();
  char entry[kPkgRecordSize];
  for (int i = 0; i < kMaxEntriesRead && PkgReadEntry(stream, entry); ++i)
    if (std::strncmp(entry, info.name, length) != 0) std::abort();
  PkgClose(stream, 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  static const int entries = [] {
    MakeScratch();
    return CountEntries(".");
  }();
  PkgSetInt("EnableHiddenFiles", data[0] & 1);
  PkgSetInt("EnableSystemFiles", (data[0] >> 1) & 1);
  // A name is a C string: it ends at the first NUL.
  std::string name(reinterpret_cast<const char*>(data) + 1, size - 1);
  ReadFile(name.c_str());
  ReadListing(name.c_str());
  if (CountEntries(g_scratch) != entries) std::abort();
  return 0;
}
