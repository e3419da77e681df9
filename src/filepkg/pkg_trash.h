#pragma once
// Deleting disk files, to a freedesktop.org Trash when the package is asked
// to.
#include <string>

// Deletes the file at the absolute path. With "EnableRecycleBin" on and an
// "AsyncWindow" set, the file is moved into the Trash of its file system (so
// it can be restored); where no trash can be made, or the file cannot be
// moved into it, it is removed and the log says so.
// Returns 0, or -1 when the file could not be deleted at all.
int DiskDeleteFile(const char* path);

// The steps of a move to the Trash, for the tests of the choice of trash.

// The top directory of the file system that holds path: the highest folder
// above it on the same device, folders resolved. Empty when path's folder
// cannot be examined.
std::string MountTopOf(const std::string& path);
// The trash of the user in the top directory topDir of a file system, made
// when missing: topDir/.Trash/$uid when topDir/.Trash is a directory (not a
// symbolic link) with the sticky bit, else topDir/.Trash-$uid. Empty when
// neither can be made.
std::string TopDirTrash(const std::string& topDir);
// The trash the file at path (folders resolved) goes to, made when missing,
// and in topDir the top directory its info file's Path is relative to
// (empty for the home trash, whose paths are absolute). Empty when no trash
// can be made for the file.
std::string TrashFor(const std::string& path, std::string* topDir);
// Moves the file at path into trash under a name no other trashed file has,
// with its info file. False when it could not be moved.
bool MoveToTrash(const std::string& path, const std::string& trash, const std::string& topDir);
