#include "app/zerbalin_win.h"

#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <span>
#include <thread>

#include "app/busy.h"
#include "app/command_ids.h"
#include "app/comment_text.h"
#include "app/encoded_files.h"
#include "app/file_commands.h"
#include "app/package_settings.h"
#include "app/password.h"
#include "app/view_commands.h"
#include "app/shell_commands.h"
#include "app/wallpaper.h"
#include "app/zip_commands.h"
#include "output/clipboard.h"
#include "view/effects.h"
#include "view/screen_palette.h"
#include "core/display_palette.h"
#include "core/progress.h"
#include "core/tone.h"
#include "core/view_geometry.h"
#include "filepkg/filepkg.h"
#include "formats/bmp.h"
#include "formats/codec_results.h"
#include "formats/comment_sink.h"
#include "formats/picture_io.h"
#include "platform/folders.h"
#include "settings/profile_tables.h"

namespace {

constexpr const char* kNoFile = "No File";
// The most text the comments editor hands back.
constexpr size_t kMaxEditedComments = 31999;
constexpr const char* kSaveFilters =
    "GIF File|*.gif|BMP File|*.bmp|PCX File|*.pcx|TGA File|*.tga|JPG File|*.jpg|TIF File|*.tif|";
constexpr const char* kSaveExtensions[] = {".gif", ".bmp", ".pcx", ".tga", ".jpg", ".tif"};
// The main window stands for the package's AsyncWindow: any value but 0
// says a window is there to receive the answers of host-name lookups.
constexpr int32_t kMainWindowHandle = 1;

// The comments window receives what the readers find; one main window exists.
TZerbalinTxt* g_commentsText = nullptr;

void CommentsAddChar(int c) { g_commentsText->AddChar(c); }
std::string CommentsGetText() { return g_commentsText->GetText(); }
constexpr TCommentSink kCommentsSink{CommentsAddChar, CommentsGetText};

// name with its extension (the part after the last '.' of the last
// component) replaced.
std::string WithExtension(const std::string& name, const char* extension) {
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  const size_t stem = dot != std::string::npos && (slash == std::string::npos || dot > slash) ? dot : name.size();
  return name.substr(0, stem) + extension;
}

bool FileExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

// How many numbers a made-up name tries before it gives up.
constexpr uint32_t kMadeUpNameTries = 9999;

// Names the program makes up ("thumb001", the time for a pasted picture)
// take the next free number: the first n from first on for which no object
// is named stem(n) with any of the extensions, looked up through the package
// layer, so inside archives too. nullopt when kMadeUpNameTries of them are
// all taken.
std::optional<uint32_t> NextFreeNumber(uint32_t first, const std::function<std::string(uint32_t)>& stem,
                                       std::span<const char* const> extensions) {
  for (uint32_t n = first; n - first < kMadeUpNameTries; ++n) {
    const std::string name = stem(n);
    if (std::none_of(extensions.begin(), extensions.end(),
                     [&](const char* extension) { return PackageObjectExists(name + extension); }))
      return n;
  }
  return std::nullopt;
}

std::string CurrentDirectory() {
  char buffer[4096];
  return ::getcwd(buffer, sizeof buffer) ? buffer : "";
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

struct TAccelerator {
  int key;
  unsigned modifiers;
  int command;
};

// The keys of the window's commands; letters without Shift.
constexpr TAccelerator kAccelerators[] = {
    {'O', 0, kCmOpen},
    {'C', 0, kCmClose},
    {'D', 0, kCmDecode},
    {'E', 0, kCmEncode},
    {'U', 0, kCmUnzip},
    {'I', 0, kCmZipInfo},
    {kVkEscape, 0, kCmFillWindow},
    {'V', 0, kCmSaveAs},
    {'W', 0, kCmSaveWallpaper},
    {kVkSpace, 0, kCmNext},
    {kVkReturn, 0, kCmRandom},
    {kVkBack, 0, kCmPrevious},
    {kVkInsert, 0, kCmCopyImage},
    {kVkInsert, kModifierControl, kCmCopyImage + 1},
    {kVkInsert, kModifierAlt, kCmCopyMovie},
    {kVkInsert, kModifierShift, kCmMoveImage},
    {kVkInsert, kModifierShift | kModifierControl, kCmMoveImage + 1},
    {kVkInsert, kModifierShift | kModifierAlt, kCmMoveMovie},
    {kVkDelete, 0, kCmDeleteImage},
    {kVkDelete, kModifierControl, kCmDeleteImage + 1},
    {kVkDelete, kModifierAlt, kCmDeleteMovie},
    {kVkDelete, kModifierShift, kCmDeleteFiles},
    {'H', 0, kCmShowComments},
    {'L', 0, kCmShowLog},
    {'X', 0, kCmExit},
    {'C', kModifierControl, kCmCopyImageToClipboard},
    {'V', kModifierControl, kCmPasteImage},
    {'O', kModifierControl, kCmCopyComments},
    {'M', kModifierControl, kCmPasteComments},
    {'E', kModifierControl, kCmEditComments},
    {'W', kModifierControl, kCmCopyWindow},
    {kVkPageUp, 0, kCmZoomIn},
    {kVkPageUp, kModifierShift, kCmCrop},
    {kVkPageDown, 0, kCmZoomOut},
    {kVkEnd, 0, kCmRotate},
    {kVkEnd, kModifierShift, kCmMirror},
    {kVkEnd, kModifierControl, kCmFlip},
    {kVkAdd, 0, kCmBrighter},
    {kVkSubtract, 0, kCmDimmer},
    {kVkMultiply, 0, kCmMoreContrast},
    {kVkDivide, 0, kCmLessContrast},
    {kVkCaret, 0, kCmInvert},
    {kVkHome, 0, kCmResetView},
    {kVkHome, kModifierShift, kCmReload},
    {kVkLeft, 0, kCmPanLeft},
    {kVkLeft + 1, 0, kCmPanLeft + 1},
    {kVkLeft + 2, 0, kCmPanLeft + 2},
    {kVkLeft + 3, 0, kCmPanLeft + 3},
    {kVkLeft, kModifierShift, kCmPanPageLeft},
    {kVkLeft + 1, kModifierShift, kCmPanPageLeft + 1},
    {kVkLeft + 2, kModifierShift, kCmPanPageLeft + 2},
    {kVkLeft + 3, kModifierShift, kCmPanPageLeft + 3},
    {kVkLeft, kModifierControl, kCmPanPixelLeft},
    {kVkLeft + 1, kModifierControl, kCmPanPixelLeft + 1},
    {kVkLeft + 2, kModifierControl, kCmPanPixelLeft + 2},
    {kVkLeft + 3, kModifierControl, kCmPanPixelLeft + 3},
    {kVkLeft, kModifierAlt, kCmNarrower},
    {kVkLeft + 1, kModifierAlt, kCmNarrower + 1},
    {kVkLeft + 2, kModifierAlt, kCmNarrower + 2},
    {kVkLeft + 3, kModifierAlt, kCmNarrower + 3},
    {'R', 0, kCmRunSlideshow},
    {'T', 0, kCmShowThumbnails},
    {'B', 0, kCmThumbnailsEnable},
    {kVkF1 + 8, 0, kCmThumbnailsAcross},
    {kVkF1 + 9, 0, kCmThumbnailsDown},
    {'G', 0, kCmGoTo},
    {'F', 0, kCmFileSpec},
    {kVkF1 + 4, 0, kCmSaveOptions},
    {kVkF1 + 5, 0, kCmRestoreOptions},
    {kVkF1 + 6, 0, kCmDefaultOptions},
    {kVkF1 + 7, 0, kCmRememberOptions},
    {'Q', 0, kCmQuickLook},
    {kVkTab, 0, kCmAutoScale},
    {kVkTab, kModifierShift, kCmAutoFit},
    {'A', 0, kCmAbout},
    {kVkF1, 0, kCmHelpContents},
    {kVkF1, kModifierControl, kCmUsingHelp},
    {kVkF1, kModifierShift, kCmEffectDirect},
    {kVkF1 + 1, kModifierShift, kCmEffectDirect + 1},
    {kVkF1 + 2, kModifierShift, kCmEffectDirect + 2},
    {kVkF1 + 3, kModifierShift, kCmEffectDirect + 3},
    {kVkF1 + 4, kModifierShift, kCmEffectDirect + 4},
    {kVkF1 + 5, kModifierShift, kCmEffectDirect + 5},
    {kVkF1 + 6, kModifierShift, kCmEffectDirect + 6},
    {kVkF1 + 7, kModifierShift, kCmEffectDirect + 7},
    {kVkF1 + 8, kModifierShift, kCmEffectDirect + 8},
    {kVkF1 + 9, kModifierShift, kCmEffectDirect + 9},
    {kVkF1 + 10, kModifierShift, kCmEffectDirect + 10},
    {kVkF1 + 11, kModifierShift, kCmEffectRandom},
    {'1', 0, kCmRepeat1},
    {'2', 0, kCmRepeat1 + 1},
    {'3', 0, kCmRepeat1 + 2},
    {'4', 0, kCmRepeat1 + 3},
    {'5', 0, kCmRepeat1 + 4},
    {'6', 0, kCmRepeat1 + 5},
    {'7', 0, kCmRepeat1 + 6},
    {'8', 0, kCmRepeat1 + 7},
    {'9', 0, kCmRepeat9},
    {kVkF1 + 1, kModifierControl, kCmSoundEnable},
    {kVkF1 + 2, kModifierControl, kCmSoundSynchronous},
    {kVkAdd, kModifierControl, kCmLouder},
    {kVkSubtract, kModifierControl, kCmSofter},
    {kVkMultiply, kModifierControl, kCmSoundLoop},
    {kVkHome, kModifierControl, kCmReplaySound},
    {kVkF1 + 1, kModifierAlt, kCmMovieEnable},
    {kVkF1 + 2, kModifierAlt, kCmMovieSynchronous},
    {kVkMultiply, kModifierAlt, kCmMovieLoop},
    {kVkHome, kModifierAlt, kCmReplayMovie},
};

// The paced effects keep to the window's clock.
class TWindowClock : public TEffectClock {
public:
  explicit TWindowClock(Host& host) : m_host(host) {}
  uint32_t Now() override { return m_host.TickCount(); }
  void WaitUntil(uint32_t tick) override {
    while (static_cast<int32_t>(tick - m_host.TickCount()) > 0) m_host.Sleep(1);
  }

private:
  Host& m_host;
};

uint32_t PixelOf(const TProfile& settings, IntKey red, IntKey green, IntKey blue) {
  return 0xff000000u | static_cast<uint32_t>(settings.Get(red)) << 16 | static_cast<uint32_t>(settings.Get(green)) << 8 |
         static_cast<uint32_t>(settings.Get(blue));
}

uint32_t BackgroundPixel(const TProfile& settings) {
  return PixelOf(settings, IntKey::BackgroundRed, IntKey::BackgroundGreen, IntKey::BackgroundBlue);
}

void FillRect(const TSurface& surface, const TRect& rect, uint32_t pixel) {
  const int32_t left = std::clamp(rect.left, 0, surface.width);
  const int32_t right = std::clamp(rect.left + rect.width, left, surface.width);
  for (int32_t y = std::max(rect.top, 0); y < std::min(rect.top + rect.height, surface.height); ++y) {
    uint32_t* out = reinterpret_cast<uint32_t*>(surface.pixels + static_cast<ptrdiff_t>(y) * surface.stride);
    std::fill(out + left, out + right, pixel);
  }
}

} // namespace

TZerbalinWin::TZerbalinWin(Host& host, TWindowSystem& system, StartMode mode, const std::string& programName,
                           std::vector<TArgument> arguments)
    : m_host(host), m_system(system), m_mode(mode), m_programName(programName), m_arguments(std::move(arguments)),
      m_settings(TProfileStart{mode, programName, SettingSwitches(m_arguments), HasInstallSwitch(m_arguments)}, host),
      m_list(m_settings), m_image(NewImageFor(m_settings)), m_ditherer(m_settings.Get(IntKey::DitherQuality)),
      m_log(host, m_logText), m_show(host, m_settings, m_list, *this),
      m_mci(
          [this](const std::string& type) {
            std::string error;
            std::unique_ptr<TMediaPlayer> player = m_system.NewMediaPlayer(type, error);
            if (!player) m_log.Log("err: %s", error.c_str());
            return player;
          },
          [this] { m_host.PostCommand(kCmMediaNotify); }),
      m_media(m_settings, m_mci, MediaWindow()) {
  g_commentsText = &m_comments;
  SetCommentSink(&kCommentsSink);
  TLog::InstallAsSink(&m_log);
  m_log.SetOnLine([this](std::string_view line) {
    if (m_echoLog) std::fprintf(stderr, "%.*s\n", static_cast<int>(line.size()), line.data());
    if (m_settings.Get(IntKey::ShowLog))
      m_system.RefreshTextWindow(TTextWindow::Log, TextWindowTitle(TTextWindow::Log));
  });
}

TZerbalinWin::~TZerbalinWin() {
  SetProgressHook(nullptr);
  TLog::InstallAsSink(nullptr);
  SetCommentSink(nullptr);
  g_commentsText = nullptr;
  BusyAttach(nullptr);
}

void TZerbalinWin::Start() {
  // The saver's show is the saver's: it stops only because the saver ends,
  // which its settings file must not keep, or the next start would show one
  // still picture.
  if (m_mode == StartMode::Saver) m_settings.Force(IntKey::RunSlideshow, m_settings.Get(IntKey::RunSlideshow));
  BusyAttach(&m_host);
  SetProgressHook(&BusyProgressHook());
  HandSettingsToPackage(m_settings, kMainWindowHandle);
  BusyConfigure(m_settings.Get(IntKey::EnableWindowPercent), m_settings.Get(IntKey::EnableCursorPercent));
  ApplyWindowStyle();
  if (m_settings.Get(IntKey::ShowComments)) PlaceTextWindow(TTextWindow::Comments);
  if (m_settings.Get(IntKey::ShowLog)) PlaceTextWindow(TTextWindow::Log);
  m_log.Log("Started %s", "Zerbalin");
  UpdateTitle();
  m_host.PostCommand(kCmStartup);
}

bool TZerbalinWin::Command(int id) {
  // Showing the page is part of painting: it may come while a long
  // operation pumps messages, which it must not stop.
  if (id == kCmShowPage) {
    ShowPage();
    return true;
  }
  // A picture being written is never stopped, and a dialog's answer is
  // never overtaken (a command posted before it opened would otherwise run
  // in its loop and change the picture under it): a command meanwhile waits
  // and runs afterwards.
  if ((BusyIsActive() && !BusyIsStoppable()) || m_host.ModalDialogOpen()) {
    m_heldCommands.push_back(id);
    return true;
  }
  if (BusyCheck()) return true;
  switch (id) {
  case kCmStartup: Startup(); return true;
  case kCmInstall:
  case kCmRemove:
  case kCmConfigureExtensions:
  case kCmInstallSaver:
  case kCmRemoveSaver: ShellCommand(id); return true;
  case kCmConfigureSaver: m_system.ConfigureSaver(); return true;
  case kCmConfigureDpi:
  case kCmConfigureOptions: {
    const TProfile before = m_settings;
    if (m_system.EditSettings(id == kCmConfigureDpi ? TSettingsDialog::Dpi : TSettingsDialog::Options, m_settings))
      ApplyOptionChanges(before);
    return true;
  }
  case kCmTestSaver: TestSaver(); return true;
  case kCmHelpContents:
  case kCmUsingHelp: OpenHelp(); return true;
  case kCmClose: CloseFiles(); return true;
  case kCmShowThumbnails: ShowThumbnails(); return true;
  case kCmThumbnailsEnable: ToggleThumbnails(); return true;
  case kCmCopyImageToClipboard:
  case kCmPasteImage:
  case kCmCopyComments:
  case kCmPasteComments:
  case kCmCopyWindow: ClipboardCommand(id); return true;
  case kCmSaveAs: {
    // A sheet is saved as one picture, under a name of its own; a picture
    // only when it was read.
    const bool sheet = SheetShown();
    std::string path;
    if ((sheet || m_show.MayActOnPicture(kActionSaveGif)) && ChooseSaveTarget(sheet, path))
      OnSheet([&] { return SaveTo(path, m_settings.Get(IntKey::SaveAsIndex)); });
    return true;
  }
  case kCmSaveWallpaper: SaveWallpaper(); return true;
  case kCmCopyImage:
  case kCmCopyImage + 1:
  case kCmCopyMovie:
  case kCmMoveImage:
  case kCmMoveImage + 1:
  case kCmMoveMovie: CopyOrMove(id); return true;
  case kCmDeleteImage:
  case kCmDeleteImage + 1:
  case kCmDeleteMovie: DeleteCurrentFile(id); return true;
  case kCmDeleteFiles: DeleteChosenFiles(); return true;
  case kCmDecode:
  case kCmEncode:
  case kCmUnzip:
  case kCmZipInfo: MailOrZipCommand(id); return true;
  case kCmShowComments: ToggleTextWindow(TTextWindow::Comments); return true;
  case kCmShowLog: ToggleTextWindow(TTextWindow::Log); return true;
  case kCmEditComments: EditComments(); return true;
  case kCmLouder:
  case kCmSofter:
  case kCmReplaySound:
  case kCmReplayMovie:
  case kCmMediaNotify: MediaCommand(id); return true;
  case kCmExit: m_system.Quit(); return true;
  case kCmSaveOptions:
    StoreWindowPlacements();
    m_settings.WriteAll();
    return true;
  case kCmRestoreOptions: ReplaceSettings(true); return true;
  case kCmDefaultOptions: ReplaceSettings(false); return true;
  default:
    if (const TOptionCommand* option = FindOptionCommand(id)) {
      OptionCommand(*option);
      return true;
    }
    if (!IsViewCommand(id)) return m_show.Command(id);
    ViewCommand(id);
    return true;
  }
}

bool TZerbalinWin::CommandEnabled(int id) const {
  switch (id) {
  case kCmSaveAs:
  case kCmSaveWallpaper:
  case kCmCopyImage:
  case kCmMoveImage:
  case kCmDeleteImage:
  case kCmEditComments:
  case kCmShowThumbnails:
  case kCmCopyImageToClipboard:
  case kCmCopyComments: return m_hasPicture;
  case kCmClose: return m_hasPicture || SoundPlaying() || MoviePlaying();
  case kCmReplaySound: return !CurrentFile(1).empty();
  case kCmReplayMovie: return !CurrentFile(2).empty();
  case kCmPasteImage: return m_system.ClipboardHasImage();
  case kCmPasteComments: return m_hasPicture && m_system.ClipboardHasText();
  case kCmCopyImage + 1:
  case kCmMoveImage + 1:
  case kCmDeleteImage + 1: return !CurrentFile(1).empty();
  case kCmCopyMovie:
  case kCmMoveMovie:
  case kCmDeleteMovie: return !CurrentFile(2).empty();
  case kCmGoTo: return !m_list.IsEmpty();
  case kCmRunSlideshow: return m_show.Running() || !m_list.IsEmpty();
  default: return m_hasPicture || !IsViewCommand(id);
  }
}

std::optional<bool> TZerbalinWin::CommandChecked(int id) const {
  if (const TOptionCommand* option = FindOptionCommand(id)) {
    if (option->kind == TOptionKind::Number) return std::nullopt;
    return OptionChecked(*option, m_settings);
  }
  if (id == kCmShowComments) return m_settings.Get(IntKey::ShowComments) != 0;
  if (id == kCmShowLog) return m_settings.Get(IntKey::ShowLog) != 0;
  if (id == kCmThumbnailsEnable) return m_settings.Get(IntKey::ThumbnailsEnable) != 0;
  return m_show.Checked(id);
}

// A changed setting takes effect at once: the display colours and dithering
// on the picture shown, the automatic scaling and fitting on its view.
void TZerbalinWin::OptionCommand(const TOptionCommand& option) {
  if (!ApplyOptionCommand(option, m_settings, m_host)) return;
  switch (option.key) {
  case IntKey::DitherQuality:
    m_ditherer.SetQuality(m_settings.Get(IntKey::DitherQuality));
    ShowAgain();
    break;
  case IntKey::DisplayInColor:
  case IntKey::Effect: ShowAgain(); break;
  case IntKey::FillWindow:
  case IntKey::AlwaysOnTop: ApplyWindowStyle(); break;
  case IntKey::ThumbnailsRandom:
  case IntKey::ThumbnailsAcross:
  case IntKey::ThumbnailsDown:
    if (!m_settings.Get(IntKey::ThumbnailsEnable)) break;
    EraseWindow();
    ShowAgain();
    break;
  case IntKey::ThumbnailsAnnotate:
  case IntKey::ThumbnailsOutline:
    if (m_settings.Get(IntKey::ThumbnailsEnable)) ShowAgain();
    break;
  case IntKey::AutoScale:
  case IntKey::AutoFit: Resized(); break;
  case IntKey::SoundEnable:
    if (!m_settings.Get(IntKey::SoundEnable)) StopSound();
    break;
  case IntKey::MovieEnable:
    if (!m_settings.Get(IntKey::MovieEnable)) StopMovie();
    break;
  default: break;
  }
}

bool TZerbalinWin::MouseDown(TMouseButton button, int32_t x, int32_t y, unsigned modifiers) {
  m_drag = {m_hasPicture && modifiers == 0 && BoundMouseCommand(m_settings, button, false, 0) == 0, button, x, y};
  return m_drag.active;
}

void TZerbalinWin::MouseUp(TMouseButton button, int32_t x, int32_t y, unsigned modifiers) {
  if (m_drag.active && m_drag.button == button) {
    m_drag.active = false;
    if (BusyCheck()) return;
    // On a sheet the left button picks a picture.
    if (m_thumbs.Grid()) {
      if (button == TMouseButton::Left) OpenThumbnailAt(x, y);
      return;
    }
    if (button == TMouseButton::Left)
      ZoomGesture(x, y);
    else
      PanGesture(x, y);
    ShowPicture();
    return;
  }
  if (const int command = BoundMouseCommand(m_settings, button, false, modifiers)) {
    m_host.PostCommand(command);
    return;
  }
  const unsigned keys = modifiers & (kModifierControl | kModifierShift);
  if (button != TMouseButton::Left || keys == 0) return;
  if (keys == (kModifierControl | kModifierShift)) {
    m_host.PostCommand(kCmRotate);
  } else if (keys == kModifierShift) {
    m_host.PostCommand(kCmCrop);
  } else if (m_hasPicture && !BusyCheck()) {
    const TRect area = ImageArea();
    CentreOn(*m_image, x - area.left, y - area.top);
    ViewCommand(kCmZoomOut);
  }
}

void TZerbalinWin::MouseDoubleClick(TMouseButton button, unsigned modifiers) {
  m_drag.active = false;
  if (const int command = BoundMouseCommand(m_settings, button, true, modifiers)) {
    m_host.PostCommand(command);
    return;
  }
  // Unbound, a plain right double-click resets the view as a new window
  // size does.
  if (button == TMouseButton::Right && (modifiers & (kModifierControl | kModifierShift)) == 0 && !BusyCheck())
    Resized();
}

// A dragged rectangle becomes the view; a small one only marks where to
// zoom in.
void TZerbalinWin::ZoomGesture(int32_t x, int32_t y) {
  const TRect area = ImageArea();
  const bool autoScale = m_settings.Get(IntKey::AutoScale);
  const bool autoFit = m_settings.Get(IntKey::AutoFit);
  x -= area.left;
  y -= area.top;
  const int32_t x0 = m_drag.x - area.left, y0 = m_drag.y - area.top;
  if (std::abs(x - x0) > kDragThreshold || std::abs(y - y0) > kDragThreshold) {
    ZoomToRect(*m_image, std::min(x, x0), std::min(y, y0), std::max(x, x0), std::max(y, y0), area.width, area.height,
               autoScale, autoFit);
    return;
  }
  CentreOn(*m_image, (x + x0) / 2, (y + y0) / 2);
  ZoomStep(*m_image, ZoomDirection::In, area.width, area.height, autoScale, autoFit);
}

// The picture follows the pointer: the distance dragged on the screen,
// in picture pixels; a short drag centres there and zooms out.
void TZerbalinWin::PanGesture(int32_t x, int32_t y) {
  const int32_t dx = x - m_drag.x;
  const int32_t dy = y - m_drag.y;
  if (std::abs(dx) > kDragThreshold || std::abs(dy) > kDragThreshold) {
    int32_t left = 0, top = 0, right = 0, bottom = 0, cropWidth = 0, cropHeight = 0;
    m_image->OutputRect(left, top, right, bottom);
    m_image->CropSize(cropWidth, cropHeight);
    const int64_t width = std::max(right - left, 1), height = std::max(bottom - top, 1);
    Pan(*m_image, static_cast<int32_t>(-dx * int64_t{cropWidth} / width),
        static_cast<int32_t>(-dy * int64_t{cropHeight} / height));
    return;
  }
  const TRect area = ImageArea();
  CentreOn(*m_image, (x + m_drag.x) / 2 - area.left, (y + m_drag.y) / 2 - area.top);
  ZoomStep(*m_image, ZoomDirection::Out, area.width, area.height, m_settings.Get(IntKey::AutoScale),
           m_settings.Get(IntKey::AutoFit));
}

void TZerbalinWin::ShowAgain() {
  if (!m_hasPicture) return;
  PrepareDitherer();
  ShowPicture();
}

// The placements of the windows shown go into the settings.
void TZerbalinWin::StoreWindowPlacements() {
  StorePlacement(m_settings, kImagePlacement, m_system.MainWindowPlacement());
  if (m_settings.Get(IntKey::ShowLog))
    StorePlacement(m_settings, kLogPlacement, m_system.TextWindowPlacement(TTextWindow::Log));
  if (m_settings.Get(IntKey::ShowComments))
    StorePlacement(m_settings, kCommentsPlacement, m_system.TextWindowPlacement(TTextWindow::Comments));
}

// Restore options reads the settings file again, Default options returns
// to the defaults; either way the windows follow the new values.
void TZerbalinWin::ReplaceSettings(bool fromFile) {
  StoreWindowPlacements();
  const TProfile before = m_settings;
  if (fromFile)
    m_settings.Read();
  else
    m_settings.ResetToDefaults();
  ApplyOptionChanges(before);
}

void TZerbalinWin::ApplyOptionChanges(const TProfile& before) {
  for (const TTextWindow which : {TTextWindow::Log, TTextWindow::Comments}) {
    const IntKey key = which == TTextWindow::Log ? IntKey::ShowLog : IntKey::ShowComments;
    if (m_settings.Get(key))
      PlaceTextWindow(which);
    else if (before.Get(key))
      m_system.HideTextWindow(which);
  }
  m_ditherer.SetQuality(m_settings.Get(IntKey::DitherQuality));
  HandSettingsToPackage(m_settings, kMainWindowHandle);
  ApplyWindowStyle();
  if (before.Get(IntKey::SoundEnable) && !m_settings.Get(IntKey::SoundEnable)) StopSound();
  ShowAgain();
}

// The Utilities commands; Install ends by showing the current file again.
void TZerbalinWin::ShellCommand(int id) {
  TFileCommandContext files = FileContext();
  TShellContext context{files,
                        [this](bool shown) {
                          if (shown != (m_settings.Get(IntKey::ShowLog) != 0)) ToggleTextWindow(TTextWindow::Log);
                        },
                        [this](TProfile& settings) { return m_system.EditSettings(TSettingsDialog::Extensions, settings); }, ProgramPath(),
                        HasInstallSwitch(m_arguments)};
  switch (id) {
  case kCmInstall:
    InstallProgram(context);
    m_host.PostCommand(kCmReload);
    break;
  case kCmRemove: RemoveProgram(context); break;
  case kCmConfigureExtensions: ConfigureExtensions(context); break;
  case kCmInstallSaver: InstallScreenSaver(context); break;
  default: RemoveScreenSaver(context); break;
  }
}

// Test screen saver: the saver starts as its own process, as the desktop
// would start it; not while a show runs.
void TZerbalinWin::TestSaver() {
  if (m_show.Running()) return;
  const std::string program = ProgramPath();
  const std::string saverName = ScreenSaverFile(".scr");
  char* const argv[] = {const_cast<char*>(saverName.c_str()), nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
    m_log.Log("Could not start the screen saver %s", program.c_str());
    return;
  }
  // A thread that does nothing else waits for the saver's end, so that the
  // ended saver does not stay behind as a zombie while the viewer runs.
  std::thread([child] {
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

// The help page lives beside the program, in its help folder, and the
// desktop's browser shows it. Help asked for and not shown is said at once,
// in a message box, and in the log.
void TZerbalinWin::OpenHelp() {
  std::string page = ProgramPath();
  page = page.substr(0, page.find_last_of('/') + 1) + "help/zerbalin.html";
  std::string reason;
  if (!FileExists(page))
    reason = page + " is missing";
  else if (!m_system.OpenDocument(page))
    reason = "no web browser could be started to show " + page;
  else
    return;
  const std::string text = "Help is not available: " + reason;
  m_log.Log("%s", text.c_str());
  m_host.MessageBox(text, "Error", TBoxButtons::Ok, TBoxIcon::Exclamation);
}

// The program file itself, whatever name started it.
std::string TZerbalinWin::ProgramPath() {
  char buffer[4096];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : m_programName;
}

// The Edit menu's clipboard commands; each shows 50 percent while it runs.
void TZerbalinWin::ClipboardCommand(int id) {
  if (!CommandEnabled(id)) return;
  TBusyScope busy;
  BusyProgress(50);
  switch (id) {
  case kCmCopyImageToClipboard:
    OnSheet([this] {
      CopyImageToClipboard();
      return true;
    });
    break;
  case kCmPasteImage: PasteImage(); break;
  case kCmCopyComments:
    if (!m_system.PutClipboardText(CommentToUtf8(m_comments.GetText()))) ClipboardError("Unable to open clipboard.");
    break;
  case kCmPasteComments: PasteComments(); break;
  default: CopyWindowToClipboard(); break;
  }
}

// The messages of the clipboard commands; a picture taken in by the
// clipboard event shows none.
void TZerbalinWin::ClipboardError(const char* text) {
  if (m_settings.Get(IntKey::ClipboardEvent) == 0)
    m_host.MessageBox(text, "Error", TBoxButtons::Ok, TBoxIcon::Exclamation);
}

void TZerbalinWin::CopyImageToClipboard() {
  const std::unique_ptr<TDib> dib = ExportBitmap(*m_image, m_settings, m_host.DisplayDepth());
  // The view was laid out for the bitmap: back to the window.
  ShowPicture();
  if (!dib)
    ClipboardError("There isn't enough free memory to do this.");
  else if (!m_system.PutClipboardImage(*dib))
    ClipboardError("Unable to open clipboard.");
}

// The window as it shows: the page when there is one, else the picture
// painted afresh.
void TZerbalinWin::CopyWindowToClipboard() {
  std::unique_ptr<TDib> dib;
  if (!m_page.empty()) {
    dib = BitmapFromPixels(PageSurface().pixels, m_pageSize.width, m_pageSize.height, m_pageSize.width * 4);
  } else {
    const TSize client = m_host.ClientSize();
    const int32_t width = std::max(client.width, 1), height = std::max(client.height, 1);
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    PaintPicture({pixels.data(), width, height, width * 4});
    dib = BitmapFromPixels(pixels.data(), width, height, width * 4);
  }
  if (!dib)
    ClipboardError("There isn't enough free memory to do this.");
  else if (!m_system.PutClipboardImage(*dib))
    ClipboardError("Unable to open clipboard.");
}

// The clipboard's picture becomes the current one, named after the time,
// written under that name and added to the file list; false when the
// clipboard held none or no free name was left.
bool TZerbalinWin::PasteImage() {
  std::unique_ptr<TDib> dib = m_system.ClipboardImage();
  if (!dib) {
    ClipboardError("There isn't enough free memory to do this.");
    return false;
  }
  const std::string name = PastedPictureName();
  if (name.empty()) {
    m_log.Log("Not pasted: no free name for the picture in %s", CurrentDirectory().c_str());
    return false;
  }
  m_comments.AddChar(0);
  m_image->AdoptBitmap(std::move(dib));
  PrepareLoadedPicture(*m_image, m_settings.Get(IntKey::SortPalette) ? TPaletteSort::Sort : TPaletteSort::Keep);
  m_hasPicture = true;
  m_list.Add(name, m_settings.Get(IntKey::OpenIndex), false, false, true);
  m_list.SelectByName(name);
  m_show.PictureTakenIn(name);
  // Written as it came (no view, tone or output size of the settings), so
  // that its entry is a file like any other: it is there when the show comes
  // back to it, and a picture the clipboard event took, emptying the
  // clipboard, outlives the program.
  SaveWith(name, [&] { return WriteBmp(name.c_str(), *m_image, TProfile(), nullptr); });
  PrepareDitherer();
  ShowPicture();
  // The comments window is shown exactly when there are comments: a pasted
  // picture has none.
  if (m_settings.Get(IntKey::AutoComments) && m_settings.Get(IntKey::ShowComments))
    ToggleTextWindow(TTextWindow::Comments);
  return true;
}

// "%8.8lx.bmp" of the time in seconds, or of a later value: after the last
// one given, so that two pastes within a second never share a name, and
// past every value whose name is taken with any extension a save of the
// picture may give it. In the current folder, where a save action puts its
// copy. Empty when no free name was found.
std::string TZerbalinWin::PastedPictureName() {
  const std::string folder = CurrentDirectory() + "/";
  const auto stem = [&folder](uint32_t n) {
    char name[16];
    std::snprintf(name, sizeof name, "%8.8lx", static_cast<unsigned long>(n));
    return folder + name;
  };
  const uint32_t seconds = static_cast<uint32_t>(std::time(nullptr));
  const std::optional<uint32_t> free =
      NextFreeNumber(std::max(seconds, m_lastPastedName + 1), stem, std::span(kSaveExtensions));
  if (!free) return {};
  m_lastPastedName = *free;
  return stem(*free) + ".bmp";
}

// Paste comments replaces the comments with the clipboard's text, in the
// encoding the picture's comments were read in, as Edit comments writes it.
void TZerbalinWin::PasteComments() {
  ReplaceComments(CommentFromUtf8(m_system.ClipboardText(), CommentEncoding(m_comments.GetText())));
  if (m_settings.Get(IntKey::ShowComments))
    m_system.RefreshTextWindow(TTextWindow::Comments, TextWindowTitle(TTextWindow::Comments));
}

void TZerbalinWin::ClipboardChanged() {
  const int32_t action = m_settings.Get(IntKey::ClipboardEvent);
  if (action == 0 || BusyIsActive() || m_host.ModalDialogOpen() || !m_system.ClipboardHasImage()) return;
  if (!PasteImage()) return;
  m_system.EmptyClipboard();
  // A save action takes the proposed name without asking, as in a show: the
  // show is forced on for the action, then given back as it was.
  const TProfile::TKeyState running = m_settings.StateOf(IntKey::RunSlideshow);
  m_settings.Force(IntKey::RunSlideshow, 1);
  m_show.CarryOut(action);
  m_settings.Restore(running);
}

void TZerbalinWin::ApplyWindowStyle() {
  m_system.SetWindowStyle(m_settings.Get(IntKey::FillWindow), m_settings.Get(IntKey::AlwaysOnTop));
}

// Close: the show stops, the list empties and the window shows no file;
// with AutoComments the comments window goes with the comments.
void TZerbalinWin::CloseFiles() {
  if (m_show.Running()) m_show.Command(kCmRunSlideshow);
  StopSound();
  StopMovie();
  m_list.Clear();
  m_show.Command(kCmReload);
  m_hasPicture = false;
  m_comments.AddChar(0);
  if (m_settings.Get(IntKey::ShowComments)) {
    if (m_settings.Get(IntKey::AutoComments))
      ToggleTextWindow(TTextWindow::Comments);
    else
      m_system.RefreshTextWindow(TTextWindow::Comments, TextWindowTitle(TTextWindow::Comments));
  }
  UpdateTitle();
  RepaintAll();
}

void TZerbalinWin::ViewCommand(int id) {
  if (!m_hasPicture) return;
  const TRect area = ImageArea();
  const uint32_t effect = ApplyViewCommand(id, *m_image, m_settings, area.width, area.height);
  if (effect & kEffectRebuildPalette) PrepareDitherer();
  if (effect & kEffectShowAgain) ShowPicture();
}

bool TZerbalinWin::Idle() { return ReleaseHeldCommands() || m_show.Idle(); }

// Posts again, in their order, the commands that waited for a writer or a
// dialog, once neither is there; true when there were some.
bool TZerbalinWin::ReleaseHeldCommands() {
  if (m_heldCommands.empty() || BusyIsActive() || m_host.ModalDialogOpen()) return false;
  for (const int id : m_heldCommands) m_host.PostCommand(id);
  m_heldCommands.clear();
  return true;
}

bool TZerbalinWin::IsBatchRun() const { return HasBatchKeyword(m_arguments); }

int TZerbalinWin::AcceleratorCommand(int virtualKey, unsigned modifiers) const {
  for (const TAccelerator& accelerator : kAccelerators)
    if (accelerator.key == virtualKey && accelerator.modifiers == modifiers) return accelerator.command;
  return 0;
}

bool TZerbalinWin::CanClose() {
  if (!BusyIsActive()) return true;
  BusyCancel();
  m_host.PostCommand(kCmExit);
  return false;
}

void TZerbalinWin::Close() {
  if (m_closed) return;
  m_closed = true;
  WriteSettingsOnExit();
  StopSound();
  StopMovie();
  PkgSetInt("CacheSize", 0);
  PkgSetInt("CacheTime", 0);
  PkgSetPtr("AsyncReturn", nullptr);
  PkgSetInt("AsyncWindow", 0);
  PkgSetInt("AsyncMessage", 0);
}

// The command line, once the window exists: file names fill the list,
// switches set settings or start a batch run, and the first file is shown.
void TZerbalinWin::Startup() {
  const int fileCount = CountFileArguments(m_arguments);
  if (m_settings.Get(IntKey::AutoResume) && fileCount == 0) RestoreDirectory();
  StorePlacement(m_settings, kImagePlacement, m_system.MainWindowPlacement());
  m_host.ShowProgressPointer(50);
  BusyBegin();
  if (m_mode == StartMode::Viewer) {
    for (const TArgument& argument : m_arguments) {
      if (argument.kind == TArgument::kFile)
        AddFileArgument(argument.file, m_arguments.size() == 1);
      else if (argument.keyword != kKeywordNone)
        ApplyKeyword(argument);
      else
        ApplySettingSwitch(argument.option);
    }
  }
  if (m_list.IsEmpty()) {
    m_list.Clear();
    if (m_settings.Get(IntKey::EnableFileSpec))
      m_list.AddList(m_settings.GetString(StrKey::FileSpec), m_settings.Get(IntKey::OpenIndex), false,
                     m_settings.Get(IntKey::AutoSearch) != 0, false);
  }
  BusyEnd();
  m_host.ShowProgressPointer(-1);
  // Many settings may have changed at once: the package, the busy service
  // and the ditherer take them over now, not at the next start.
  HandSettingsToPackage(m_settings, kMainWindowHandle, m_zipPassword.empty() ? nullptr : m_zipPassword.c_str());
  BusyConfigure(m_settings.Get(IntKey::EnableWindowPercent), m_settings.Get(IntKey::EnableCursorPercent));
  m_ditherer.SetQuality(m_settings.Get(IntKey::DitherQuality));
  const bool running = m_settings.Get(IntKey::RunSlideshow) != 0;
  if (running) KeepAwake(true);
  if (m_settings.Get(IntKey::AutoResume) && running && fileCount == 0) {
    const std::string current = m_settings.ReadString("CurrentImage", "");
    if (!current.empty()) m_list.SelectByName(current);
  }
  if (!m_list.IsEmpty() && running) {
    if (m_settings.Get(IntKey::RandomOrder)) m_list.Step(kRandomNext, 1);
    // A batch run knows its last file before it starts, so that the end of
    // the list can end the program.
    if (m_settings.Get(IntKey::ImageDisplayEvent) != kActionNone) {
      while (!m_list.IsLast()) m_list.Step(kSortedNext, 1);
      m_list.Step(kSortedNext, 1);
    }
  }
  m_host.PostCommand(HasInstallSwitch(m_arguments) ? kCmInstall : kCmReload);
}

void TZerbalinWin::AddFileArgument(std::string name, bool onlyArgument) {
  const bool subdirectoriesByDots = TakeSubdirectoryDots(name);
  const bool scan = onlyArgument && m_settings.Get(IntKey::EnableDirectoryScan);
  const bool subdirectories = subdirectoriesByDots || (scan && m_settings.Get(IntKey::AutoSearch));
  m_list.Add(name, m_settings.Get(IntKey::OpenIndex), scan, subdirectories, false);
}

void TZerbalinWin::ApplyKeyword(const TArgument& argument) {
  const std::string& value = argument.option.value;
  switch (argument.keyword) {
  case kKeywordZipPassword:
    if (value.empty()) return;
    m_zipPassword = value;
    HandSettingsToPackage(m_settings, kMainWindowHandle, m_zipPassword.c_str());
    return;
  case kKeywordDirectory:
    if (!value.empty() && ::chdir(value.c_str()) != 0) m_log.Log("Cannot change to directory %s", value.c_str());
    return;
  case kKeywordPrint: m_show.SetUpBatch(kActionPrint, kActionExit); return;
  case kKeywordWallpaper: m_show.SetUpBatch(kActionWallpaper, kActionExit); return;
  case kKeywordInstall: return;
  default:
    m_show.SetUpBatch(kActionSaveGif + static_cast<int32_t>(argument.keyword - kKeywordConvertToGif), kActionExit);
    return;
  }
}

void TZerbalinWin::ApplySettingSwitch(const TSwitch& option) {
  switch (m_settings.ApplySwitch(option)) {
  // A setting the user gives after a batch keyword is the user's own, and
  // no longer forced.
  case TSwitchResult::Applied: return;
  case TSwitchResult::NoSuchSetting:
    m_log.Log("Ignored switch -%s: there is no such setting", option.name.c_str());
    return;
  case TSwitchResult::NotANumber:
    m_log.Log("Ignored switch -%s=%s: the setting takes a number", option.name.c_str(), option.value.c_str());
    return;
  }
}

void TZerbalinWin::RestoreDirectory() {
  std::string directory = m_settings.ReadString("Directory", "");
  if (directory.empty()) {
    // The program's own folder.
    directory = ProgramPath();
    directory.resize(directory.find_last_of('/') + 1);
  }
  if (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  if (!directory.empty() && ::chdir(directory.c_str()) != 0)
    m_log.Log("Cannot change to directory %s", directory.c_str());
}

void TZerbalinWin::DropFiles(const std::vector<std::string>& names) {
  if (BusyCheck() || names.empty()) return;
  BusyBegin();
  for (const std::string& name : names) m_list.Add(name, m_settings.Get(IntKey::OpenIndex), false, false, false);
  m_list.SelectByName(names.front());
  BusyEnd();
  m_show.Command(kCmReload);
}

// Text windows ---------------------------------------------------------------

std::string TZerbalinWin::TextWindowTitle(TTextWindow which) const {
  if (which == TTextWindow::Log) return "Zerbalin - Log";
  return "Zerbalin - Comments [" + (m_hasPicture ? m_show.ImageName() : std::string(kNoFile)) + "]";
}

void TZerbalinWin::PlaceTextWindow(TTextWindow which) {
  const TPlacementKeys& keys = which == TTextWindow::Log ? kLogPlacement : kCommentsPlacement;
  m_system.ShowTextWindow(which, LoadPlacement(m_settings, keys));
  m_system.RefreshTextWindow(which, TextWindowTitle(which));
}

void TZerbalinWin::ToggleTextWindow(TTextWindow which) {
  const bool log = which == TTextWindow::Log;
  if (log && m_mode != StartMode::Viewer) return;
  const IntKey key = log ? IntKey::ShowLog : IntKey::ShowComments;
  const bool show = !m_settings.Get(key);
  m_settings.Set(key, show);
  if (show)
    PlaceTextWindow(which);
  else
    StorePlacement(m_settings, log ? kLogPlacement : kCommentsPlacement, m_system.HideTextWindow(which));
}

// The comments of the current picture, edited as one text; the writers store
// what the comments window then holds. The text goes back in the encoding it
// was read in, so an OK without a change keeps the comments' bytes.
void TZerbalinWin::EditComments() {
  if (!m_hasPicture) return;
  const std::string comments = m_comments.GetText();
  std::string text = CommentToUtf8(comments);
  if (!m_system.EditText("Edit Comments", text)) return;
  std::string bytes = CommentFromUtf8(text, CommentEncoding(comments));
  bytes.resize(std::min(bytes.size(), kMaxEditedComments));
  ReplaceComments(bytes);
  m_system.RefreshTextWindow(TTextWindow::Comments, TextWindowTitle(TTextWindow::Comments));
}

void TZerbalinWin::ReplaceComments(const std::string& bytes) {
  m_comments.AddChar(0);
  for (const char c : bytes) m_comments.AddChar(static_cast<unsigned char>(c));
}

void TZerbalinWin::OpenLogWindow() {
  if (!m_settings.Get(IntKey::ShowLog)) ToggleTextWindow(TTextWindow::Log);
}

// Pictures ---------------------------------------------------------------------

TShowWindow::TLoaded TZerbalinWin::LoadPicture(const std::string& name) {
  TReadOutcome outcome;
  // Until the picture is there the window shows the one before.
  SuspendRendering();
  const std::string format = ReadPicture(name.c_str(), *m_image, m_settings, &outcome);
  PrepareLoadedPicture(*m_image, m_settings.Get(IntKey::SortPalette) ? TPaletteSort::Sort : TPaletteSort::Keep);
  ResumeRendering();
  if (m_settings.Get(IntKey::AutoCrop)) CropUniformBorders(*m_image);
  PrepareDitherer();
  m_hasPicture = true;
  if (m_thumbs.Advance()) EraseWindow();
  if (m_settings.Get(IntKey::ShowComments))
    m_system.RefreshTextWindow(TTextWindow::Comments, TextWindowTitle(TTextWindow::Comments));
  return {format, outcome};
}

// A new page: the window's background, no pictures to click, the first
// cell.
void TZerbalinWin::EraseWindow() {
  std::fill(m_page.begin(), m_page.end(),
            BackgroundPixel(m_settings));
  m_list.ClearPlacements();
  m_thumbs.FreshPosition();
  RepaintAll();
}

// Thumbnails enable: entering a sheet keeps every setting as it was, and
// leaving it brings them all back, whatever the sheet changed meanwhile.
void TZerbalinWin::ToggleThumbnails() {
  if (m_settings.HasSavedValues()) {
    m_settings.RestoreSavedValues();
    m_settings.Set(IntKey::ThumbnailsEnable, 0);
  } else {
    // The sheet is a mode: the settings file keeps the single pictures.
    m_settings.SaveValues();
    m_settings.Force(IntKey::ThumbnailsEnable, 1);
  }
  EraseWindow();
  if (m_hasPicture) {
    PrepareDitherer();
    Resized();
  }
}

// Show thumbnails: the first press fills a sheet from the current file as
// fast as pictures load; later presses stop a running sheet, fill the next
// one, or leave the sheets after the last file. What it sets belongs to the
// sheet, not to the user: forced, never written.
void TZerbalinWin::ShowThumbnails() {
  if (!m_thumbs.Grid()) {
    m_list.MakeCurrentHead();
    if (!m_settings.Get(IntKey::ThumbnailsEnable) || !m_settings.HasSavedValues()) ToggleThumbnails();
    m_settings.Force(IntKey::RandomOrder, 0);
    m_thumbs.MoveToPoint(0, 0, m_host.ClientSize());
    for (IntKey delay : {IntKey::DelayBetweenImages, IntKey::DelayBetweenSounds, IntKey::DelayBetweenMovies})
      m_settings.Force(delay, 0);
    for (IntKey event : {IntKey::ScreenDoneEvent, IntKey::SlideshowDoneEvent})
      if (m_settings.Get(event) == kActionNone) m_settings.Force(event, kActionStop);
    m_show.RunForMode(true);
    return;
  }
  if (m_show.Running()) {
    m_show.RunForMode(false);
  } else if (m_list.IsEmpty() || m_list.IsLast()) {
    ToggleThumbnails();
  } else {
    m_show.RunForMode(true);
    m_show.Command(kCmNext);
  }
}

// A click on a sheet opens the picture drawn last under the pointer.
bool TZerbalinWin::OpenThumbnailAt(int32_t x, int32_t y) {
  if (!m_list.HitTest(x, y)) return false;
  if (m_show.Running()) m_show.Command(kCmRunSlideshow);
  ToggleThumbnails();
  m_host.PostCommand(kCmReload);
  return true;
}

// The ditherer turns stored rows into what the window and the writers get:
// palette indices into colours, and the tone settings applied.
void TZerbalinWin::PrepareDitherer() {
  TLogPalette palette;
  m_image->GetPalette(palette);
  const TToneSettings tone{m_settings.Get(IntKey::Brightness), m_settings.Get(IntKey::Contrast),
                           m_settings.Get(IntKey::Invert), m_settings.Get(IntKey::EnableColorInvert)};
  const bool colour = m_settings.Get(IntKey::DisplayInColor) && m_host.DisplayDepth() > 1;
  m_ditherer.SetSourcePalette(m_image->BytesPerPixel() == 1 ? &palette : nullptr, TDitherTarget::Display,
                              colour ? TColourMode::Colour : TColourMode::Grey, tone);
  const TScreenPalette screen = ChooseScreenPalette(
      *m_image, m_settings, m_host.DisplayDepth(), m_settings.Get(IntKey::Effect) != kEffectDirect || m_thumbs.Grid());
  m_screenColours.clear();
  if (!screen.dither) return;
  m_ditherer.StartDithering(screen.target);
  for (int i = 0; i < screen.target.count; ++i) {
    const TPaletteEntry& e = screen.target.entries[i];
    m_screenColours.push_back(0xff000000u | uint32_t{e.red} << 16 | uint32_t{e.green} << 8 | e.blue);
  }
}

TShowWindow::TShown TZerbalinWin::ShowPicture() {
  const TRect area = ImageArea();
  const int32_t dpi = m_host.DotsPerInch();
  Layout(*m_image, area.width, area.height, dpi, dpi, m_settings.Get(IntKey::Rotate),
         m_settings.Get(IntKey::AutoScale), m_settings.Get(IntKey::AutoFit));
  UpdateTitle();
  RepaintAll();
  TShown shown;
  m_image->OutputRect(shown.placement.left, shown.placement.top, shown.placement.right, shown.placement.bottom);
  shown.placement.left += area.left;
  shown.placement.right += area.left;
  shown.placement.top += area.top;
  shown.placement.bottom += area.top;
  shown.hasComments = !m_comments.IsEmpty();
  return shown;
}

void TZerbalinWin::Resized() {
  if (RenderingSuspended()) {
    m_resizeHeld = true;
    return;
  }
  if (!m_hasPicture) {
    RepaintAll();
    return;
  }
  ResetView();
  ShowPicture();
}

// A new window size starts the view afresh: the whole picture, fitted or
// scaled as the settings say.
void TZerbalinWin::ResetView() {
  const TRect area = ImageArea();
  ZoomStep(*m_image, ZoomDirection::Reset, area.width, area.height, m_settings.Get(IntKey::AutoScale),
           m_settings.Get(IntKey::AutoFit));
}

// A reader or writer works on the picture: its rows and its output geometry
// are theirs until ResumeRendering, so nothing paints the picture or lays it
// out meanwhile.
void TZerbalinWin::SuspendRendering() { ++m_renderingHolds; }

// The last end of a suspension resets the view when the window changed size
// meanwhile, as the resize would have then; the caller shows the picture
// again, which paints the window afresh.
void TZerbalinWin::ResumeRendering() {
  if (--m_renderingHolds > 0 || !m_resizeHeld) return;
  m_resizeHeld = false;
  if (m_hasPicture) ResetView();
}


void TZerbalinWin::Paint(const TSurface& surface) {
  // The window keeps what it shows until the picture is there again.
  if (RenderingSuspended()) return;
  // A sheet keeps its earlier pictures in the page.
  if (m_settings.Get(IntKey::Effect) == kEffectDirect && !m_thumbs.Grid()) {
    m_page.clear();
    m_pageSize = {};
    PaintPicture(surface);
    return;
  }
  // The window keeps what it shows until the effect replaces it.
  if (CompletePage({surface.width, surface.height}) || !m_pageShown) return;
  for (int32_t y = 0; y < surface.height; ++y)
    std::memcpy(surface.pixels + static_cast<ptrdiff_t>(y) * surface.stride,
                &m_page[static_cast<size_t>(y) * surface.width], static_cast<size_t>(surface.width) * 4);
}

// Paints the picture into the page of the window's size when it is not
// there yet, and asks for the effect that brings it to the window; true
// when it painted.
bool TZerbalinWin::CompletePage(TSize size) {
  if (m_pageSize.width != size.width || m_pageSize.height != size.height || m_page.empty()) {
    m_page.assign(static_cast<size_t>(size.width) * size.height,
                  BackgroundPixel(m_settings));
    m_pageSize = size;
    m_pageComplete = false;
  }
  if (m_pageComplete) return false;
  PaintPicture(PageSurface());
  m_pageComplete = true;
  m_pageShown = false;
  m_host.PostCommand(kCmShowPage);
  return true;
}

// A sheet holds each picture in its page before the show loads the next.
bool TZerbalinWin::PaintNextPortion() { return m_thumbs.Grid() && m_hasPicture && CompletePage(m_host.ClientSize()); }

// The window shows something new: all of it is painted again, through the
// page and its effect when one is chosen.
void TZerbalinWin::RepaintAll() {
  m_pageComplete = false;
  const TSize client = m_host.ClientSize();
  m_host.InvalidateRect({0, 0, client.width, client.height});
}

TSurface TZerbalinWin::PageSurface() {
  return {reinterpret_cast<uint8_t*>(m_page.data()), m_pageSize.width, m_pageSize.height, m_pageSize.width * 4};
}

// The finished page goes to the window with the effect; while rendering is
// suspended it waits, and the end of the suspension paints it afresh.
void TZerbalinWin::ShowPage() {
  if (m_page.empty() || !m_pageComplete || m_pageShown || RenderingSuspended()) return;
  TWindowClock clock(m_host);
  const TSurface page = PageSurface();
  RunTransition(m_settings.Get(IntKey::Effect), m_pageSize, m_thumbs.CellRect(m_pageSize),
                [&](const TRect& rect) { m_system.ShowPageRect(page, rect); }, clock, m_random);
  m_pageShown = true;
}


// The picture in its image area: outside a sheet on the background of the
// whole window, in a sheet on the background of its cell's area only (in
// the random layout on the earlier pictures), then the outline and the
// caption.
void TZerbalinWin::PaintPicture(const TSurface& surface) {
  const TSize client{surface.width, surface.height};
  const TRect cell = m_thumbs.CellRect(client);
  const TRect area = ImageArea();
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  if (m_hasPicture && m_show.FormatName() != "???") m_image->OutputRect(left, top, right, bottom);
  // The picture's rows inside its area and the window.
  left = std::clamp(left, std::max(-area.left, 0), std::max(surface.width - area.left, 0));
  right = std::clamp(right, left, std::max(surface.width - area.left, left));
  top = std::clamp(top, std::max(-area.top, 0), std::max(surface.height - area.top, 0));
  bottom = std::clamp(bottom, top, std::max(surface.height - area.top, top));
  if (!m_thumbs.RandomLayout()) {
    const TRect around = m_thumbs.Grid() ? area : TRect{0, 0, surface.width, surface.height};
    FillAround(surface, around, {area.left + left, area.top + top, right - left, bottom - top});
  }
  const int32_t width = right - left;
  const int32_t bytes = m_image->BytesPerPixel();
  std::vector<uint8_t> row(static_cast<size_t>(std::max(width, 1)) * 3);
  for (int32_t y = top; y < bottom && width > 0; ++y) {
    uint32_t* out = reinterpret_cast<uint32_t*>(surface.pixels + static_cast<ptrdiff_t>(area.top + y) * surface.stride) +
                    area.left + left;
    const uint8_t* pixels = m_image->OutputRowView(left, y, row.data(), width);
    if (pixels != row.data()) std::memcpy(row.data(), pixels, static_cast<size_t>(width) * bytes);
    if (!m_screenColours.empty()) {
      // A palette display: every pixel one of the screen's colours.
      m_ditherer.DitherRow(row.data(), width, bytes);
      for (int32_t x = 0; x < width; ++x) out[x] = m_screenColours[std::min<size_t>(row[x], m_screenColours.size() - 1)];
      continue;
    }
    m_ditherer.ConvertRow(row.data(), width, 3, bytes);
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* bgr = &row[static_cast<size_t>(x) * 3];
      out[x] = 0xff000000u | uint32_t{bgr[2]} << 16 | uint32_t{bgr[1]} << 8 | bgr[0];
    }
  }
  DrawDecorations(surface, cell, area);
}

// The background of a region around the picture, each pixel once: the bands
// above and below it, and beside it.
void TZerbalinWin::FillAround(const TSurface& surface, const TRect& region, const TRect& picture) {
  const uint32_t background = BackgroundPixel(m_settings);
  const int32_t regionBottom = region.top + region.height;
  const int32_t pictureBottom = std::clamp(picture.top + picture.height, region.top, regionBottom);
  const int32_t pictureTop = std::clamp(picture.top, region.top, pictureBottom);
  FillRect(surface, {region.left, region.top, region.width, pictureTop - region.top}, background);
  FillRect(surface, {region.left, pictureBottom, region.width, regionBottom - pictureBottom}, background);
  const int32_t height = pictureBottom - pictureTop;
  FillRect(surface, {region.left, pictureTop, picture.left - region.left, height}, background);
  const int32_t pictureRight = picture.left + picture.width;
  FillRect(surface, {pictureRight, pictureTop, region.left + region.width - pictureRight, height}, background);
}

// A sheet's outline around the cell, and the caption band below the
// picture: the picture's name centred on the cell.
void TZerbalinWin::DrawDecorations(const TSurface& surface, const TRect& cell, const TRect& area) {
  const uint32_t foreground =
      PixelOf(m_settings, IntKey::ForegroundRed, IntKey::ForegroundGreen, IntKey::ForegroundBlue);
  const uint32_t background = BackgroundPixel(m_settings);
  if (m_thumbs.Grid() && !m_thumbs.RandomLayout() && m_settings.Get(IntKey::ThumbnailsOutline)) {
    FillRect(surface, {cell.left, cell.top, cell.width + 1, 1}, foreground);
    FillRect(surface, {cell.left, cell.top + cell.height, cell.width + 1, 1}, foreground);
    FillRect(surface, {cell.left, cell.top, 1, cell.height + 1}, foreground);
    FillRect(surface, {cell.left + cell.width, cell.top, 1, cell.height + 1}, foreground);
  }
  if (!CaptionShown() || !m_hasPicture) return;
  const int32_t bandTop = area.top + area.height;
  FillRect(surface, {area.left, bandTop, cell.left + cell.width - area.left, cell.top + cell.height - bandTop},
           background);
  const std::string caption =
      m_list.IsEmpty() ? m_show.ImageName() : m_list.Caption(m_settings.Get(IntKey::CaptionSize));
  m_system.DrawCaption(surface, cell.left + cell.width / 2, cell.top + cell.height - 2, caption,
                       foreground & 0xffffff, background & 0xffffff);
}

// A caption is drawn under every picture of a sheet with ThumbnailsAnnotate,
// and under a single picture with DisplayCaption.
bool TZerbalinWin::CaptionShown() const {
  if (m_thumbs.Grid()) return !m_thumbs.RandomLayout() && m_settings.Get(IntKey::ThumbnailsAnnotate);
  return m_settings.Get(IntKey::DisplayCaption) != 0;
}

// Where the picture is laid out: the current cell less its insets and
// caption band; the whole window for a single picture without caption.
TRect TZerbalinWin::ImageArea() {
  return m_thumbs.ImageArea(m_host.ClientSize(), CaptionShown() ? m_system.CaptionHeight() : 0);
}

std::string TZerbalinWin::PictureTitle() const {
  // Names the show has not set yet are no file.
  const auto nameOrNone = [](const std::string& name) { return name.empty() ? std::string(kNoFile) : name; };
  const std::string image = m_hasPicture ? nameOrNone(m_show.ImageName()) : kNoFile;
  const std::string sound = nameOrNone(m_show.SoundName());
  const std::string movie = nameOrNone(m_show.MovieName());
  if (image == kNoFile && sound == kNoFile && movie == kNoFile)
    return " Use File|Open... to select files, press F1 for help";
  std::string title;
  if (image != kNoFile) {
    const std::string& format = m_show.FormatName();
    title = " " + Upper(format) + " File: [" + image + "]";
    // What went wrong with a file not read stands where its size would.
    const TReadOutcome outcome = m_show.ReadOutcome();
    const TReadFailure* failure = ReadFailure(outcome);
    if (failure && outcome != TReadOutcome::Reduced) {
      title += std::string(" (") + failure->words + ")";
    } else if (format != "???") {
      const bool colours = m_settings.Get(IntKey::SortPalette) && m_image->BytesPerPixel() == 1;
      const int32_t xDpi = m_image->EffectiveXDpi(), yDpi = m_image->EffectiveYDpi();
      title += " (" + std::to_string(m_image->Width()) + "x" + std::to_string(m_image->Height()) + "x" +
               (colours ? std::to_string(m_image->ColourCount()) + "-colors"
                        : std::to_string(m_image->BytesPerPixel() * 8) + "-bits") +
               ", " + (xDpi == yDpi ? std::to_string(xDpi) : std::to_string(xDpi) + "x" + std::to_string(yDpi)) +
               " dpi" + (failure ? std::string(", ") + failure->words : std::string()) + ")";
    }
  }
  if (sound != kNoFile) title += " Sound File: [" + sound + "]";
  if (movie != kNoFile) title += " Movie File: [" + movie + "]";
  return title;
}

void TZerbalinWin::UpdateTitle() { m_host.SetTitle(PictureTitle()); }

// Saving -----------------------------------------------------------------------

// A thumbnail sheet is on the window, its page there to be captured.
bool TZerbalinWin::SheetShown() const { return m_thumbs.Grid() && !m_page.empty(); }

// A sheet is saved, copied and printed as one picture: the page becomes a
// picture of its own, shown without tone, and the real one comes back
// after the operation. Nothing renders meanwhile, which would paint the
// sheet into a cell or lay it out as one.
bool TZerbalinWin::OnSheet(const std::function<bool()>& operation) {
  if (!SheetShown()) return operation();
  std::unique_ptr<TDib> dib = BitmapFromPixels(reinterpret_cast<const uint8_t*>(m_page.data()), m_pageSize.width,
                                               m_pageSize.height, m_pageSize.width * 4);
  if (!dib) return operation();
  std::unique_ptr<TImage> sheet = NewImageFor(m_settings);
  sheet->AdoptBitmap(std::move(dib));
  PrepareLoadedPicture(*sheet, TPaletteSort::Keep);
  SuspendRendering();
  std::swap(m_image, sheet);
  m_ditherer.SetSourcePalette(nullptr, TDitherTarget::Display, TColourMode::Colour, TToneSettings{});
  const bool done = operation();
  std::swap(m_image, sheet);
  ResumeRendering();
  PrepareDitherer();
  ShowPicture();
  return done;
}

// The name Save As proposes: the picture's own with the type's extension,
// or for a sheet "thumb001" ... in the picture's folder, the first that is
// free, past "thumb999" too; none when even those are all taken.
std::string TZerbalinWin::ProposedSaveName(int32_t typeIndex, bool sheet) const {
  const char* extension = kSaveExtensions[typeIndex - 1];
  if (!sheet) return WithExtension(m_show.ImageName(), extension);
  const std::string& current = m_show.ImageName();
  const std::string folder = current.substr(0, current.find_last_of('/') + 1);
  const auto stem = [&folder](uint32_t n) {
    char name[24];
    std::snprintf(name, sizeof name, "thumb%3.3u", n);
    return folder + name;
  };
  const std::optional<uint32_t> free = NextFreeNumber(1, stem, std::span(&extension, 1));
  return free ? stem(*free) + extension : std::string();
}

// Save As: the current picture under its name with the extension of the save
// type, asked for in the save dialog unless the show runs.
bool TZerbalinWin::SavePictureAs() {
  std::string path;
  return ChooseSaveTarget(false, path) && SaveTo(path, m_settings.Get(IntKey::SaveAsIndex));
}

// The file Save As writes, for the picture or a sheet: the proposal as it is
// while the show runs, else what the save dialog gives and the user agrees
// to replace; SaveAsIndex keeps the type chosen. False when there is nothing
// to save or the user cancelled.
bool TZerbalinWin::ChooseSaveTarget(bool sheet, std::string& path) {
  if (!m_hasPicture || m_show.ImageName() == kNoFile) return false;
  int32_t typeIndex = std::clamp(m_settings.Get(IntKey::SaveAsIndex), 1, 6);
  path = ProposedSaveName(typeIndex, sheet);
  if (m_show.Running()) return true;
  if (!m_system.ChooseSaveName("Save As", kSaveFilters, typeIndex, path) || path.empty()) return false;
  if (PackageObjectExists(path) &&
      m_host.MessageBox(path + "\nThis file already exists.\n\nReplace existing file?", "File Exists",
                        TBoxButtons::YesNo, TBoxIcon::Question) != TBoxAnswer::Yes)
    return false;
  m_settings.Set(IntKey::SaveAsIndex, typeIndex);
  return true;
}

bool TZerbalinWin::SaveTo(const std::string& path, int32_t fileType) {
  return SaveWith(path, [&] { return SavePicture(path.c_str(), fileType, *m_image, m_settings, &m_ditherer); });
}

// Runs a writer with the title saying so, then lays the view out again (the
// writers set their own output geometry) and logs the outcome. The writer
// owns the picture's layout and the window's ditherer until it is done: the
// window is not painted or laid out meanwhile, and nothing stops it, so the
// file is always what was asked for. Commands that came meanwhile run
// after it.
bool TZerbalinWin::SaveWith(const std::string& path, const std::function<int()>& write) {
  const std::string title = m_host.Title();
  m_host.SetTitle(" Saving: [" + path + "]");
  int result = kSaveFailed;
  {
    TBusyUnstoppableScope busy;
    SuspendRendering();
    result = write();
    ResumeRendering();
  }
  m_host.SetTitle(title);
  ShowPicture();
  ReleaseHeldCommands();
  const char* name = m_show.ImageName().c_str();
  if (result == kSaveWritten) {
    m_log.Log("Saved %s as %s", name, path.c_str());
    return true;
  }
  m_actionFailed = true;
  m_log.Log("Error occurred while saving %s as %s", name, path.c_str());
  return false;
}

// The wallpaper is what the screen would show: the view fitted into the
// screen's size, written as a BMP in the configuration folder and handed to
// the desktop.
bool TZerbalinWin::SaveWallpaper() {
  if (!m_hasPicture || m_show.ImageName() == kNoFile) return false;
  const std::string path = WallpaperPath(m_programName);
  const TSize screen = m_host.ScreenSize();
  const TBmpDevice device{screen.width, screen.height, m_host.DisplayDepth(), nullptr};
  if (!SaveWith(path, [&] { return WriteBmpForDevice(path.c_str(), *m_image, &m_ditherer, device); })) return false;
  SetDesktopWallpaper(path, m_log);
  return true;
}

// File commands ------------------------------------------------------------------

TFileCommandContext TZerbalinWin::FileContext() {
  return {m_host, m_settings, m_log, [this] { OpenLogWindow(); }};
}

// The current image, sound or movie of a command of three ids in that order.
// Empty when the slot holds no file ("No File").
std::string TZerbalinWin::CurrentFile(int kind) const {
  const std::string& name = kind == 0 ? m_show.ImageName() : kind == 1 ? m_show.SoundName() : m_show.MovieName();
  return (kind == 0 && !m_hasPicture) || name == kNoFile ? std::string() : name;
}

void TZerbalinWin::CopyOrMove(int id) {
  const bool move = id >= kCmMoveImage;
  const int kind = id - (move ? kCmMoveImage : kCmCopyImage);
  const std::string path = CurrentFile(kind);
  TFileCommandContext context = FileContext();
  if (CopyOrMoveTo(context, static_cast<TFileKind>(kind), move ? TTransfer::Move : TTransfer::Copy, path) ==
          TCopyResult::Copied &&
      move)
    AfterFileRemoved(kind, path);
}

void TZerbalinWin::DeleteCurrentFile(int id) {
  const int kind = id - kCmDeleteImage;
  const std::string path = CurrentFile(kind);
  TFileCommandContext context = FileContext();
  if (DeleteCurrent(context, path)) AfterFileRemoved(kind, path);
}

// A file that moved away or was deleted leaves the list; the picture area is
// cleared for an image, and the file that is now current is shown.
void TZerbalinWin::AfterFileRemoved(int kind, const std::string& path) {
  if (m_list.CurrentName(false) == path) m_list.RemoveCurrent();
  if (kind == 0) {
    m_hasPicture = false;
    RepaintAll();
  }
  m_host.PostCommand(kCmReload);
}

// The open dialog with its file type preselected from the setting, which
// keeps the type chosen.
bool TZerbalinWin::ChooseFilesFor(const std::string& caption, IntKey typeSetting, std::vector<std::string>& names) {
  int32_t typeIndex = m_settings.Get(typeSetting);
  if (!ChooseFiles(caption, typeIndex, names)) return false;
  m_settings.Set(typeSetting, typeIndex);
  return true;
}

// Decode, Encode, Unzip and Zip Info on chosen files, one after the other,
// their lines in the log window.
void TZerbalinWin::MailOrZipCommand(int id) {
  struct TDialog {
    int command;
    const char* caption;
    IntKey typeSetting;
  };
  static constexpr TDialog kDialogs[] = {{kCmDecode, "Decode", IntKey::DecodeIndex},
                                         {kCmEncode, "Encode", IntKey::EncodeIndex},
                                         {kCmUnzip, "Unzip", IntKey::UnzipIndex},
                                         {kCmZipInfo, "Zip Info", IntKey::ZipInfoIndex}};
  const TDialog& dialog = *std::find_if(std::begin(kDialogs), std::end(kDialogs),
                                        [id](const TDialog& d) { return d.command == id; });
  std::vector<std::string> names;
  if (!ChooseFilesFor(dialog.caption, dialog.typeSetting, names)) return;
  if (!m_settings.Get(IntKey::ShowLog)) ToggleTextWindow(TTextWindow::Log);
  const TLineSink log = [this](const std::string& line) { m_log.Log("%s", line.c_str()); };
  TBusyScope busy;
  if (id == kCmDecode) {
    TDecode decode(log);
    for (const std::string& name : names)
      if (!decode.DecodeFile(name)) break;
    decode.Finish();
    return;
  }
  for (const std::string& name : names) {
    if (id == kCmEncode) {
      EncodeFile(name, m_settings.Get(IntKey::EncodeLines), log);
    } else if (id == kCmZipInfo) {
      ZipInfo(name, log);
    } else {
      // Proposed: the archive's own folder.
      std::string directory = name.substr(0, name.find_last_of('/') + 1);
      if (!m_host.Prompt("Unzip", "Directory to create files in:", directory)) return;
      UnzipArchive(name, directory.substr(0, 260), log);
    }
    if (BusyProgress(-1) != 0) return;
  }
}

void TZerbalinWin::DeleteChosenFiles() {
  std::vector<std::string> names;
  if (!ChooseFilesFor("Delete", IntKey::DeleteIndex, names)) return;
  m_list.Clear();
  TFileCommandContext context = FileContext();
  m_host.ShowProgressPointer(50);
  DeleteFiles(context, names);
  m_host.ShowProgressPointer(-1);
}

// Printing is not part of this version: a print batch ends with a failure
// status instead of reporting pages that never came out.
bool TZerbalinWin::PrintPicture() {
  m_actionFailed = true;
  m_log.Log("Not printed: %s (printing is not available in this version)", m_show.ImageName().c_str());
  return false;
}

// Sound and movie ------------------------------------------------------------------

TMediaWindow TZerbalinWin::MediaWindow() {
  return {[this] { m_host.PumpOneMessage(); },
          [this] {
            if (!m_settings.Get(IntKey::ShowLog)) ToggleTextWindow(TTextWindow::Log);
          },
          [this] { Command(kCmAlwaysOnTop); }};
}

void TZerbalinWin::MediaCommand(int id) {
  switch (id) {
  case kCmLouder: m_media.Louder(); break;
  case kCmSofter: m_media.Softer(); break;
  case kCmReplaySound:
    if (m_settings.Get(IntKey::SoundEnable) && !CurrentFile(1).empty()) PlaySound(CurrentFile(1));
    break;
  case kCmReplayMovie:
    if (m_settings.Get(IntKey::MovieEnable) && !CurrentFile(2).empty()) PlayMovie(CurrentFile(2));
    break;
  default: m_media.Notified(); break;
  }
}

bool TZerbalinWin::AskPassword() {
  return PasswordGiven(
      PasswordFile(), [this](std::string& typed) { return m_system.AskPasswordText(typed); },
      [this] { m_host.MessageBox(kIncorrectPasswordMessage, "Zerbalin", TBoxButtons::Ok, TBoxIcon::Exclamation); });
}

std::string TZerbalinWin::OpenFilters() const {
  std::string filters;
  for (int32_t index = 1; index <= 15; ++index)
    filters += std::string(TSlideList::FileTypeLabel(index)) + "|" + m_list.FileTypeFilter(index) + "|";
  return filters;
}

bool TZerbalinWin::ChooseFiles(const std::string& caption, int32_t& typeIndex, std::vector<std::string>& names) {
  return m_system.ChooseFiles(caption, OpenFilters(), typeIndex, names) && !names.empty();
}

// Exit -------------------------------------------------------------------------

void TZerbalinWin::WriteSettingsOnExit() {
  StoreWindowPlacements();
  // What a mode forced (a batch run, a conversion, a sheet) is not written:
  // the next start with one file must show it, not convert its folder.
  if (m_settings.Get(IntKey::RememberOptions))
    m_settings.WriteAll();
  else
    m_settings.WriteOnExit();
  if (!m_settings.Get(IntKey::AutoResume)) return;
  m_settings.WriteString("Directory", CurrentDirectory().c_str());
  for (StrKey key : {StrKey::CopyImageTo, StrKey::CopySoundTo, StrKey::CopyMovieTo, StrKey::MoveImageTo,
                     StrKey::MoveSoundTo, StrKey::MoveMovieTo}) {
    const std::string& value = m_settings.GetString(key);
    m_settings.WriteString(StrSetting(key).name, value.empty() ? nullptr : value.c_str());
  }
  m_settings.WriteString("CurrentImage", m_list.IsEmpty() ? kNoFile : m_list.CurrentName(false).c_str());
}
