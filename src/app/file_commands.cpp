// Copy, move and delete through the package layer. There is no copy or
// rename operation in the package: a copy reads the source block by block
// into a target opened for writing, and a move is a copy followed by the
// deletion of the source. Writing a target replaces it only when its handle
// is closed keeping the bytes, so a copy that fails half-way gives the
// handle up and whatever the target held before stays as it was.
#include "app/file_commands.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>

#include "app/busy.h"
#include "filepkg/filepkg.h"

namespace {

// Bytes moved per read and write.
constexpr int32_t kCopyBlock = 16384;
// The display name of a kind that has no current file.
constexpr const char* kNoFile = "No File";
constexpr const char* kPromptCaption = "Zerbalin";

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

size_t LeafStart(const std::string& path) {
  const size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? 0 : separator + 1;
}

bool HasNoFile(const std::string& path) { return path.empty() || path == kNoFile; }

// Whether target names the source itself. Names that differ only in case
// may reach the same file, because a name missing on disk is matched without
// regard to case; they count as the same only when the target opens as the
// very object the source opens as, so a.gif can still be copied to a
// separate A.gif.
bool SameObject(const std::string& source, const std::string& target) {
  const std::string sourceName = PkgFullName(source);
  const std::string targetName = PkgFullName(target);
  if (sourceName.empty() || targetName.empty()) return false;
  if (sourceName == targetName) return true;
  if (strcasecmp(sourceName.c_str(), targetName.c_str()) != 0) return false;
  TPkgStream* sourceStream = PkgOpen(source.c_str(), "rb");
  TPkgStream* targetStream = PkgOpen(target.c_str(), "rb");
  TPkgInfo sourceInfo{};
  TPkgInfo targetInfo{};
  const bool same = sourceStream && targetStream && PkgGetInfo(sourceStream, &sourceInfo) == 0 &&
                    PkgGetInfo(targetStream, &targetInfo) == 0 &&
                    std::string_view(sourceInfo.name) == std::string_view(targetInfo.name);
  PkgClose(sourceStream, kPkgKeep);
  PkgClose(targetStream, kPkgKeep);
  return same;
}

bool ConfirmReplace(Host& host, const std::string& target) {
  return host.MessageBox(target + "\nThis file already exists.\n\nReplace existing file?", "File Exists",
                         TBoxButtons::YesNo, TBoxIcon::Question) == TBoxAnswer::Yes;
}

// The source's length, with the stream back at its start; -1 when it cannot
// be found.
int64_t StreamLength(TPkgStream* stream) {
  if (PkgSeek(stream, 0, 2) != 0) return -1;
  const int64_t length = PkgTell(stream);
  return PkgSeek(stream, 0, 0) == 0 ? length : -1;
}

// Copies every byte with the percentage after each block. False when a
// write falls short, the user stops the copy, or fewer bytes arrive than
// the source's length promised (a member whose data is damaged).
bool CopyBytes(TPkgStream* in, TPkgStream* out) {
  const int64_t length = StreamLength(in);
  if (length < 0) return false;
  int64_t copied = 0;
  uint8_t* data = nullptr;
  for (int32_t count; (count = PkgMapRead(&data, kCopyBlock, in)) > 0;) {
    if (PkgWrite(data, 1, static_cast<size_t>(count), out) != static_cast<size_t>(count)) return false;
    copied += count;
    if (BusyProgress(static_cast<int>(copied * 100 / (length + 1))) != 0) return false;
  }
  return copied == length;
}

// Copies the opened source into target and closes both. The source is
// closed first, so that an error there still gives the target up.
bool CopyStream(TPkgStream* in, const std::string& target) {
  TPkgStream* out = PkgOpen(target.c_str(), "wb");
  if (!out) {
    PkgClose(in, kPkgKeep);
    return false;
  }
  bool copied = CopyBytes(in, out);
  TPkgInfo info{};
  if (copied && PkgGetInfo(in, &info) == 0) PkgSetTime(out, info.time);
  copied = PkgClose(in, kPkgKeep) == 0 && copied;
  return PkgClose(out, copied ? kPkgKeep : kPkgAbandon) == 0 && copied;
}

void LogCopyError(TFileCommandContext& context, const std::string& source, const std::string& target) {
  context.log.Log("Error occurred while copying %s to %s", source.c_str(), target.c_str());
  if (context.showLog) context.showLog();
}

StrKey RememberedTargetKey(TFileKind kind, TTransfer transfer) {
  static constexpr StrKey kCopyKeys[] = {StrKey::CopyImageTo, StrKey::CopySoundTo, StrKey::CopyMovieTo};
  static constexpr StrKey kMoveKeys[] = {StrKey::MoveImageTo, StrKey::MoveSoundTo, StrKey::MoveMovieTo};
  const int index = static_cast<int>(kind);
  return transfer == TTransfer::Copy ? kCopyKeys[index] : kMoveKeys[index];
}

bool IsDiskDirectory(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool ConfirmDelete(TFileCommandContext& context, const std::string& what) {
  if (context.settings.Get(IntKey::EnableConfirmDelete) == 0) return true;
  return context.host.MessageBox("Are you sure you want to delete " + what + "?", "Confirm", TBoxButtons::YesNo,
                                 TBoxIcon::Question) == TBoxAnswer::Yes;
}

void LogDeleteError(TFileCommandContext& context, const std::string& path) {
  context.log.Log("Error occurred while deleting %s", path.c_str());
}

// Deletes one file and logs the outcome.
bool DeleteLogged(TFileCommandContext& context, const std::string& path) {
  if (PkgDelete(path.c_str()) != 0) {
    LogDeleteError(context, path);
    return false;
  }
  context.log.Log("Deleted %s", path.c_str());
  return true;
}

} // namespace

bool PackageObjectExists(const std::string& name) {
  TPkgStream* stream = PkgOpen(name.c_str(), "rb");
  PkgClose(stream, kPkgKeep);
  return stream != nullptr;
}

TCopyResult CopyThroughPackage(TFileCommandContext& context, const std::string& source, const std::string& target,
                               bool move, bool confirm) {
  TBusyScope busy;
  BusyProgress(0);
  if (SameObject(source, target)) {
    context.log.Log("Copied %s to %s", source.c_str(), target.c_str());
    return TCopyResult::Copied;
  }
  TPkgStream* in = PkgOpen(source.c_str(), "rb");
  if (!in) {
    LogCopyError(context, source, target);
    return TCopyResult::Failed;
  }
  if (confirm && PackageObjectExists(target) && !ConfirmReplace(context.host, target)) {
    PkgClose(in, kPkgKeep);
    return TCopyResult::Refused;
  }
  context.log.Log("Copying %s to %s", source.c_str(), target.c_str());
  if (!CopyStream(in, target)) {
    LogCopyError(context, source, target);
    return TCopyResult::Failed;
  }
  context.log.Log("Copied %s to %s", source.c_str(), target.c_str());
  // A source that stays after its move would be on the disk twice; the
  // move then counts as failed, so the file list keeps it.
  if (move && PkgDelete(source.c_str()) != 0) {
    LogDeleteError(context, source);
    if (context.showLog) context.showLog();
    return TCopyResult::Failed;
  }
  return TCopyResult::Copied;
}

std::string ProposeTarget(const std::string& remembered, const std::string& currentPath) {
  const size_t rememberedLeaf = LeafStart(remembered);
  const size_t currentLeaf = LeafStart(currentPath);
  const std::string folder = rememberedLeaf > 0 ? remembered.substr(0, rememberedLeaf)
                                                : currentPath.substr(0, currentLeaf);
  return folder + currentPath.substr(currentLeaf);
}

TCopyResult CopyOrMoveTo(TFileCommandContext& context, TFileKind kind, TTransfer transfer,
                         const std::string& currentPath) {
  if (HasNoFile(currentPath)) return TCopyResult::Refused;
  const StrKey key = RememberedTargetKey(kind, transfer);
  std::string target = ProposeTarget(context.settings.GetString(key), currentPath);
  const char* verb = transfer == TTransfer::Copy ? "Copy" : "Move";
  if (!context.host.Prompt(kPromptCaption, std::string(verb) + " " + currentPath + " to:", target) ||
      target.empty())
    return TCopyResult::Refused;
  if (IsDiskDirectory(target)) {
    if (!IsSeparator(target.back())) target += '/';
    target += currentPath.substr(LeafStart(currentPath));
  }
  const TCopyResult result = CopyThroughPackage(context, currentPath, target, transfer == TTransfer::Move, true);
  context.settings.SetString(key, target);
  return result;
}

bool DeleteCurrent(TFileCommandContext& context, const std::string& currentPath) {
  if (HasNoFile(currentPath) || !ConfirmDelete(context, currentPath)) return false;
  return DeleteLogged(context, currentPath);
}

int DeleteFiles(TFileCommandContext& context, const std::vector<std::string>& names) {
  if (names.empty() || !ConfirmDelete(context, "these files")) return 0;
  TBusyScope busy;
  BusyProgress(50);
  int deleted = 0;
  for (const std::string& entry : names) {
    size_t start = 0;
    while (start <= entry.size()) {
      const size_t end = std::min(entry.find(';', start), entry.size());
      const std::string name = entry.substr(start, end - start);
      if (!name.empty() && DeleteLogged(context, name)) ++deleted;
      start = end + 1;
    }
  }
  return deleted;
}
