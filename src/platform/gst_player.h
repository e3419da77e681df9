#pragma once
// A player over GStreamer's playbin. GStreamer is loaded when the first
// player is made, not at start: a batch conversion never pays for it.
//
// With ZERBALIN_MEDIA_SINK=fake in the environment, sound and picture go to
// sinks that discard them as fast as they come, for machines without a sound
// card or display.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/media_player.h"

// Makes a player; videoWindow is the native window the picture is drawn
// into (0: GStreamer's own window). nullptr with the reason in error when
// GStreamer cannot be loaded.
std::unique_ptr<TMediaPlayer> NewGstPlayer(uintptr_t videoWindow, std::string& error);
