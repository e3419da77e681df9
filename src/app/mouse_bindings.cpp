#include "app/mouse_bindings.h"

#include "platform/host.h"
#include "settings/profile.h"

int BoundMouseCommand(const TProfile& settings, TMouseButton button, bool doubleClick, unsigned modifiers) {
  // The sixteen settings run left, right for each of no modifier, Ctrl,
  // Shift and Ctrl+Shift, first for clicks, then for double-clicks.
  const int modifierIndex =
      ((modifiers & kModifierControl) ? 1 : 0) + ((modifiers & kModifierShift) ? 2 : 0);
  const int index = (doubleClick ? 8 : 0) + modifierIndex * 2 + (button == TMouseButton::Right ? 1 : 0);
  return settings.Get(static_cast<IntKey>(static_cast<int>(IntKey::MouseEventL) + index));
}
