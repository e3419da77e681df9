#include "app/zerbalin_win.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/busy.h"
#include "app/command_ids.h"
#include "app/encoded_files.h"
#include "app/file_commands.h"
#include "app/package_settings.h"
#include "app/password.h"
#include "app/view_commands.h"
#include "app/wallpaper.h"
#include "app/zip_commands.h"
#include "output/clipboard.h"
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

// The settings a batch keyword forces, so that a batch run goes through every
// file at once and ends the program.
constexpr IntKey kBatchKeys[] = {IntKey::RunSlideshow,       IntKey::RandomOrder,        IntKey::SoundEnable,
                                 IntKey::MovieEnable,        IntKey::DelayBetweenImages, IntKey::DelayBetweenSounds,
                                 IntKey::DelayBetweenMovies, IntKey::ImageDisplayEvent,  IntKey::SlideshowDoneEvent};

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
  if (BusyCheck()) return true;
  switch (id) {
  case kCmStartup: Startup(); return true;
  case kCmInstall:
    // Desktop integration (menu entry, file types, saver copy) is not built
    // yet; the start goes on and shows the files as without the switch.
    m_log.Log("Not installed: desktop integration is not available in this version");
    m_host.PostCommand(kCmReload);
    return true;
  case kCmClose: CloseFiles(); return true;
  case kCmCopyImageToClipboard:
  case kCmPasteImage:
  case kCmCopyComments:
  case kCmPasteComments:
  case kCmCopyWindow: ClipboardCommand(id); return true;
  case kCmSaveAs: SavePictureAs(); return true;
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
  case IntKey::DisplayInColor: ShowAgain(); break;
  case IntKey::FillWindow:
  case IntKey::AlwaysOnTop: ApplyWindowStyle(); break;
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
    CentreOn(*m_image, x, y);
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
  const TSize client = m_host.ClientSize();
  const bool autoScale = m_settings.Get(IntKey::AutoScale);
  const bool autoFit = m_settings.Get(IntKey::AutoFit);
  if (std::abs(x - m_drag.x) > kDragThreshold || std::abs(y - m_drag.y) > kDragThreshold) {
    ZoomToRect(*m_image, std::min(x, m_drag.x), std::min(y, m_drag.y), std::max(x, m_drag.x), std::max(y, m_drag.y),
               client.width, client.height, autoScale, autoFit);
    return;
  }
  CentreOn(*m_image, (x + m_drag.x) / 2, (y + m_drag.y) / 2);
  ZoomStep(*m_image, ZoomDirection::In, client.width, client.height, autoScale, autoFit);
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
  const TSize client = m_host.ClientSize();
  CentreOn(*m_image, (x + m_drag.x) / 2, (y + m_drag.y) / 2);
  ZoomStep(*m_image, ZoomDirection::Out, client.width, client.height, m_settings.Get(IntKey::AutoScale),
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

// The Edit menu's clipboard commands; each shows 50 percent while it runs.
void TZerbalinWin::ClipboardCommand(int id) {
  if (!CommandEnabled(id)) return;
  TBusyScope busy;
  BusyProgress(50);
  switch (id) {
  case kCmCopyImageToClipboard: CopyImageToClipboard(); break;
  case kCmPasteImage: PasteImage(); break;
  case kCmCopyComments:
    if (!m_system.PutClipboardText(m_comments.GetText())) ClipboardError("Unable to open clipboard.");
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

// The window as it is painted now.
void TZerbalinWin::CopyWindowToClipboard() {
  const TSize client = m_host.ClientSize();
  const int32_t width = std::max(client.width, 1), height = std::max(client.height, 1);
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
  Paint({pixels.data(), width, height, width * 4});
  const std::unique_ptr<TDib> dib = BitmapFromPixels(pixels.data(), width, height, width * 4);
  if (!dib)
    ClipboardError("There isn't enough free memory to do this.");
  else if (!m_system.PutClipboardImage(*dib))
    ClipboardError("Unable to open clipboard.");
}

// The clipboard's picture becomes the current one, named after the time
// and added to the file list; false when the clipboard held none.
bool TZerbalinWin::PasteImage() {
  std::unique_ptr<TDib> dib = m_system.ClipboardImage();
  if (!dib) {
    ClipboardError("There isn't enough free memory to do this.");
    return false;
  }
  m_comments.AddChar(0);
  m_image->AdoptBitmap(std::move(dib));
  PrepareLoadedPicture(*m_image, m_settings.Get(IntKey::SortPalette) ? TPaletteSort::Sort : TPaletteSort::Keep);
  m_hasPicture = true;
  const std::string name = PastedPictureName();
  m_list.Add(name, m_settings.Get(IntKey::OpenIndex), false, false, true);
  m_list.SelectByName(name);
  m_show.PictureTakenIn(name);
  PrepareDitherer();
  ShowPicture();
  // The comments window is shown exactly when there are comments: a pasted
  // picture has none.
  if (m_settings.Get(IntKey::AutoComments) && m_settings.Get(IntKey::ShowComments))
    ToggleTextWindow(TTextWindow::Comments);
  return true;
}

// "%8.8lx.bmp" of the time in seconds, or the next value after the last
// one given, so that two pastes within a second never share a name; in the
// current folder, where a save action puts its copy.
std::string TZerbalinWin::PastedPictureName() {
  const uint32_t seconds = static_cast<uint32_t>(std::time(nullptr));
  m_lastPastedName = std::max(seconds, m_lastPastedName + 1);
  char name[32];
  std::snprintf(name, sizeof name, "%8.8lx.%s", static_cast<unsigned long>(m_lastPastedName), "bmp");
  return CurrentDirectory() + "/" + name;
}

// Paste comments replaces the comments with the clipboard's text.
void TZerbalinWin::PasteComments() {
  const std::string text = m_system.ClipboardText();
  m_comments.AddChar(0);
  for (const char c : text) m_comments.AddChar(static_cast<unsigned char>(c));
  if (m_settings.Get(IntKey::ShowComments))
    m_system.RefreshTextWindow(TTextWindow::Comments, TextWindowTitle(TTextWindow::Comments));
}

void TZerbalinWin::ClipboardChanged() {
  const int32_t action = m_settings.Get(IntKey::ClipboardEvent);
  if (action == 0 || BusyIsActive() || !m_system.ClipboardHasImage()) return;
  if (!PasteImage()) return;
  m_system.EmptyClipboard();
  // A save action takes the proposed name without asking, as in a show.
  const int32_t running = m_settings.Get(IntKey::RunSlideshow);
  m_settings.Set(IntKey::RunSlideshow, 1);
  m_show.CarryOut(action);
  m_settings.Set(IntKey::RunSlideshow, running);
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
  const TSize client = m_host.ClientSize();
  m_host.InvalidateRect({0, 0, client.width, client.height});
}

void TZerbalinWin::ViewCommand(int id) {
  if (!m_hasPicture) return;
  const TSize client = m_host.ClientSize();
  const uint32_t effect = ApplyViewCommand(id, *m_image, m_settings, client.width, client.height);
  if (effect & kEffectRebuildPalette) PrepareDitherer();
  if (effect & kEffectShowAgain) ShowPicture();
}

bool TZerbalinWin::Idle() { return m_show.Idle(); }

bool TZerbalinWin::IsBatchRun() const {
  for (const TArgument& argument : m_arguments)
    if (argument.kind == TArgument::kSwitch && argument.keyword >= kKeywordPrint &&
        argument.keyword <= kKeywordConvertToTif)
      return true;
  return false;
}

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
  case kKeywordPrint: ForceForBatch(kActionPrint); return;
  case kKeywordWallpaper: ForceForBatch(kActionWallpaper); return;
  case kKeywordInstall: return;
  default: ForceForBatch(kActionSaveGif + static_cast<int32_t>(argument.keyword - kKeywordConvertToGif)); return;
  }
}

// A batch keyword sets the show's settings for one pass through the list;
// the values they replace are what the settings file keeps.
void TZerbalinWin::ForceForBatch(int32_t action) {
  for (IntKey key : kBatchKeys) m_beforeBatch.try_emplace(static_cast<int>(key), m_settings.Get(key));
  m_show.SetUpBatch(action, kActionExit);
}

void TZerbalinWin::ApplySettingSwitch(const TSwitch& option) {
  switch (m_settings.ApplySwitch(option)) {
  case TSwitchResult::Applied:
    // A setting the user gives after a batch keyword is the user's own.
    m_beforeBatch.erase(TProfile::IntIndexOf(option.name.c_str()));
    return;
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
    char buffer[4096];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length > 0) {
      directory.assign(buffer, static_cast<size_t>(length));
      directory.resize(directory.find_last_of('/') + 1);
    }
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
// what the comments window then holds.
void TZerbalinWin::EditComments() {
  if (!m_hasPicture) return;
  std::string text = m_comments.GetText();
  m_dialogOpen = true;
  const bool edited = m_system.EditText("Edit Comments", text);
  m_dialogOpen = false;
  if (!edited) return;
  text.resize(std::min(text.size(), kMaxEditedComments));
  m_comments.AddChar(0);
  for (const char c : text) m_comments.AddChar(static_cast<unsigned char>(c));
  m_system.RefreshTextWindow(TTextWindow::Comments, TextWindowTitle(TTextWindow::Comments));
}

void TZerbalinWin::OpenLogWindow() {
  if (!m_settings.Get(IntKey::ShowLog)) ToggleTextWindow(TTextWindow::Log);
}

// Pictures ---------------------------------------------------------------------

std::string TZerbalinWin::LoadPicture(const std::string& name) {
  TReadOutcome outcome;
  const std::string format = ReadPicture(name.c_str(), *m_image, m_settings, &outcome);
  PrepareLoadedPicture(*m_image, m_settings.Get(IntKey::SortPalette) ? TPaletteSort::Sort : TPaletteSort::Keep);
  if (m_settings.Get(IntKey::AutoCrop)) CropUniformBorders(*m_image);
  PrepareDitherer();
  m_hasPicture = true;
  if (m_settings.Get(IntKey::ShowComments))
    m_system.RefreshTextWindow(TTextWindow::Comments, TextWindowTitle(TTextWindow::Comments));
  return format;
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
}

TShowWindow::TShown TZerbalinWin::ShowPicture() {
  const TSize client = m_host.ClientSize();
  const int32_t dpi = m_host.DotsPerInch();
  Layout(*m_image, client.width, client.height, dpi, dpi, m_settings.Get(IntKey::Rotate),
         m_settings.Get(IntKey::AutoScale), m_settings.Get(IntKey::AutoFit));
  UpdateTitle();
  m_host.InvalidateRect({0, 0, client.width, client.height});
  TShown shown;
  m_image->OutputRect(shown.placement.left, shown.placement.top, shown.placement.right, shown.placement.bottom);
  shown.hasComments = !m_comments.IsEmpty();
  return shown;
}

void TZerbalinWin::Resized() {
  if (!m_hasPicture) {
    const TSize client = m_host.ClientSize();
    m_host.InvalidateRect({0, 0, client.width, client.height});
    return;
  }
  const TSize client = m_host.ClientSize();
  ZoomStep(*m_image, ZoomDirection::Reset, client.width, client.height, m_settings.Get(IntKey::AutoScale),
           m_settings.Get(IntKey::AutoFit));
  ShowPicture();
}

void TZerbalinWin::Paint(const TSurface& surface) {
  const uint32_t background = 0xff000000u | static_cast<uint32_t>(m_settings.Get(IntKey::BackgroundRed)) << 16 |
                              static_cast<uint32_t>(m_settings.Get(IntKey::BackgroundGreen)) << 8 |
                              static_cast<uint32_t>(m_settings.Get(IntKey::BackgroundBlue));
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  if (m_hasPicture && m_show.FormatName() != "???") m_image->OutputRect(left, top, right, bottom);
  left = std::clamp(left, 0, surface.width);
  right = std::clamp(right, left, surface.width);
  top = std::clamp(top, 0, surface.height);
  bottom = std::clamp(bottom, top, surface.height);
  const int32_t width = right - left;
  const int32_t bytes = m_image->BytesPerPixel();
  std::vector<uint8_t> row(static_cast<size_t>(std::max(width, 1)) * 3);
  for (int32_t y = 0; y < surface.height; ++y) {
    uint32_t* out = reinterpret_cast<uint32_t*>(surface.pixels + static_cast<ptrdiff_t>(y) * surface.stride);
    if (y < top || y >= bottom || width == 0) {
      std::fill(out, out + surface.width, background);
      continue;
    }
    std::fill(out, out + left, background);
    std::fill(out + right, out + surface.width, background);
    const uint8_t* pixels = m_image->OutputRowView(left, y, row.data(), width);
    if (pixels != row.data()) std::memcpy(row.data(), pixels, static_cast<size_t>(width) * bytes);
    m_ditherer.ConvertRow(row.data(), width, 3, bytes);
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* bgr = &row[static_cast<size_t>(x) * 3];
      out[left + x] = 0xff000000u | uint32_t{bgr[2]} << 16 | uint32_t{bgr[1]} << 8 | bgr[0];
    }
  }
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
    if (format != "???") {
      const bool colours = m_settings.Get(IntKey::SortPalette) && m_image->BytesPerPixel() == 1;
      const int32_t xDpi = m_image->EffectiveXDpi(), yDpi = m_image->EffectiveYDpi();
      title += " (" + std::to_string(m_image->Width()) + "x" + std::to_string(m_image->Height()) + "x" +
               (colours ? std::to_string(m_image->ColourCount()) + "-colors"
                        : std::to_string(m_image->BytesPerPixel() * 8) + "-bits") +
               ", " + (xDpi == yDpi ? std::to_string(xDpi) : std::to_string(xDpi) + "x" + std::to_string(yDpi)) +
               " dpi)";
    }
  }
  if (sound != kNoFile) title += " Sound File: [" + sound + "]";
  if (movie != kNoFile) title += " Movie File: [" + movie + "]";
  return title;
}

void TZerbalinWin::UpdateTitle() { m_host.SetTitle(PictureTitle()); }

// Saving -----------------------------------------------------------------------

// Save As: the current picture under its name with the extension of the save
// type, asked for in the save dialog unless the show runs.
bool TZerbalinWin::SavePictureAs() {
  if (!m_hasPicture || m_show.ImageName() == kNoFile) return false;
  int32_t typeIndex = std::clamp(m_settings.Get(IntKey::SaveAsIndex), 1, 6);
  std::string path = WithExtension(m_show.ImageName(), kSaveExtensions[typeIndex - 1]);
  if (!m_show.Running()) {
    m_dialogOpen = true;
    const bool chosen = m_system.ChooseSaveName("Save As", kSaveFilters, typeIndex, path);
    m_dialogOpen = false;
    if (!chosen || path.empty()) return false;
    if (FileExists(path) && m_host.MessageBox(path + "\nThis file already exists.\n\nReplace existing file?",
                                              "File Exists", TBoxButtons::YesNo, TBoxIcon::Question) != TBoxAnswer::Yes)
      return false;
    m_settings.Set(IntKey::SaveAsIndex, typeIndex);
  }
  return SaveTo(path, m_settings.Get(IntKey::SaveAsIndex));
}

bool TZerbalinWin::SaveTo(const std::string& path, int32_t fileType) {
  return SaveWith(path, [&] { return SavePicture(path.c_str(), fileType, *m_image, m_settings, &m_ditherer); });
}

// Runs a writer with the title saying so, then lays the view out again (the
// writers set their own output geometry) and logs the outcome.
bool TZerbalinWin::SaveWith(const std::string& path, const std::function<int()>& write) {
  const std::string title = m_host.Title();
  m_host.SetTitle(" Saving: [" + path + "]");
  const int result = write();
  m_host.SetTitle(title);
  ShowPicture();
  const char* name = m_show.ImageName().c_str();
  if (result == kSaveWritten) {
    m_log.Log("Saved %s as %s", name, path.c_str());
    return true;
  }
  // A save the user stopped is no error; the old file, or none, is left.
  if (result != kSaveStopped) {
    m_actionFailed = true;
    m_log.Log("Error occurred while saving %s as %s", name, path.c_str());
  }
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
std::string TZerbalinWin::CurrentFile(int kind) const {
  const std::string& name = kind == 0 ? m_show.ImageName() : kind == 1 ? m_show.SoundName() : m_show.MovieName();
  return kind == 0 && !m_hasPicture ? std::string() : name;
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
    const TSize client = m_host.ClientSize();
    m_host.InvalidateRect({0, 0, client.width, client.height});
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
  m_dialogOpen = true;
  const bool chosen = m_system.ChooseFiles(caption, OpenFilters(), typeIndex, names);
  m_dialogOpen = false;
  return chosen && !names.empty();
}

// Exit -------------------------------------------------------------------------

void TZerbalinWin::WriteSettingsOnExit() {
  StoreWindowPlacements();
  if (m_settings.Get(IntKey::RememberOptions)) {
    // What a batch keyword forced is not the user's choice: the next start
    // with one file must show it, not convert its folder and exit.
    for (const auto& [index, value] : m_beforeBatch) m_settings.Set(static_cast<IntKey>(index), value);
    m_settings.WriteAll();
  } else {
    m_settings.WriteOnExit();
  }
  if (!m_settings.Get(IntKey::AutoResume)) return;
  m_settings.WriteString("Directory", CurrentDirectory().c_str());
  for (StrKey key : {StrKey::CopyImageTo, StrKey::CopySoundTo, StrKey::CopyMovieTo, StrKey::MoveImageTo,
                     StrKey::MoveSoundTo, StrKey::MoveMovieTo}) {
    const std::string& value = m_settings.GetString(key);
    m_settings.WriteString(StrSetting(key).name, value.empty() ? nullptr : value.c_str());
  }
  m_settings.WriteString("CurrentImage", m_list.IsEmpty() ? kNoFile : m_list.CurrentName(false).c_str());
}
