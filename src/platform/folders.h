#pragma once
// Where the program keeps its configuration and where the user keeps pictures.
// Both come from the environment, read each time they are asked for, so tests
// can point them at a temporary directory.
#include <string>
#include <string_view>

// $ZERBALIN_HOME, else $XDG_CONFIG_HOME/zerbalin, else ~/.config/zerbalin.
// The folder may not exist yet.
std::string ConfigFolder();
// A file of the configuration folder: the settings file, and the
// "control.ini", "system.ini" and "win.ini" that stand in for the system's.
std::string ConfigFilePath(std::string_view name);

// $XDG_PICTURES_DIR, else the XDG_PICTURES_DIR line of
// ~/.config/user-dirs.dirs (or $XDG_CONFIG_HOME/user-dirs.dirs), else
// ~/Pictures. Never ends with '/' unless it is the root.
std::string PicturesFolder();
