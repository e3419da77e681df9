#pragma once
// Ties the program into the desktop the freedesktop.org way: a menu entry
// (zerbalin.desktop in the user's applications folder) and the program as
// the default application of file types in the user's mimeapps.list. The
// application each type had before is kept in associations.ini of the
// configuration folder, so that removing an association gives the type back
// to it.
#include <string>
#include <string_view>
#include <vector>

#include "app/line_sink.h"
#include "settings/ini_file.h"

struct TDesktopPlaces {
  std::string menuEntry; // $XDG_DATA_HOME/applications/zerbalin.desktop
  std::string mimeApps;  // $XDG_CONFIG_HOME/mimeapps.list
  std::string backup;    // <configuration folder>/associations.ini
};
TDesktopPlaces UserDesktopPlaces();

// The MIME type the desktop gives files of an extension (".gif" ->
// "image/gif"), from shared-mime-info's glob lists; "" when it has none.
std::string MimeTypeOf(std::string_view extension);

class TAssociations {
public:
  TAssociations(const TDesktopPlaces& places, TLineSink log);

  // Makes the program the default application of the type, keeping the
  // application it had before; nothing when it is the program's already.
  void Associate(const std::string& mimeType);
  // Gives the type back to the application kept for it, or, when none was
  // kept, drops the program as its default.
  void Disassociate(const std::string& mimeType);
  // The types the program is the default application of, or holds a kept
  // application for.
  std::vector<std::string> Types() const;
  // Writes both files; false when one could not be written.
  bool Save();

private:
  TIniFile m_apps;
  TIniFile m_backup;
  TLineSink m_log;
};

// Writes the menu entry that starts the program with the files given and
// opens the types; false when it could not be written.
bool WriteMenuEntry(const TDesktopPlaces& places, const std::string& program, const std::vector<std::string>& types);
