// Unzip and Zip Info, through the package: the archive is listed ("rd"),
// each member opened by its listed name, and extracted files are written
// through the package as well, with the member's time.
#include "app/zip_commands.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "filepkg/filepkg.h"

namespace {

// Bytes moved per call when copying a member out.
constexpr int32_t kCopyBlock = 16384;

// The lines that end both commands: for an archive without members, or an
// empty line and, when some member could not be read, a word on archives
// of old pkzip versions. False when the archive had no members or some
// could not be read.
bool EndLines(bool noMembers, bool unreadable, const TLineSink& line) {
  if (noMembers) line("This file is not a zip file.");
  if (!noMembers) line("");
  if (!noMembers && unreadable) {
    line("This file was produced by an old version of pkzip and can not");
    line("be read by Zerbalin.  Please press F1 and choose ZIP Utilities");
    line("for information about utilities to read this file.");
  }
  if (noMembers || unreadable) line("");
  return !noMembers && !unreadable;
}

// The full names of the archive's members and the length of the archive's
// own name before them; false (with its line) when the name does not open.
// A file that is no archive has no members.
bool ListMembers(const std::string& archive, std::vector<std::string>& members, size_t& prefixLength,
                 const TLineSink& line) {
  TPkgStream* listing = PkgOpen(archive.c_str(), "rd");
  if (!listing) {
    TPkgStream* file = PkgOpen(archive.c_str(), "rb");
    if (!file) line("Unable to open " + archive);
    PkgClose(file, kPkgKeep);
    return file != nullptr;
  }
  TPkgInfo info;
  PkgGetInfo(listing, &info);
  prefixLength = std::strlen(info.name);
  char record[kPkgRecordSize];
  while (PkgReadEntry(listing, record)) members.emplace_back(record);
  PkgClose(listing, kPkgKeep);
  return true;
}

// The member's file name and extension, without the folders above it.
std::string LeafOf(const std::string& member) { return member.substr(member.rfind('/') + 1); }

// Copies the opened member into a new file; false when any write fell short
// or the file could not be made.
bool CopyOut(TPkgStream* member, const std::string& output) {
  TPkgStream* out = PkgOpen(output.c_str(), "wb");
  if (!out) return false;
  bool whole = true;
  uint8_t* bytes = nullptr;
  while (int32_t count = PkgMapRead(&bytes, kCopyBlock, member))
    if (PkgWrite(bytes, 1, count, out) != static_cast<size_t>(count)) whole = false;
  TPkgInfo info;
  PkgGetInfo(member, &info);
  PkgSetTime(out, info.time);
  return PkgClose(out, whole ? kPkgKeep : kPkgAbandon) == 0 && whole;
}

} // namespace

bool UnzipArchive(const std::string& archive, std::string directory, const TLineSink& line) {
  if (!directory.empty() && directory.back() != '/' && directory.back() != '\\') directory += '/';
  std::vector<std::string> members;
  size_t prefixLength = 0;
  if (!ListMembers(archive, members, prefixLength, line)) return false;
  bool unreadable = false;
  bool allCreated = true;
  for (const std::string& member : members) {
    std::string leaf = LeafOf(member);
    std::string output = directory + leaf;
    TPkgStream* stream = PkgOpen(member.c_str(), "rb");
    // Inflating the whole member first tells whether it can be read at all.
    if (!stream || PkgSeek(stream, 0, SEEK_END) != 0 || PkgSeek(stream, 0, SEEK_SET) != 0) {
      if (stream) PkgClose(stream, kPkgKeep);
      line("Did not create " + output + " - obsolete compression type.");
      unreadable = true;
      allCreated = false;
      continue;
    }
    // A member named "." or ".." would write over the folder itself.
    bool created = leaf != "." && leaf != ".." && CopyOut(stream, output);
    PkgClose(stream, kPkgKeep);
    line(created ? "Created " + output : "Error writing " + output + ", wrote a short file");
    allCreated = allCreated && created;
  }
  return EndLines(members.empty(), unreadable, line) && allCreated;
}

bool ZipInfo(const std::string& archive, const TLineSink& line) {
  std::vector<std::string> members;
  size_t prefixLength = 0;
  if (!ListMembers(archive, members, prefixLength, line)) return false;
  line("Zip Info for " + archive);
  line("");
  bool unreadable = false;
  for (size_t i = 0; i < members.size(); ++i) {
    long length = -1;
    TPkgInfo info{};
    if (TPkgStream* stream = PkgOpen(members[i].c_str(), "rb")) {
      if (PkgSeek(stream, 0, SEEK_END) == 0) length = static_cast<long>(PkgTell(stream));
      PkgGetInfo(stream, &info);
      PkgClose(stream, kPkgKeep);
    }
    unreadable = unreadable || length < 0;
    if (i == 0) {
      line("Length  Date     Time  Name");
      line("------- -------- ----- ------------");
    }
    std::time_t time = info.time;
    std::tm local{};
    localtime_r(&time, &local);
    char text[kPkgNameSize + 64];
    std::snprintf(text, sizeof text, "%7ld %2.2d-%2.2d-%2.2d %2.2d:%2.2d %s", length, local.tm_mon + 1, local.tm_mday,
                  local.tm_year % 100, local.tm_hour, local.tm_min, members[i].c_str() + prefixLength);
    line(text);
  }
  return EndLines(members.empty(), unreadable, line);
}
