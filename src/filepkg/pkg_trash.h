#pragma once
// Deleting disk files, to the user's Trash when the package is asked to.

// Deletes the file at the absolute path. With "EnableRecycleBin" on and an
// "AsyncWindow" set, the file is moved into the freedesktop.org Trash of the
// user (so it can be restored); when that is not possible it is removed.
// Returns 0, or -1 when the file could not be deleted at all.
int DiskDeleteFile(const char* path);
