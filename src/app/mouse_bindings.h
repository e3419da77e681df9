#pragma once
// The mouse on the main window: clicks and double-clicks run the commands
// the MouseEvent settings bind to them, and where a setting holds 0 the
// built-in gestures apply: a left drag zooms to the dragged rectangle (a
// small one centres there and zooms in), a right drag pans the picture (a
// short one centres and zooms out), Ctrl+left centres and zooms out,
// Shift+left crops, Ctrl+Shift+left turns, a right double-click resets the
// view.
#include <cstdint>

class TProfile;

enum class TMouseButton { Left, Right };

// The command a click (on release) or a double-click of the button with
// the kModifier* bits is bound to; 0 when its setting holds none.
int BoundMouseCommand(const TProfile& settings, TMouseButton button, bool doubleClick, unsigned modifiers);

// Drags shorter than this many pixels both ways are clicks.
inline constexpr int32_t kDragThreshold = 15;
