#pragma once
// The File menu's copy, move and delete commands, without their dialogs and
// without touching the file list or the view: the main window shows the
// dialogs' results to these functions and acts on what they return. All file
// access goes through the package layer, so a source may be a member of an
// archive or an encoded file, and a deletion honours the recycle-bin setting.
// Every outcome is written to the log.
#include <functional>
#include <string>
#include <vector>

#include "app/log.h"
#include "platform/host.h"
#include "settings/profile.h"

// What the commands need from the main window. showLog brings the log window
// up when it is hidden; it may be empty.
struct TFileCommandContext {
  Host& host;
  TProfile& settings;
  TLog& log;
  std::function<void()> showLog;
};

// Whether a name opens as an object through the package layer: a file, or a
// member inside an archive or another container.
bool PackageObjectExists(const std::string& name);

enum class TCopyResult {
  Copied,  // the target holds the source's bytes (or was the source itself)
  Refused, // the user declined, nothing was written and nothing logged
  Failed,  // logged as an error; any old target is as it was
};

// The three kinds of current file the window keeps.
enum class TFileKind { Image, Sound, Movie };
enum class TTransfer { Copy, Move };

// Copies source to target through the package layer in the busy state, with
// the percentage shown as blocks go by, and gives the target the source's
// file time. A target that names the source itself is left alone and counts
// as copied. With confirm set, an existing target is replaced only when the
// user answers Yes to "File Exists". A failed or stopped copy gives the
// target up, so an old target keeps its bytes. With move set the source is
// deleted once the copy succeeded; a source that cannot be deleted makes the
// move fail (the copy stays).
TCopyResult CopyThroughPackage(TFileCommandContext& context, const std::string& source,
                               const std::string& target, bool move, bool confirm);

// The path Copy to and Move to propose: the folder of the remembered target
// when it names one, else the current file's folder, followed by the current
// file's name.
std::string ProposeTarget(const std::string& remembered, const std::string& currentPath);

// Copy to / Move to for the current file of a kind (currentPath empty or
// "No File" when there is none, which does nothing and answers Refused).
// Prompts with the proposal, completes a folder with the file's name, copies
// with the overwrite question and remembers the target in the CopyImageTo ..
// MoveMovieTo setting. A cancelled prompt answers Refused. After a Move that
// answers Copied the caller takes the file off the file list, fills the image
// area for an image and reloads.
TCopyResult CopyOrMoveTo(TFileCommandContext& context, TFileKind kind, TTransfer transfer,
                         const std::string& currentPath);

// Delete for the current file: asks "Confirm" when EnableConfirmDelete is
// set, deletes through the package layer (into the Trash when that is set)
// and logs the outcome. True when the file was deleted; the caller then
// takes it off the file list and reloads.
bool DeleteCurrent(TFileCommandContext& context, const std::string& currentPath);

// Delete files for the names the Delete dialog returned, each of which may
// hold several names separated by ';'. One question covers them all. Returns
// how many were deleted.
int DeleteFiles(TFileCommandContext& context, const std::vector<std::string>& names);
