#pragma once
// The Qt main window: the host of the program's core and the window system
// TZerbalinWin asks for dialogs and text windows. It owns one TZerbalinWin,
// turns posted commands into queued events, forwards keys, clicks, drops
// and resizes to it, and shows the pixels it paints.
#include <QElapsedTimer>
#include <QImage>
#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/zerbalin_win.h"
#include "platform/host.h"

class QClipboard;
class QFileDialog;
class QRubberBand;
class TQtTextWindow;

// The masked password prompt; false when cancelled.
bool AskPasswordDialog(QWidget* parent, std::string& typed);

class TCanvas : public QWidget {
public:
  explicit TCanvas(QWidget* parent);
  void SetWindow(TZerbalinWin* window) { m_window = window; }
  // A batch run without a screen shows nothing to anyone: its pictures are
  // not painted.
  void SetUnseen(bool unseen) { m_unseen = unseen; }
  void MarkDirty() { m_dirty = true; }
  // Copies a rectangle of the page into the window's pixels and shows it at
  // once.
  void ShowPageRect(const TSurface& page, const TRect& rect);
  // Draws the picture moved by offset while a pan drag runs.
  void SetScroll(QPoint offset);

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  TZerbalinWin* m_window = nullptr;
  QImage m_surface;
  QPoint m_scroll;
  bool m_dirty = true;
  bool m_unseen = false;
};

class TQtMainWindow : public QMainWindow, public Host, public TWindowSystem {
public:
  // headless: no one can answer a dialog (the offscreen platform); boxes
  // take their default answer and dialogs count as cancelled. A headless
  // batch run paints nothing.
  TQtMainWindow(StartMode mode, const std::string& programName, std::vector<TArgument> arguments, bool headless);
  ~TQtMainWindow() override;

  // Shows the window as the settings place it and starts the core.
  void Begin();
  // A file name handed over by a second start of the program.
  void HandOver(const std::string& name);
  int ExitStatus() const { return m_window->ExitStatus(); }
  bool IsBatchRun() const { return m_window->IsBatchRun(); }

  // Host
  void PostCommand(int command) override;
  uint32_t TickCount() const override;
  void Sleep(uint32_t milliseconds) override;
  TLocalTime LocalTime() const override;
  TPumpResult PumpOneMessage() override;
  std::string Title() const override { return m_title; }
  void SetTitle(const std::string& title) override;
  void InvalidateRect(const TRect& rect) override;
  TSize ClientSize() const override;
  TSize ScreenSize() const override;
  int DisplayDepth() const override;
  int DotsPerInch() const override;
  uint64_t PhysicalMemory() const override;
  unsigned ModifierKeys() const override;
  void ShowProgressPointer(int percent) override;
  TBoxAnswer MessageBox(const std::string& text, const std::string& caption, TBoxButtons buttons,
                        TBoxIcon icon) override;
  bool Prompt(const std::string& caption, const std::string& text, std::string& value) override;
  bool ModalDialogOpen() const override;

  // TWindowSystem
  bool ChooseFiles(const std::string& caption, const std::string& filters, int32_t& typeIndex,
                   std::vector<std::string>& names) override;
  bool ChooseSaveName(const std::string& caption, const std::string& filters, int32_t& typeIndex,
                      std::string& name) override;
  void ShowTextWindow(TTextWindow which, const TPlacement& placement) override;
  TPlacement TextWindowPlacement(TTextWindow which) override;
  TPlacement HideTextWindow(TTextWindow which) override;
  void RefreshTextWindow(TTextWindow which, const std::string& title) override;
  TPlacement MainWindowPlacement() override;
  void Quit() override { close(); }
  void KeepAwake(bool on) override;
  void SetWindowStyle(bool fillWindow, bool alwaysOnTop) override;
  void ShowPageRect(const TSurface& page, const TRect& rect) override { m_canvas->ShowPageRect(page, rect); }
  int32_t CaptionHeight() override;
  bool EditSettings(TSettingsDialog which, TProfile& settings) override;
  void ConfigureSaver() override;
  bool OpenDocument(const std::string& path) override;
  void DrawCaption(const TSurface& surface, int32_t centreX, int32_t bottom, const std::string& text,
                   uint32_t foreground, uint32_t background) override;
  bool ClipboardHasImage() override;
  bool ClipboardHasText() override;
  std::unique_ptr<TDib> ClipboardImage() override;
  std::string ClipboardText() override;
  bool PutClipboardImage(const TDib& dib) override;
  bool PutClipboardText(const std::string& text) override;
  void EmptyClipboard() override;
  void DiscardPendingInput() override;
  void ShowPointer() override {
    m_canvas->unsetCursor();
    m_pointerHidden = false;
  }
  bool EditText(const std::string& title, std::string& text) override;
  bool AskPasswordText(std::string& typed) override;
  std::unique_ptr<TMediaPlayer> NewMediaPlayer(const std::string& deviceType, std::string& error) override;

protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

private:
  bool RunFileDialog(QFileDialog& dialog, const std::string& filters, int32_t& typeIndex, QStringList& names);
  void RunIdle();
  void ShowAbout();
  void ChangeClipboard(const std::function<void(QClipboard*)>& change);
  // Tab and Shift+Tab are the window's keys, not focus moves.
  bool focusNextPrevChild(bool) override { return false; }
  TQtTextWindow*& TextWindow(TTextWindow which) { return which == TTextWindow::Log ? m_logWindow : m_commentsWindow; }

  StartMode m_mode;
  bool m_headless;
  QElapsedTimer m_clock;
  QTimer m_timer;
  // Looks for the ends of sounds and movies while they play.
  QTimer m_mediaTimer;
  TCanvas* m_canvas;
  std::string m_title;
  TQtTextWindow* m_logWindow = nullptr;
  TQtTextWindow* m_commentsWindow = nullptr;
  std::unique_ptr<TZerbalinWin> m_window;
  bool m_inIdle = false;
  // Commands posted and not yet run: the idle step waits until there are none.
  int m_pendingCommands = 0;
  bool m_closing = false;
  // Another program changed the clipboard; seen at the next idle step.
  bool m_clipboardChanged = false;
  bool m_changingClipboard = false;
  bool m_pointerHidden = false;
  QRubberBand* m_rubberBand = nullptr;
  QPoint m_dragStart;
  // The desktop's token for the screen-saver inhibition, 0 when none is held.
  uint m_inhibitCookie = 0;
};
