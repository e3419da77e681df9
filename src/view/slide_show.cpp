#include "view/slide_show.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "app/busy.h"
#include "core/log_sink.h"
#include "settings/profile.h"
#include "view/slide_list.h"

namespace {

constexpr const char* kNoFile = "No File";
// The mouse counts as moved beyond this many pixels either way.
constexpr int32_t kMovementPixels = 16;
constexpr int kActionsPerEvent = 12;

// The seven events with the first item of their menus.
struct TEventMenu {
  int firstItem;
  IntKey setting;
};
constexpr TEventMenu kEventMenus[] = {
    {kCmKeystrokeEvent, IntKey::KeystrokeEvent},         {kCmMouseButtonEvent, IntKey::MouseButtonEvent},
    {kCmMouseMovementEvent, IntKey::MouseMovementEvent}, {kCmImageDisplayEvent, IntKey::ImageDisplayEvent},
    {kCmScreenDoneEvent, IntKey::ScreenDoneEvent},       {kCmSlideshowDoneEvent, IntKey::SlideshowDoneEvent},
    {kCmClipboardEvent, IntKey::ClipboardEvent},
};

// The event whose menu holds the item, or nullptr.
const TEventMenu* EventMenuOf(int id) {
  for (const TEventMenu& menu : kEventMenus)
    if (id >= menu.firstItem && id < menu.firstItem + kActionsPerEvent) return &menu;
  return nullptr;
}

const char* const kArtAdvisory[] = {
    "This image is in AOL's proprietary .ART file format.",
    "You can convert it to a .BMP or .JPG file by running",
    "the AOL software, using File|Open... to load this",
    "file, and File|Save as... to save as .jpg or .bmp.",
    "You can make the AOL software download normal .gif",
    "and .jpg files by turning on the following AOL option:",
    "Members|Preferences|WWW|Uncompressed Graphics",
};

TSlideLink LinkOf(int32_t direction) {
  switch (direction) {
  case 2: return kRandomNext;
  case -1: return kSortedPrev;
  case -2: return kRandomPrev;
  default: return kSortedNext;
  }
}

} // namespace

TSlideShow::TSlideShow(Host& host, TProfile& settings, TSlideList& list, TShowWindow& window)
    : m_host(host), m_settings(settings), m_list(list), m_window(window), m_displayTime(host.TickCount()),
      m_soundTime(m_displayTime), m_movieTime(m_displayTime) {}

bool TSlideShow::Running() const { return m_settings.Get(IntKey::RunSlideshow) != 0; }

bool TSlideShow::Command(int id) {
  const TEventMenu* menu = EventMenuOf(id);
  const bool repeat = id >= kCmRepeat1 && id <= kCmRepeat9;
  const bool convert = id >= kCmConvertGif && id <= kCmConvertTif;
  switch (id) {
  case kCmOpen:
  case kCmNext:
  case kCmRandom:
  case kCmPrevious:
  case kCmReload:
  case kCmRunSlideshow:
  case kCmFileSpec:
  case kCmGoTo:
  case kCmDelayImages:
  case kCmDelaySounds:
  case kCmDelayMovies:
  case kCmRandomOrder:
  case kCmEraseNewPages: break;
  default:
    if (!menu && !repeat && !convert) return false;
  }
  // A command that arrives while a long task runs stops the task and is dropped.
  if (BusyCheck()) return true;
  if (menu) {
    m_settings.Set(menu->setting, id - menu->firstItem);
  } else if (repeat) {
    m_repeat = id - kCmRepeat1 + 1;
  } else if (convert || id == kCmOpen) {
    Open(id);
  } else if (id == kCmNext || id == kCmRandom || id == kCmPrevious) {
    Move(id);
  } else if (id == kCmReload) {
    LoadAndShow();
  } else if (id == kCmRunSlideshow) {
    StartOrStop(!Running());
  } else if (id == kCmFileSpec) {
    AskFileSpec();
  } else if (id == kCmGoTo) {
    AskGoTo();
  } else if (id == kCmRandomOrder || id == kCmEraseNewPages) {
    const IntKey key = id == kCmRandomOrder ? IntKey::RandomOrder : IntKey::EraseNewPages;
    m_settings.Set(key, !m_settings.Get(key));
  } else {
    AskDelay(id);
  }
  return true;
}

void TSlideShow::PictureTakenIn(const std::string& name) {
  m_imageName = name;
  m_formatName = "bmp";
  m_readOutcome = TReadOutcome::Complete;
  m_displayTime = m_host.TickCount();
  m_imageShown = true;
}

std::optional<bool> TSlideShow::Checked(int id) const {
  if (const TEventMenu* menu = EventMenuOf(id)) return m_settings.Get(menu->setting) == id - menu->firstItem;
  switch (id) {
  case kCmRunSlideshow: return Running();
  case kCmRandomOrder: return m_settings.Get(IntKey::RandomOrder) != 0;
  case kCmEraseNewPages: return m_settings.Get(IntKey::EraseNewPages) != 0;
  default: return std::nullopt;
  }
}

// Steps repeat-count times along the link of the command; Previous goes back
// along the order the show went forward in.
void TSlideShow::Move(int id) {
  TSlideLink link = kSortedNext;
  if (id == kCmNext) {
    m_direction = 1;
  } else if (id == kCmRandom) {
    m_direction = 2;
    link = kRandomNext;
  } else {
    const bool sorted = m_direction == 1 || m_direction == -1;
    m_direction = sorted ? -1 : -2;
    link = sorted ? kSortedPrev : kRandomPrev;
  }
  m_list.Step(link, m_repeat);
  m_repeat = 1;
  m_host.PostCommand(kCmReload);
}

// The start of the delay that applies before the next move, with the delay;
// nullptr while a sound or movie that must end first still plays.
uint32_t* TSlideShow::ChosenDelayStart(int32_t& delaySeconds) {
  const bool randomOrder = m_settings.Get(IntKey::RandomOrder) != 0;
  const TSlideLink link = LinkOf(m_direction);
  const bool sound = (randomOrder && m_list.NextIsSound(kRandomNext)) || m_list.NextIsSound(link);
  const bool movie = (randomOrder && m_list.NextIsMovie(kRandomNext)) || m_list.NextIsMovie(link);
  if (sound) {
    if (m_window.SoundPlaying() && !m_settings.Get(IntKey::SoundLoop)) return nullptr;
    delaySeconds = m_settings.Get(IntKey::DelayBetweenSounds);
    return &m_soundTime;
  }
  if (movie) {
    if (m_window.MoviePlaying() && !m_settings.Get(IntKey::MovieLoop)) return nullptr;
    delaySeconds = m_settings.Get(IntKey::DelayBetweenMovies);
    return &m_movieTime;
  }
  delaySeconds = m_settings.Get(IntKey::DelayBetweenImages);
  return &m_displayTime;
}

bool TSlideShow::Idle() {
  if (BusyIsActive() || m_window.DialogOpen()) return false;
  if (m_window.PaintNextPortion()) return true;
  const uint32_t now = m_host.TickCount();
  if (m_window.SoundPlaying()) m_soundTime = now;
  if (m_window.MoviePlaying()) m_movieTime = now;
  if (m_window.PrintingOrDragging() || !Running() || m_list.IsEmpty()) return false;
  int32_t delay = 0;
  uint32_t* start = ChosenDelayStart(delay);
  if (!start || (now - *start) / 1000 < static_cast<uint32_t>(std::max(delay, 0))) return false;
  if (m_imageShown || m_soundStarted || m_movieStarted || m_mediaPassed) {
    // The delay after a display has passed: the events, once; the move
    // comes at the next idle call.
    const bool last = m_list.IsLast();
    const bool grid = m_settings.Get(IntKey::ThumbnailsEnable) && !m_settings.Get(IntKey::ThumbnailsRandom) &&
                      (m_settings.Get(IntKey::ThumbnailsAcross) >= 2 || m_settings.Get(IntKey::ThumbnailsDown) >= 2);
    const bool imageShown = m_imageShown;
    m_imageShown = m_soundStarted = m_movieStarted = m_mediaPassed = false;
    if (imageShown) CarryOut(m_settings.Get(IntKey::ImageDisplayEvent));
    if (imageShown && grid && (last || m_window.ThumbnailPageFull())) CarryOut(m_settings.Get(IntKey::ScreenDoneEvent));
    if (last) CarryOut(m_settings.Get(IntKey::SlideshowDoneEvent));
    return true;
  }
  const bool randomOrder = m_settings.Get(IntKey::RandomOrder) != 0;
  m_host.PostCommand(randomOrder || m_direction == 2 ? kCmRandom : m_direction == 1 ? kCmNext : kCmPrevious);
  *start = now;
  return true;
}

void TSlideShow::LoadAndShow() {
  if (m_window.SoundPlaying() && !m_settings.Get(IntKey::SoundOverlap)) m_window.StopSound();
  if (m_window.MoviePlaying() && !m_settings.Get(IntKey::MovieOverlap)) m_window.StopMovie();
  const std::string title = m_host.Title();
  if (m_list.IsEmpty()) {
    m_imageName = m_soundName = m_movieName = kNoFile;
    m_formatName = "???";
    m_readOutcome = TReadOutcome::CannotOpen;
    return;
  }
  const std::string name = m_list.CurrentName(true);
  m_host.SetTitle(" Loading: [" + name + "]");
  const bool sound = m_list.IsSound(name);
  const bool movie = !sound && m_list.IsMovie(name);
  if (!sound && !movie) {
    m_imageName = name;
    const uint32_t started = m_host.TickCount();
    m_displayTime = started;
    const TShowWindow::TLoaded loaded = m_window.LoadPicture(name);
    m_formatName = loaded.format;
    m_readOutcome = loaded.outcome;
    m_host.SetTitle(title);
    LogLoading(name, m_host.TickCount() - started);
    if (m_formatName == "art" && m_settings.Get(IntKey::EnableARTAdvisory)) AdviseOnArt();
    const TShowWindow::TShown shown = m_window.ShowPicture();
    if (m_settings.Get(IntKey::AutoComments) && shown.hasComments != (m_settings.Get(IntKey::ShowComments) != 0))
      m_host.PostCommand(kCmShowComments);
    m_displayTime = m_host.TickCount();
    m_list.RecordPlacement(shown.placement, static_cast<int32_t>(m_displayTime));
    m_imageShown = true;
  }
  if (sound || movie) m_host.SetTitle(title);
  // A sound or movie whose kind is switched off plays nothing, yet its entry
  // was reached: after the last one the show is done (a batch run that ends
  // with a sound ends there instead of starting over).
  m_mediaPassed = (sound && !m_settings.Get(IntKey::SoundEnable)) || (movie && !m_settings.Get(IntKey::MovieEnable));
  if (sound) {
    m_soundName = name;
    if (m_settings.Get(IntKey::SoundEnable)) {
      m_window.PlaySound(name);
      m_soundStarted = true;
    }
  } else if (movie) {
    m_movieName = name;
    if (m_settings.Get(IntKey::MovieEnable)) {
      m_window.PlayMovie(name);
      m_movieStarted = true;
    }
  }
}

// A picture that was shown, whole, in part or reduced, was loaded; of any
// other the log says what went wrong, as the title does.
void TSlideShow::LogLoading(const std::string& name, uint32_t milliseconds) const {
  const TReadFailure* failure = ReadFailure(m_readOutcome);
  if (!failure || m_readOutcome == TReadOutcome::Reduced)
    LogMessage("Loaded image %s in %ld milliseconds", name.c_str(), static_cast<long>(milliseconds));
  else
    LogMessage("Could not load image %s: %s", name.c_str(), failure->words);
}

// AOL's pictures cannot be read; the log tells how to get them in a common
// format, and opens the first time when nothing else would show it.
void TSlideShow::AdviseOnArt() {
  for (const char* line : kArtAdvisory) LogMessage("%s", line);
  if (!m_artAdvised && !Running() && !m_settings.Get(IntKey::ShowLog)) m_window.OpenLogWindow();
  m_artAdvised = true;
}

void TSlideShow::StartOrStop(bool run) {
  m_settings.Set(IntKey::RunSlideshow, run ? 1 : 0);
  RunningChanged(run);
}

void TSlideShow::RunForMode(bool run) {
  const bool change = run != Running();
  m_settings.Force(IntKey::RunSlideshow, run ? 1 : 0);
  if (change) RunningChanged(run);
}

// A show that starts makes its first move at once; while it runs the
// desktop keeps the screen on.
void TSlideShow::RunningChanged(bool run) {
  if (run) m_displayTime = m_soundTime = m_movieTime = 0;
  m_window.KeepAwake(run);
}

void TSlideShow::CarryOut(int32_t action) {
  switch (action) {
  case kActionNone:
  case kActionIgnore: return;
  case kActionStop:
  case kActionExit:
    // A show that a mode runs stops as part of that mode: what the stop
    // changes is no choice of the user's either.
    if (Running() && m_settings.IsForced(IntKey::RunSlideshow)) {
      RunForMode(false);
      m_settings.Force(IntKey::ImageDisplayEvent, kActionNone);
    } else if (Running()) {
      StartOrStop(false);
      m_settings.Set(IntKey::ImageDisplayEvent, kActionNone);
    }
    if (action == kActionExit) m_host.PostCommand(kCmExit);
    return;
  default:
    if (action >= kActionPrint && action <= kActionSaveTif)
      PictureAction(action);
    else
      m_host.PostCommand(action);
  }
}

// Print, wallpaper and save as act on the picture as its file holds it,
// never on the blank or partial one a file that could not be read leaves
// (a stop, a metafile no player drew), nor on one held reduced for want of
// memory: nothing is written then, and the log says so.
bool TSlideShow::MayActOnPicture(int32_t action) {
  if (PictureWasRead(m_readOutcome)) return true;
  m_metUnreadFile = true;
  const char* what = action == kActionPrint ? "printed" : action == kActionWallpaper ? "set as wallpaper" : "saved";
  const char* why = m_readOutcome == TReadOutcome::Reduced ? "could be held only reduced" : "could not be read";
  LogMessage("Not %s: %s %s", what, m_imageName.c_str(), why);
  return false;
}

void TSlideShow::PictureAction(int32_t action) {
  if (!MayActOnPicture(action)) return;
  if (action == kActionPrint) {
    m_window.PrintPicture();
  } else if (action == kActionWallpaper) {
    m_window.SaveWallpaper();
  } else {
    m_settings.Set(IntKey::SaveAsIndex, action - 2);
    m_window.SavePictureAs();
  }
}

bool TSlideShow::Input(const TShowInput& input) {
  if (m_prompting) return true;
  if (input.kind == TShowInput::kMovement && (!Running() || !m_hasReference)) {
    m_hasReference = true;
    m_referenceX = input.x;
    m_referenceY = input.y;
  }
  if (!Running()) return false;
  IntKey setting = IntKey::KeystrokeEvent;
  if (input.kind == TShowInput::kButton) setting = IntKey::MouseButtonEvent;
  if (input.kind == TShowInput::kMovement) {
    if (std::abs(input.x - m_referenceX) <= kMovementPixels && std::abs(input.y - m_referenceY) <= kMovementPixels)
      return false;
    m_window.ShowPointer();
    setting = IntKey::MouseMovementEvent;
  }
  const int32_t action = m_settings.Get(setting);
  if (action == kActionNone) return false;
  if (action == kActionExit && m_settings.Get(IntKey::SlideshowPassword)) {
    m_prompting = true;
    const bool given = m_window.AskPassword();
    m_prompting = false;
    if (!given) {
      m_window.DiscardPendingInput();
      return true;
    }
  }
  CarryOut(action);
  return true;
}

void TSlideShow::AskDelay(int id) {
  static const char* const kPrompts[] = {"Number of seconds to delay between images:",
                                         "Number of seconds to delay between sounds:",
                                         "Number of seconds to delay between movies:"};
  static const IntKey kKeys[] = {IntKey::DelayBetweenImages, IntKey::DelayBetweenSounds, IntKey::DelayBetweenMovies};
  const int index = id - kCmDelayImages;
  std::string value = std::to_string(m_settings.Get(kKeys[index]));
  if (!m_host.Prompt("Zerbalin", kPrompts[index], value)) return;
  const long seconds = std::strtol(value.substr(0, 6).c_str(), nullptr, 10);
  m_settings.Set(kKeys[index], static_cast<int32_t>(std::clamp(seconds, 0L, 9999L)));
}

// Each name of a selection may hold several file specs separated by ';'.
void TSlideShow::AddNames(const std::vector<std::string>& names, bool afterCurrent, bool scanDirectory) {
  const int32_t typeIndex = m_settings.Get(IntKey::OpenIndex);
  const bool subdirectories = m_settings.Get(IntKey::AutoSearch) != 0;
  BusyBegin();
  for (const std::string& name : names) m_list.AddList(name, typeIndex, scanDirectory, subdirectories, afterCurrent);
  BusyEnd();
}

// Open fills the list with the chosen files; a Convert command does the same
// and then saves every one of them in its format.
void TSlideShow::Open(int id) {
  const bool convert = id != kCmOpen;
  int32_t typeIndex = m_settings.Get(IntKey::OpenIndex);
  std::vector<std::string> names;
  if (!m_window.ChooseFiles(convert ? "Convert" : "Open", typeIndex, names)) return;
  m_list.Clear();
  m_settings.Set(IntKey::OpenIndex, typeIndex);
  const bool scan = names.size() == 1 && m_settings.Get(IntKey::EnableDirectoryScan) && !convert;
  AddNames(names, true, scan);
  if (convert) {
    m_list.MakeCurrentHead();
    SetUpBatch(kActionSaveGif + id - kCmConvertGif, kActionStop);
  }
  m_host.PostCommand(kCmReload);
}

// The batch's values hold for the session, but they are the run's, not the
// user's: the settings file keeps what the user had.
void TSlideShow::SetUpBatch(int32_t displayAction, int32_t doneAction) {
  RunForMode(true);
  for (IntKey key : {IntKey::RandomOrder, IntKey::SoundEnable, IntKey::MovieEnable, IntKey::DelayBetweenImages,
                     IntKey::DelayBetweenSounds, IntKey::DelayBetweenMovies})
    m_settings.Force(key, 0);
  m_settings.Force(IntKey::ImageDisplayEvent, displayAction);
  m_settings.Force(IntKey::SlideshowDoneEvent, doneAction);
  m_metUnreadFile = false;
}

void TSlideShow::AskFileSpec() {
  std::string fileSpec = m_settings.GetString(StrKey::FileSpec);
  if (!m_host.Prompt("Zerbalin", "File spec (i.e. file1;dir1;dir2):", fileSpec)) return;
  fileSpec = fileSpec.substr(0, 259);
  m_settings.SetString(StrKey::FileSpec, fileSpec);
  if (fileSpec.empty()) return;
  m_list.Clear();
  AddNames({fileSpec}, false, false);
  m_host.PostCommand(kCmReload);
}

void TSlideShow::AskGoTo() {
  if (m_list.IsEmpty()) return;
  std::string name;
  if (!m_host.Prompt("Zerbalin", "Go to slide (file name):", name) || name.empty()) return;
  BusyBegin();
  m_list.SelectByName(name);
  BusyEnd();
  m_host.PostCommand(kCmReload);
}
