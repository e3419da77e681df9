#pragma once
// The slide-show engine: moves through the active file list on command and,
// while the show runs, on its own from the idle time of the message loop,
// with separate delays for pictures, sounds and movies, and carries out the
// actions configured for its events (print, wallpaper, save as, stop, exit,
// or any menu command).
//
// It reaches the window system only through the host and TShowWindow, so
// every rule runs in tests with a manual clock.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/command_ids.h"
#include "formats/codec_results.h"
#include "platform/host.h"

#include "view/slide_list.h"

class TProfile;

// The action codes of the events.
enum TEventAction : int32_t {
  kActionNone = 0,
  kActionPrint = 1,
  kActionWallpaper = 2,
  kActionSaveGif = 3, // through kActionSaveTif = 8, in the order of the file type codes
  kActionSaveTif = 8,
  kActionStop = 9,
  kActionExit = 10,
  kActionIgnore = 11,
  // 12 and above: the menu command of that id.
};

// What the engine asks of the main window.
class TShowWindow {
public:
  virtual ~TShowWindow() = default;
  // Paints the next portion of a transition effect or thumbnail page still
  // being painted; false when there is none.
  virtual bool PaintNextPortion() = 0;
  // A dialog (a child window other than the comments and log windows) is open.
  virtual bool DialogOpen() const = 0;
  // A print job runs or a button drag is in progress.
  virtual bool PrintingOrDragging() const = 0;
  // The thumbnail page being filled has no room left.
  virtual bool ThumbnailPageFull() const = 0;

  virtual bool SoundPlaying() const = 0;
  virtual bool MoviePlaying() const = 0;
  virtual void PlaySound(const std::string& name) = 0;
  virtual void PlayMovie(const std::string& name) = 0;
  virtual void StopSound() = 0;
  virtual void StopMovie() = 0;

  // What LoadPicture read: the format's extension, "???" when none was
  // recognised (the picture is then the blank one), and how much of the
  // picture was read.
  struct TLoaded {
    std::string format;
    TReadOutcome outcome;
  };
  // Reads the named picture into the current image and prepares it (palette
  // sort, display palette, uniform borders cropped as the settings ask).
  virtual TLoaded LoadPicture(const std::string& name) = 0;
  struct TShown {
    TPlacementRect placement; // where the picture was drawn in the window
    bool hasComments = false;
  };
  // Shows the current image and refreshes the comments window.
  virtual TShown ShowPicture() = 0;
  // Opens the log window.
  virtual void OpenLogWindow() = 0;

  // The picture actions on the current image; false when they failed.
  virtual bool PrintPicture() = 0;
  virtual bool SaveWallpaper() = 0;
  // Saves in the format of SaveAsIndex under the current name with its
  // extension, asking nothing while the show runs.
  virtual bool SavePictureAs() = 0;

  // Keeps the desktop from blanking the screen while a show runs.
  virtual void KeepAwake(bool on) = 0;

  // The password prompt; true when the password was given (or none is set).
  virtual bool AskPassword() = 0;
  // Drops the mouse and key messages that wait in the queue.
  virtual void DiscardPendingInput() = 0;
  // Shows the mouse pointer again after the show hid it.
  virtual void ShowPointer() = 0;
  // The file dialog with the caption ("Open" or "Convert"), starting at the
  // file-type index typeIndex; on OK the chosen names and the type index
  // chosen. False when cancelled.
  virtual bool ChooseFiles(const std::string& caption, int32_t& typeIndex, std::vector<std::string>& names) = 0;
};

// One input message the main window sees before dispatching it: a mouse
// button or key going down, or the mouse at a position.
struct TShowInput {
  enum TKind { kButton, kMovement, kKey } kind = kKey;
  int32_t x = 0;
  int32_t y = 0;
};

class TSlideShow {
public:
  // All four outlive the engine.
  TSlideShow(Host& host, TProfile& settings, TSlideList& list, TShowWindow& window);

  // Handles the engine's commands; false for any other id.
  bool Command(int id);
  // The check mark of the engine's menu items (Run slide show, Random order,
  // Erase new pages, the event actions); nullopt for the others.
  std::optional<bool> Checked(int id) const;
  // The idle step, run whenever the message queue is empty. True when it
  // acted (carried out the events of a display or moved on), so that the
  // loop runs it again at once instead of waiting for its timer.
  bool Idle();
  // Carries out an event's action code.
  void CarryOut(int32_t action);
  // A picture taken in from outside the list's files (the clipboard) is the
  // current picture under name, shown now.
  void PictureTakenIn(const std::string& name);
  // The input events: true when the show swallows the message (its event
  // has an action), false when it goes on to its normal handling.
  bool Input(const TShowInput& input);

  // Sets up a batch run that carries out displayAction (print, wallpaper or
  // a save as) on every picture and then doneAction (stop for the Convert
  // commands, exit for the command line); starts the show. The values are
  // forced (TProfile::Force): the settings file keeps the user's.
  void SetUpBatch(int32_t displayAction, int32_t doneAction);
  // Starts or stops the show for a mode of the program (a batch run, a
  // thumbnail sheet): the settings file keeps whether the user had it
  // running.
  void RunForMode(bool run);

  bool Running() const;
  // The format name of the current picture ("???" when none could be read).
  const std::string& FormatName() const { return m_formatName; }
  const std::string& ImageName() const { return m_imageName; }
  const std::string& SoundName() const { return m_soundName; }
  const std::string& MovieName() const { return m_movieName; }
  // How much of the current picture its reader read.
  TReadOutcome ReadOutcome() const { return m_readOutcome; }
  // A picture action met a file that could not be read since the start; a
  // batch run then ends with a failure status.
  bool MetUnreadFile() const { return m_metUnreadFile; }
  // Whether a picture action (print, wallpaper, a save as) may act on the
  // current picture: only when its file was read, at full size. Otherwise
  // the log says why nothing is done, and the file counts as not read.
  bool MayActOnPicture(int32_t action);

private:
  void Move(int id);
  void LoadAndShow();
  void LogLoading(const std::string& name, uint32_t milliseconds) const;
  void AdviseOnArt();
  void StartOrStop(bool run);
  void RunningChanged(bool run);
  void PictureAction(int32_t action);
  void AskDelay(int id);
  void Open(int id);
  void AskFileSpec();
  void AskGoTo();
  void AddNames(const std::vector<std::string>& names, bool afterCurrent, bool scanDirectory);
  uint32_t* ChosenDelayStart(int32_t& delaySeconds);

  Host& m_host;
  TProfile& m_settings;
  TSlideList& m_list;
  TShowWindow& m_window;
  int32_t m_direction = 1;
  int32_t m_repeat = 1;
  uint32_t m_displayTime;
  uint32_t m_soundTime;
  uint32_t m_movieTime;
  bool m_imageShown = false;
  bool m_soundStarted = false;
  bool m_movieStarted = false;
  // A sound or movie entry was reached while its kind is switched off.
  bool m_mediaPassed = false;
  bool m_metUnreadFile = false;
  std::string m_imageName;
  std::string m_soundName;
  std::string m_movieName;
  std::string m_formatName = "???";
  TReadOutcome m_readOutcome = TReadOutcome::CannotOpen;
  // Where movement is measured from; taken while the show is stopped.
  bool m_hasReference = false;
  int32_t m_referenceX = 0;
  int32_t m_referenceY = 0;
  bool m_prompting = false;
  bool m_artAdvised = false;
};
