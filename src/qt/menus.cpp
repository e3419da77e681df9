#include "qt/menus.h"

#include <span>

#include <QMenu>
#include <QMenuBar>

#include "app/command_ids.h"
#include "app/zerbalin_win.h"

namespace {

struct TMenuEntry {
  const char* text; // nullptr: a separator
  int command;      // 0: a submenu
  const char* key;  // shown only: the core's accelerators take the keys
  std::span<const TMenuEntry> submenu = {};
};

constexpr TMenuEntry kConvertMenu[] = {
    {"&GIF...", kCmConvertGif, nullptr},     {"&BMP...", kCmConvertGif + 1, nullptr},
    {"&PCX...", kCmConvertGif + 2, nullptr}, {"&TGA...", kCmConvertGif + 3, nullptr},
    {"&JPG...", kCmConvertGif + 4, nullptr}, {"T&IF...", kCmConvertTif, nullptr},
};

constexpr TMenuEntry kFileMenu[] = {
    {"&Open...", kCmOpen, "O"},
    {"&Close", kCmClose, "C"},
    {"Con&vert", 0, nullptr, kConvertMenu},
    {"Save &as...", kCmSaveAs, "V"},
    {"Save &wallpaper", kCmSaveWallpaper, "W"},
    {"Show &thumbnails", kCmShowThumbnails, "T"},
    {nullptr, 0, nullptr},
    {"&Next", kCmNext, "Space"},
    {"&Random", kCmRandom, "Enter"},
    {"&Previous", kCmPrevious, "Backspace"},
    {nullptr, 0, nullptr},
    {"Copy image...", kCmCopyImage, "Ins"},
    {"Copy sound...", kCmCopyImage + 1, "Ctrl+Ins"},
    {"Copy movie...", kCmCopyMovie, "Alt+Ins"},
    {"Move image...", kCmMoveImage, "Shift+Ins"},
    {"Move sound...", kCmMoveImage + 1, "Ctrl+Shift+Ins"},
    {"Move movie...", kCmMoveMovie, "Alt+Shift+Ins"},
    {"Delete image", kCmDeleteImage, "Del"},
    {"Delete sound", kCmDeleteImage + 1, "Ctrl+Del"},
    {"Delete movie", kCmDeleteMovie, "Alt+Del"},
    {"Delete files...", kCmDeleteFiles, "Shift+Del"},
    {nullptr, 0, nullptr},
    {"&Decode...", kCmDecode, "D"},
    {"E&ncode...", kCmEncode, "E"},
    {"&Unzip...", kCmUnzip, "U"},
    {"&Zip info...", kCmZipInfo, "I"},
    {nullptr, 0, nullptr},
    {"Show co&mments", kCmShowComments, "H"},
    {"Show &log", kCmShowLog, "L"},
    {nullptr, 0, nullptr},
    {"E&xit", kCmExit, "X"},
};

constexpr TMenuEntry kEditMenu[] = {
    {"&Copy image", kCmCopyImageToClipboard, "Ctrl+C"},
    {"&Paste image", kCmPasteImage, "Ctrl+V"},
    {nullptr, 0, nullptr},
    {"C&opy comments", kCmCopyComments, "Ctrl+O"},
    {"Paste co&mments", kCmPasteComments, "Ctrl+M"},
    {"&Edit comments...", kCmEditComments, "Ctrl+E"},
    {nullptr, 0, nullptr},
    {"Copy &window", kCmCopyWindow, "Ctrl+W"},
};

constexpr TMenuEntry kImageMenu[] = {
    {"Zoom &in", kCmZoomIn, "PgUp"},
    {"&Crop", kCmCrop, "Shift+PgUp"},
    {"Zoom &out", kCmZoomOut, "PgDn"},
    {nullptr, 0, nullptr},
    {"&Rotate", kCmRotate, "End"},
    {"&Mirror", kCmMirror, "Shift+End"},
    {"&Flip", kCmFlip, "Ctrl+End"},
    {nullptr, 0, nullptr},
    {"&Brighter", kCmBrighter, "+"},
    {"&Dimmer", kCmDimmer, "-"},
    {"More con&trast", kCmMoreContrast, "*"},
    {"&Less contrast", kCmLessContrast, "/"},
    {"In&vert", kCmInvert, "^"},
    {nullptr, 0, nullptr},
    {"R&eset", kCmResetView, "Home"},
    {"Re&load", kCmReload, "Shift+Home"},
};

constexpr TMenuEntry kSoundMenu[] = {
    {"Sound &enable", kCmSoundEnable, "Ctrl+F2"},
    {"Sound &synchronous", kCmSoundSynchronous, "Ctrl+F3"},
    {"&Louder", kCmLouder, "Ctrl+Num+"},
    {"S&ofter", kCmSofter, "Ctrl+Num-"},
    {"Sound l&oop", kCmSoundLoop, "Ctrl+Num*"},
    {"&Replay sound", kCmReplaySound, "Ctrl+Home"},
};

constexpr TMenuEntry kMovieMenu[] = {
    {"Movie &enable", kCmMovieEnable, "Alt+F2"},
    {"Movie &synchronous", kCmMovieSynchronous, "Alt+F3"},
    {"Movie l&oop", kCmMovieLoop, "Alt+Num*"},
    {"&Replay movie", kCmReplayMovie, "Alt+Home"},
};

constexpr TMenuEntry kSlideShowMenu[] = {
    {"&Run slide show", kCmRunSlideshow, "R"},
    {"&Go to...", kCmGoTo, "G"},
    {"&Files...", kCmFileSpec, "F"},
    {nullptr, 0, nullptr},
    {"Delay between &images...", kCmDelayImages, nullptr},
    {"Delay between &sounds...", kCmDelaySounds, nullptr},
    {"Delay between &movies...", kCmDelayMovies, nullptr},
    {nullptr, 0, nullptr},
    {"Random &order", kCmRandomOrder, nullptr},
    {"&Erase new pages", kCmEraseNewPages, nullptr},
    {nullptr, 0, nullptr},
};

constexpr TMenuEntry kGifMenu[] = {
    {"&Interlaced", 829, nullptr},
    {"&Transparent", 830, nullptr},
    {"&Colors...", 831, nullptr},
    {"&LZW enable", 832, nullptr},
};

constexpr TMenuEntry kJpegMenu[] = {
    {"&Two pass", 834, nullptr},
    {"Use &dithering", 835, nullptr},
    {"Use &monochrome", 836, nullptr},
    {"Output &progressive", 837, nullptr},
    {"Output mo&nochrome", 838, nullptr},
    {"Output &optimize", 839, nullptr},
    {nullptr, 0, nullptr},
    {"Output &quality...", 840, nullptr},
    {"Output &smoothing...", 841, nullptr},
    {"M&emory...", 842, nullptr},
};

constexpr TMenuEntry kTiffMenu[] = {
    {"&None", 844, nullptr},          {"CCITT &RLE", 845, nullptr}, {"CCITT Group &3", 846, nullptr},
    {"CCITT Group &4", 847, nullptr}, {"&LZW", 848, nullptr},       {"&Deflate", 849, nullptr},
};

constexpr TMenuEntry kDitheringMenu[] = {
    {"&Low quality", 858, nullptr},
    {"&Medium quality", 859, nullptr},
    {"&High quality", 860, nullptr},
};

constexpr TMenuEntry kThumbnailsMenu[] = {
    {"&Enable", kCmThumbnailsEnable, "B"},
    {"&Random", kCmThumbnailsRandom, nullptr},
    {"A&nnotate", kCmThumbnailsAnnotate, nullptr},
    {"&Outline", kCmThumbnailsOutline, nullptr},
    {"&Across...", kCmThumbnailsAcross, "F9"},
    {"&Down...", kCmThumbnailsDown, "F10"},
};

constexpr TMenuEntry kEffectMenu[] = {
    {"Direct", kCmEffectDirect, "Shift+F1"},
    {"Fast", kCmEffectDirect + 1, "Shift+F2"},
    {"Horizontal", kCmEffectDirect + 2, "Shift+F3"},
    {"Vertical", kCmEffectDirect + 3, "Shift+F4"},
    {"Horizontal Blinds", kCmEffectDirect + 4, "Shift+F5"},
    {"Vertical Blinds", kCmEffectDirect + 5, "Shift+F6"},
    {"Check In", kCmEffectDirect + 6, "Shift+F7"},
    {"Check Out", kCmEffectDirect + 7, "Shift+F8"},
    {"Box In", kCmEffectDirect + 8, "Shift+F9"},
    {"Box Out", kCmEffectDirect + 9, "Shift+F10"},
    {"Dissolve", kCmEffectDirect + 10, "Shift+F11"},
    {"Random", kCmEffectRandom, "Shift+F12"},
};

constexpr TMenuEntry kAutoMenu[] = {
    {"&Scale", 875, "Tab"},  {"&Fit", 876, "Shift+Tab"},  {"&Crop", 877, nullptr},   {"&Dither", 878, nullptr},
    {"C&omments", 879, nullptr}, {"S&earch", 880, nullptr}, {"&Resume", 881, nullptr},
};

constexpr TMenuEntry kOptionsMenu[] = {
    {"&Save options", kCmSaveOptions, "F5"},
    {"&Restore options", kCmRestoreOptions, "F6"},
    {"&Default options", kCmDefaultOptions, "F7"},
    {"Re&member options", 804, "F8"},
    {nullptr, 0, nullptr},
    {"&Fill window", kCmFillWindow, "Esc"},
    {"Always on &top", kCmAlwaysOnTop, nullptr},
    {"Display in &color", 815, nullptr},
    {"&GIF", 0, nullptr, kGifMenu},
    {"&JPEG", 0, nullptr, kJpegMenu},
    {"&TIFF", 0, nullptr, kTiffMenu},
    {"&Quick look", 851, "Q"},
    {"Sort &palette", 852, nullptr},
    {nullptr, 0, nullptr},
    {"Output &width...", 854, nullptr},
    {"Output &height...", 855, nullptr},
    {"&Encode lines...", 856, nullptr},
    {"T&humbnails", 0, nullptr, kThumbnailsMenu},
    {"D&ithering", 0, nullptr, kDitheringMenu},
    {"E&ffect", 0, nullptr, kEffectMenu},
    {"&Auto", 0, nullptr, kAutoMenu},
    {nullptr, 0, nullptr},
    {"Start&up password", 883, nullptr},
    {"Slide show pass&word", 884, nullptr},
};

constexpr TMenuEntry kUtilitiesMenu[] = {
    {"&Install", kCmInstall, nullptr},
    {"&Remove", kCmRemove, nullptr},
    {nullptr, 0, nullptr},
    {"Install &screen saver", kCmInstallSaver, nullptr},
    {"Remove s&creen saver", kCmRemoveSaver, nullptr},
    {"Con&figure screen saver...", kCmConfigureSaver, nullptr},
    {"&Test screen saver", kCmTestSaver, nullptr},
    {nullptr, 0, nullptr},
    {"Configure &extensions...", kCmConfigureExtensions, nullptr},
    {"Configure &dpi...", kCmConfigureDpi, nullptr},
    {"Configure &options...", kCmConfigureOptions, nullptr},
};

constexpr TMenuEntry kHelpMenu[] = {
    {"&Contents...", kCmHelpContents, "F1"},
    {"&Using help...", kCmUsingHelp, "Ctrl+F1"},
    {nullptr, 0, nullptr},
    {"&About...", kCmAbout, "A"},
};

// The twelve actions of each event menu; the image display event's first
// item is None rather than Normal.
constexpr const char* kEventActions[] = {"&Normal", "&Print",   "Save &wallpaper", "Save as &GIF",
                                         "Save as &BMP", "Save as P&CX", "Save as &TGA", "Save as &JPG",
                                         "Save as T&IF", "&Stop", "&Exit program", "I&gnore"};

struct TEventMenuEntry {
  const char* text;
  int firstItem;
};
constexpr TEventMenuEntry kEventMenus[] = {
    {"&Keystroke event", kCmKeystrokeEvent},         {"Mouse &button event", kCmMouseButtonEvent},
    {"Mouse mo&vement event", kCmMouseMovementEvent}, {"Image &display event", kCmImageDisplayEvent},
    {"S&creen done event", kCmScreenDoneEvent},       {"Slide show do&ne event", kCmSlideshowDoneEvent},
    {"C&lipboard event", kCmClipboardEvent},
};

class TMenuBuilder {
public:
  TMenuBuilder(const TZerbalinWin& window, const std::function<void(int)>& postCommand)
      : m_window(window), m_post(postCommand) {}

  QMenu* Menu(QWidget* parent, const char* title, std::span<const TMenuEntry> entries) {
    QMenu* menu = new QMenu(QString::fromUtf8(title), parent);
    for (const TMenuEntry& entry : entries) {
      if (!entry.text)
        menu->addSeparator();
      else if (entry.command == 0)
        menu->addMenu(Menu(menu, entry.text, entry.submenu));
      else
        Item(menu, entry.text, entry.command, entry.key);
    }
    // Enabling and check marks follow the core each time the menu opens.
    QObject::connect(menu, &QMenu::aboutToShow, menu, [this, menu] { Refresh(menu); });
    return menu;
  }

  void AddEventMenus(QMenu* menu) {
    for (const TEventMenuEntry& event : kEventMenus) {
      QMenu* actions = menu->addMenu(QString::fromUtf8(event.text));
      for (int i = 0; i < 12; ++i)
        Item(actions, i == 0 && event.firstItem == kCmImageDisplayEvent ? "N&one" : kEventActions[i],
             event.firstItem + i, nullptr);
      QObject::connect(actions, &QMenu::aboutToShow, actions, [this, actions] { Refresh(actions); });
    }
  }

private:
  void Item(QMenu* menu, const char* text, int command, const char* key) {
    QString caption = QString::fromUtf8(text);
    if (key) caption += QLatin1Char('\t') + QString::fromUtf8(key);
    QAction* action = menu->addAction(caption);
    action->setData(command);
    action->setCheckable(m_window.CommandChecked(command).has_value());
    QObject::connect(action, &QAction::triggered, menu, [post = m_post, command] { post(command); });
  }

  void Refresh(QMenu* menu) const {
    for (QAction* action : menu->actions()) {
      if (action->isSeparator() || action->menu()) continue;
      const int command = action->data().toInt();
      action->setEnabled(m_window.CommandEnabled(command));
      if (const std::optional<bool> checked = m_window.CommandChecked(command)) action->setChecked(*checked);
    }
  }

  const TZerbalinWin& m_window;
  std::function<void(int)> m_post;
};

} // namespace

void BuildMenuBar(QMenuBar* bar, const TZerbalinWin& window, const std::function<void(int)>& postCommand) {
  // The builder lives as long as the menu bar: the menus' handlers use it.
  auto* builder = new TMenuBuilder(window, postCommand);
  QObject::connect(bar, &QObject::destroyed, [builder] { delete builder; });
  bar->addMenu(builder->Menu(bar, "&File", kFileMenu));
  bar->addMenu(builder->Menu(bar, "&Edit", kEditMenu));
  bar->addMenu(builder->Menu(bar, "&Image", kImageMenu));
  bar->addMenu(builder->Menu(bar, "So&und", kSoundMenu));
  bar->addMenu(builder->Menu(bar, "&Movie", kMovieMenu));
  QMenu* show = builder->Menu(bar, "&Slide show", kSlideShowMenu);
  builder->AddEventMenus(show);
  bar->addMenu(show);
  bar->addMenu(builder->Menu(bar, "&Options", kOptionsMenu));
  bar->addMenu(builder->Menu(bar, "&Utilities", kUtilitiesMenu));
  bar->addMenu(builder->Menu(bar, "&Help", kHelpMenu));
}
