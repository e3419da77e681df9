#pragma once
// Host: everything the program's core asks of the window system. The Qt
// layer implements it with the main window; tests use a fake with a manual
// clock; tools without a display use the headless host. The core never talks
// to the window system any other way.
#include <cstdint>
#include <string>

struct TSize {
  int32_t width = 0;
  int32_t height = 0;
};

// A rectangle as left, top, width and height in pixels.
struct TRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
};

struct TLocalTime {
  int year = 1970;
  int month = 1; // 1..12
  int day = 1;   // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

// Outcome of dispatching one waiting message.
enum class TPumpResult {
  Empty,      // nothing was waiting
  Dispatched, // one message went through pre-processing and was dispatched
  Quit,       // a request to end the program; the host posts it again
};

// Bits of ModifierKeys().
inline constexpr unsigned kModifierShift = 1;
inline constexpr unsigned kModifierControl = 2;
inline constexpr unsigned kModifierAlt = 4;

enum class TBoxButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class TBoxIcon { None, Information, Exclamation, Question };
enum class TBoxAnswer { Ok, Cancel, Yes, No };

class Host {
public:
  virtual ~Host() = default;

  // Queues a command for the main window; it runs after the current one.
  virtual void PostCommand(int command) = 0;
  // Milliseconds from an arbitrary start; wraps like a 32-bit counter.
  virtual uint32_t TickCount() const = 0;
  // Lets the time pass without taking messages (paced transitions).
  virtual void Sleep(uint32_t milliseconds) = 0;
  virtual TLocalTime LocalTime() const = 0;
  // Takes the next waiting message, if any, without waiting, and dispatches
  // it after the main window's own pre-processing (slide-show keys and
  // clicks, accelerators).
  virtual TPumpResult PumpOneMessage() = 0;

  // The main window's title.
  virtual std::string Title() const = 0;
  virtual void SetTitle(const std::string& title) = 0;
  // Asks for a repaint of part of the main window's client area.
  virtual void InvalidateRect(const TRect& rect) = 0;
  virtual TSize ClientSize() const = 0;
  virtual TSize ScreenSize() const = 0;
  // Bits per pixel of the display (24 on Linux unless emulated).
  virtual int DisplayDepth() const = 0;
  virtual int DotsPerInch() const = 0;
  // Bytes of physical memory of the machine.
  virtual uint64_t PhysicalMemory() const = 0;
  // The kModifier* bits of the keys held down now.
  virtual unsigned ModifierKeys() const = 0;
  // Shows the progress pointer for a percentage 0..100 (values outside keep
  // the percentage shown before).
  virtual void ShowProgressPointer(int percent) = 0;

  virtual TBoxAnswer MessageBox(const std::string& text, const std::string& caption, TBoxButtons buttons,
                                TBoxIcon icon) = 0;
  // A single-line prompt; value holds the proposal and receives the answer.
  // False when the user cancelled.
  virtual bool Prompt(const std::string& caption, const std::string& text, std::string& value) = 0;
  // A modal window is open: a message box, a prompt or any other dialog,
  // however it was opened. The slide show waits meanwhile.
  virtual bool ModalDialogOpen() const = 0;
};
