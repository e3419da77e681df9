#pragma once
// The Image menu and the scroll keys: commands that change how the current
// picture is shown without touching its file. Zoom, crop and panning change
// the image record's view; turns, mirror, flip and tone change the settings
// Rotate, Brightness, Contrast and Invert, which persist from picture to
// picture.
#include <cstdint>

class TImage;
class TProfile;

// Zoom in ... Reset of the Image menu (Reload is the slide show's) and the
// scroll keys, ids of command_ids.h.
bool IsViewCommand(int id);

// Carries out a view command on the picture shown in an area of the given
// size; returns the tone.h kEffect* bits the window acts on (rebuild the
// display palette, show the picture again), kEffectNone for a command at
// its limit.
uint32_t ApplyViewCommand(int id, TImage& image, TProfile& settings, int32_t areaWidth, int32_t areaHeight);
