#pragma once
// The players the Qt window gives the core: GStreamer players whose movies
// draw into a window of their own, and which tell the window when they
// start playing so that it watches for their end.
#include <functional>
#include <memory>
#include <string>

#include "platform/media_player.h"

class QWidget;

// A player for a device type; movie types get a picture window (none
// without a screen). started runs whenever the player starts playing.
std::unique_ptr<TMediaPlayer> NewQtMediaPlayer(QWidget* parent, bool headless, const std::string& deviceType,
                                               std::function<void()> started, std::string& error);
