#pragma once
// The desktop wallpaper: the picture is saved as a BMP file in the
// configuration folder and the desktop is told to show it. Linux desktops
// each keep their background in their own settings, so the desktop named by
// XDG_CURRENT_DESKTOP is served first through its own tool (gsettings for
// GNOME and its relatives, Plasma's scripting call over D-Bus for KDE,
// xfconf-query for XFCE), then every other desktop whose tool exists, and at
// last the desktop portal. Every step goes to the log.
#include <string>

#include "app/log.h"

// Where Save Wallpaper writes: the configuration folder, then the program
// file's name (programPath's last component without its extension) with the
// extension ".bmp".
std::string WallpaperPath(const std::string& programPath);

// Sets the BMP file at bmpPath as the background of every desktop and
// screen. The tools run without a shell, each given at most a few seconds,
// so a desktop service that does not answer cannot hang the program. False,
// with a line saying the wallpaper was saved but not set, when no desktop
// took it.
bool SetDesktopWallpaper(const std::string& bmpPath, TLog& log);
