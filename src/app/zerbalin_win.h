#pragma once
// TZerbalinWin: the main window's own logic. It owns the settings, the active
// file list, the current picture, the ditherer, the log and comments texts
// and the slide-show engine; it runs the start-up from the command line,
// handles the window's commands, paints the picture into the window's pixel
// block and writes the settings back when the window closes. The window
// system reaches it through the host and TWindowSystem, so all of it runs in
// tests without a display.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/file_commands.h"
#include "app/log.h"
#include "app/mouse_bindings.h"
#include "app/option_commands.h"
#include "app/text_model.h"
#include "core/dither.h"
#include "core/image.h"
#include "platform/host.h"
#include "settings/profile.h"
#include "view/slide_list.h"
#include "view/media.h"
#include "view/slide_show.h"
#include "view/thumbnails.h"

enum class TTextWindow { Comments, Log };
enum class TSettingsDialog { Extensions, Dpi, Options };

// Key codes of the keys the accelerators use besides letters and digits.
inline constexpr int kVkBack = 0x08;
inline constexpr int kVkEscape = 0x1B;
inline constexpr int kVkTab = 0x09;
inline constexpr int kVkReturn = 0x0D;
inline constexpr int kVkSpace = 0x20;
inline constexpr int kVkPageUp = 0x21;
inline constexpr int kVkPageDown = 0x22;
inline constexpr int kVkEnd = 0x23;
inline constexpr int kVkHome = 0x24;
inline constexpr int kVkLeft = 0x25; // then up, right, down
inline constexpr int kVkInsert = 0x2D;
inline constexpr int kVkDelete = 0x2E;
inline constexpr int kVkF1 = 0x70; // then F2 ... F12
// The characters + - * / on either keyboard part, and the key giving ^.
inline constexpr int kVkMultiply = 0x6A;
inline constexpr int kVkAdd = 0x6B;
inline constexpr int kVkSubtract = 0x6D;
inline constexpr int kVkDivide = 0x6F;
inline constexpr int kVkCaret = 0xDC;

// A 32-bit pixel block the window paints from: blue, green, red, unused.
struct TSurface {
  uint8_t* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0; // bytes per row
};

// What the main window needs of the window system beyond the host.
class TWindowSystem {
public:
  virtual ~TWindowSystem() = default;
  // The multiple-selection file dialog; filters holds "label|patterns|"
  // pairs, typeIndex the selected one (1-based) in and out.
  virtual bool ChooseFiles(const std::string& caption, const std::string& filters, int32_t& typeIndex,
                           std::vector<std::string>& names) = 0;
  // The save dialog; name holds the proposal in and the choice out.
  virtual bool ChooseSaveName(const std::string& caption, const std::string& filters, int32_t& typeIndex,
                              std::string& name) = 0;
  // Shows a text window at a placement, or hides it and returns where it
  // was.
  virtual void ShowTextWindow(TTextWindow which, const TPlacement& placement) = 0;
  virtual TPlacement HideTextWindow(TTextWindow which) = 0;
  virtual TPlacement TextWindowPlacement(TTextWindow which) = 0;
  // The text or title of a shown text window changed.
  virtual void RefreshTextWindow(TTextWindow which, const std::string& title) = 0;
  // The main window's current placement.
  virtual TPlacement MainWindowPlacement() = 0;
  // Ends the message loop; the window then closes.
  virtual void Quit() = 0;
  virtual void KeepAwake(bool on) = 0;
  // Caption text: its height, and drawing it centred on centreX with its
  // bottom at bottom, in the foreground colour on the background colour
  // (both 0xRRGGBB).
  virtual int32_t CaptionHeight() = 0;
  virtual void DrawCaption(const TSurface& surface, int32_t centreX, int32_t bottom, const std::string& text,
                           uint32_t foreground, uint32_t background) = 0;
  // The settings dialogs: the file types the program opens (the ...Enab
  // settings and the extension lists), the resolutions by file type, every
  // number setting. They change the settings on OK only; false when
  // cancelled.
  virtual bool EditSettings(TSettingsDialog which, TProfile& settings) = 0;
  // Opens a local file with the desktop's application for it; false when
  // none could be started.
  virtual bool OpenDocument(const std::string& path) = 0;
  // The screen saver's settings dialog on the saver's own settings file.
  virtual void ConfigureSaver() = 0;
  // Copies a rectangle of the page to the window and shows it at once.
  virtual void ShowPageRect(const TSurface& page, const TRect& rect) = 0;
  // The system clipboard. The Put calls answer false when it could not be
  // used; ClipboardImage gives nullptr when it holds no picture. Text is
  // UTF-8 both ways.
  virtual bool ClipboardHasImage() = 0;
  virtual bool ClipboardHasText() = 0;
  virtual std::unique_ptr<TDib> ClipboardImage() = 0;
  virtual std::string ClipboardText() = 0;
  virtual bool PutClipboardImage(const TDib& dib) = 0;
  virtual bool PutClipboardText(const std::string& text) = 0;
  virtual void EmptyClipboard() = 0;
  // FillWindow: the window without menu bar and frame; AlwaysOnTop: above
  // the other windows.
  virtual void SetWindowStyle(bool fillWindow, bool alwaysOnTop) = 0;
  virtual void DiscardPendingInput() = 0;
  virtual void ShowPointer() = 0;
  // The multi-line text editor of Edit comments, on UTF-8 text; false when
  // cancelled. Text the user did not change comes back as it went in.
  virtual bool EditText(const std::string& title, std::string& text) = 0;
  // The masked password prompt; false when cancelled.
  virtual bool AskPasswordText(std::string& typed) = 0;
  // A player of the media service for a device type ("waveaudio",
  // "avivideo", ...); movies show their picture in a window of their own.
  // nullptr, with the reason in error, when there is none.
  virtual std::unique_ptr<TMediaPlayer> NewMediaPlayer(const std::string& deviceType, std::string& error) = 0;
};


class TZerbalinWin : public TShowWindow {
public:
  // Loads the settings of the mode with the command line's switches. The
  // host and the window system outlive the window.
  TZerbalinWin(Host& host, TWindowSystem& system, StartMode mode, const std::string& programName,
               std::vector<TArgument> arguments);
  ~TZerbalinWin() override;

  // The window exists: hands the settings over, shows the text windows the
  // settings ask for and posts the start-up command.
  void Start();
  // Handles a command id; false for ids it does not know.
  bool Command(int id);
  // The idle step of the message loop; true when it acted and wants to run
  // again as soon as the queue is empty.
  bool Idle();
  // The user or the desktop asks the window to close: refused while a busy
  // operation runs (which is asked to stop and the exit posted again).
  bool CanClose();
  // The window is going away: settings written, package parameters reset.
  void Close();
  // Files dropped onto the window or handed over by a second start.
  void DropFiles(const std::vector<std::string>& names);
  // Keys, buttons and movement, before their normal handling; true when the
  // slide show took the message.
  bool Input(const TShowInput& input) { return m_show.Input(input); }
  // The mouse over the client area, after the slide show's events had their
  // turn (mouse_bindings.h). A press starts a drag gesture, and answers
  // true, when the button's plain click is bound to no command; a release
  // ends the gesture or runs the click's command or gesture; a double-click
  // runs its own.
  bool MouseDown(TMouseButton button, int32_t x, int32_t y, unsigned modifiers);
  void MouseUp(TMouseButton button, int32_t x, int32_t y, unsigned modifiers);
  void MouseDoubleClick(TMouseButton button, unsigned modifiers);
  // The client area changed size. While the picture is read or written the
  // new size waits for the end of that work.
  void Resized();
  // While the picture is read or written the window is not painted: it
  // keeps what it shows, and the end of the work paints it afresh.
  bool RenderingSuspended() const { return m_renderingHolds > 0; }
  // A running show that a button or a movement stops hides the pointer.
  bool PointerHidden() const {
    return m_show.Running() &&
           (m_settings.Get(IntKey::MouseButtonEvent) != 0 || m_settings.Get(IntKey::MouseMovementEvent) != 0);
  }
  // Another program put something on the clipboard; with ClipboardEvent
  // set a picture there is taken in and its event action carried out. Runs
  // only while the window is idle.
  void ClipboardChanged();

  // Paints the window: background and the current picture laid out in it.
  // With a transition effect the picture is painted into the page instead,
  // and the effect brings it to the window afterwards (kCmShowPage).
  void Paint(const TSurface& surface);

  // The exit status of the program: 1 when a batch run met a file it could
  // not read or a picture could not be saved or printed, else 0.
  int ExitStatus() const { return m_show.MetUnreadFile() || m_actionFailed ? 1 : 0; }

  // The command line asks for a batch run (print, wallpaper or a save as of
  // every file, then exit).
  bool IsBatchRun() const;
  // Copies every log line to standard error, for runs without a screen.
  void EchoLog(bool on) { m_echoLog = on; }
  // Whether a menu command can run now (the current picture, sound or movie
  // it needs is there), and its check mark (nullopt: the item has none).
  bool CommandEnabled(int id) const;
  std::optional<bool> CommandChecked(int id) const;
  // The command a key gives (Windows virtual-key codes: letters 'A'..'Z',
  // kVk* below), or 0.
  int AcceleratorCommand(int virtualKey, unsigned modifiers) const;

  TProfile& Settings() { return m_settings; }
  TSlideList& List() { return m_list; }
  const TZerbalinTxt& Text(TTextWindow which) const { return which == TTextWindow::Log ? m_logText : m_comments; }
  const TImage& Image() const { return *m_image; }
  std::string TextWindowTitle(TTextWindow which) const;
  // Looks for the ends of sounds and movies that play; true while one
  // plays. The window calls it often while playback goes on.
  bool PollMedia() { return m_mci.Poll(); }
  const TMedia& Media() const { return m_media; }
  // The main window's title after "Zerbalin -".
  std::string PictureTitle() const;

  // TShowWindow
  bool PaintNextPortion() override;
  bool DialogOpen() const override { return m_host.ModalDialogOpen(); }
  bool PrintingOrDragging() const override { return false; }
  bool ThumbnailPageFull() const override { return m_thumbs.PageFull(); }
  bool SoundPlaying() const override { return m_media.Playing(TMediaKind::Sound); }
  bool MoviePlaying() const override { return m_media.Playing(TMediaKind::Movie); }
  void PlaySound(const std::string& name) override { m_media.PlaySound(name); }
  void PlayMovie(const std::string& name) override { m_media.PlayMovie(name); }
  void StopSound() override { m_media.Stop(TMediaKind::Sound); }
  void StopMovie() override { m_media.Stop(TMediaKind::Movie); }
  TLoaded LoadPicture(const std::string& name) override;
  TShown ShowPicture() override;
  void OpenLogWindow() override;
  bool PrintPicture() override;
  bool SaveWallpaper() override;
  bool SavePictureAs() override;
  void KeepAwake(bool on) override { m_system.KeepAwake(on); }
  bool AskPassword() override;
  void DiscardPendingInput() override { m_system.DiscardPendingInput(); }
  void ShowPointer() override { m_system.ShowPointer(); }
  bool ChooseFiles(const std::string& caption, int32_t& typeIndex, std::vector<std::string>& names) override;

private:
  void Startup();
  void ApplyKeyword(const TArgument& argument);
  void ApplySettingSwitch(const TSwitch& option);
  void AddFileArgument(std::string name, bool onlyArgument);
  void RestoreDirectory();
  void ToggleTextWindow(TTextWindow which);
  void ViewCommand(int id);
  void OptionCommand(const TOptionCommand& option);
  void StoreWindowPlacements();
  void ReplaceSettings(bool fromFile);
  void ApplyOptionChanges(const TProfile& before);
  void ShowAgain();
  void ApplyWindowStyle();
  void PaintPicture(const TSurface& surface);
  void FillAround(const TSurface& surface, const TRect& region, const TRect& picture);
  TSurface PageSurface();
  bool CompletePage(TSize size);
  void RepaintAll();
  bool CaptionShown() const;
  TRect ImageArea();
  void DrawDecorations(const TSurface& surface, const TRect& cell, const TRect& area);
  void EraseWindow();
  void ToggleThumbnails();
  void ShowThumbnails();
  bool OpenThumbnailAt(int32_t x, int32_t y);
  void ShowPage();
  void CloseFiles();
  void ClipboardCommand(int id);
  bool SheetShown() const;
  bool OnSheet(const std::function<bool()>& operation);
  std::string ProposedSaveName(int32_t typeIndex, bool sheet) const;
  bool ChooseSaveTarget(bool sheet, std::string& path);
  void ShellCommand(int id);
  void TestSaver();
  void OpenHelp();
  std::string ProgramPath();
  void CopyImageToClipboard();
  void CopyWindowToClipboard();
  bool PasteImage();
  void PasteComments();
  void ClipboardError(const char* text);
  std::string PastedPictureName();
  void ZoomGesture(int32_t x, int32_t y);
  void PanGesture(int32_t x, int32_t y);
  void EditComments();
  // The comments become these bytes, as the codecs would give them.
  void ReplaceComments(const std::string& bytes);
  void MediaCommand(int id);
  TMediaWindow MediaWindow();
  void PlaceTextWindow(TTextWindow which);
  bool SaveTo(const std::string& path, int32_t fileType);
  bool SaveWith(const std::string& path, const std::function<int()>& write);
  bool ReleaseHeldCommands();
  void SuspendRendering();
  void ResumeRendering();
  void ResetView();
  TFileCommandContext FileContext();
  std::string CurrentFile(int kind) const;
  void CopyOrMove(int id);
  void DeleteCurrentFile(int id);
  void DeleteChosenFiles();
  bool ChooseFilesFor(const std::string& caption, IntKey typeSetting, std::vector<std::string>& names);
  void MailOrZipCommand(int id);
  void AfterFileRemoved(int kind, const std::string& path);
  void WriteSettingsOnExit();
  void UpdateTitle();
  void PrepareDitherer();
  std::string OpenFilters() const;

  Host& m_host;
  TWindowSystem& m_system;
  StartMode m_mode;
  std::string m_programName;
  std::vector<TArgument> m_arguments;
  TProfile m_settings;
  TSlideList m_list;
  std::unique_ptr<TImage> m_image;
  TDither m_ditherer;
  TZerbalinTxt m_comments{TZerbalinTxt::Mode::Fixed};
  TZerbalinTxt m_logText{TZerbalinTxt::Mode::Ring};
  TLog m_log;
  TSlideShow m_show;
  TMciInterpreter m_mci;
  TMedia m_media;
  std::string m_zipPassword;
  struct TDrag {
    bool active = false;
    TMouseButton button = TMouseButton::Left;
    int32_t x = 0;
    int32_t y = 0;
  } m_drag;
  bool m_hasPicture = false;
  // The picture is read or written (a count, as a sheet's save suspends
  // rendering around the writer's own suspension); a resize came meanwhile.
  int m_renderingHolds = 0;
  bool m_resizeHeld = false;
  // Commands that came while a picture was written, to run after it.
  std::vector<int> m_heldCommands;
  // The page the picture is painted into when a transition effect shows it:
  // blue, green, red, unused pixels of the client's size.
  std::vector<uint32_t> m_page;
  TSize m_pageSize;
  bool m_pageComplete = false;
  bool m_pageShown = false;
  std::mt19937 m_random{std::random_device{}()};
  TThumbnailLayout m_thumbs{m_settings, m_random};
  // The colours of a palette display the rows are dithered to; empty when
  // rows go out as they are.
  std::vector<uint32_t> m_screenColours;
  // The number of the time-made name given to the last pasted picture.
  uint32_t m_lastPastedName = 0;
  bool m_actionFailed = false;
  bool m_closed = false;
  bool m_echoLog = false;
};
