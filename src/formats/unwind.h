#pragma once
// The C codec libraries (libjpeg, libpng) report fatal errors through a
// callback that must not return; it leaves by longjmp to a target set below
// the reader or writer entry, which then destroys the library object.
// Everything that lives across such a jump is kept in one record owned by the
// entry, created before the target is set; the functions the jump passes
// over hold no objects with destructors, so skipping them loses nothing.
#include <csetjmp>

// Runs step with the unwind target set: true when it completed, false when
// a fatal error or an abort jumped back. The jump lands in this frame, which
// reads nothing of its own after it, so no variable can have been clobbered;
// it must stay a frame of its own for that.
template <class TStep>
[[gnu::noinline]] bool RunUnwindable(std::jmp_buf& unwind, TStep&& step) {
  if (setjmp(unwind) != 0) return false;
  step();
  return true;
}
