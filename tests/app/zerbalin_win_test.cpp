// The main window's logic with a fake host: the start-up from the command
// line, batch runs, the settings written at exit, titles and saving.
#include "app/zerbalin_win.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <optional>

#include "app/busy.h"
#include "app/command_ids.h"
#include "settings/ini_file.h"

#include "platform/gst_player.h"
#include "settings/profile.h"
#include "support/fake_host.h"
#include "support/peer.h"
#include "support/window_fixture.h"

namespace {

using testsupport::TTempDir;
using testsupport::ZerbalinWinTest;

TEST_F(ZerbalinWinTest, BatchConversionSavesEveryFileAndQuits) {
  auto window = Start({"-ConvertToJPG", m_dir / "a.gif", m_dir / "b.gif"});
  Run(*window);
  EXPECT_TRUE(m_system.quit);
  EXPECT_TRUE(Exists("a.jpg"));
  EXPECT_TRUE(Exists("b.jpg"));
  EXPECT_EQ(window->ExitStatus(), 0);
  const std::string log = window->Text(TTextWindow::Log).GetText();
  EXPECT_NE(log.find("Saved " + m_dir / "b.gif" + " as " + m_dir / "b.jpg"), std::string::npos) << log;
}

TEST_F(ZerbalinWinTest, UnreadableFileInBatchGivesFailureStatus) {
  testsupport::WriteFileBytes(m_dir / "bad.gif", std::string("not a picture"));
  auto window = Start({"-c", m_dir / "bad.gif", m_dir / "a.gif"});
  Run(*window);
  EXPECT_TRUE(m_system.quit);
  EXPECT_FALSE(Exists("bad.gif.gif"));
  EXPECT_TRUE(Exists("a.gif"));
  EXPECT_EQ(window->ExitStatus(), 1);
  EXPECT_NE(window->Text(TTextWindow::Log).GetText().find("Not saved: " + m_dir / "bad.gif" + " could not be read"),
            std::string::npos);
}

// The values a batch keyword forces are not the user's: with RememberOptions
// a plain start afterwards shows its file and converts nothing.
TEST_F(ZerbalinWinTest, BatchValuesAreNotRemembered) {
  {
    auto window = Start({"-RememberOptions", "-DelayBetweenImages=7", "-ConvertToBMP", m_dir / "a.gif",
                         "-DelayBetweenSounds=4"});
    Run(*window);
    window->Close();
  }
  TProfile saved(TProfileStart{StartMode::Viewer, "zerbalin", {}, false}, m_host);
  EXPECT_EQ(saved.Get(IntKey::RememberOptions), 1);
  EXPECT_EQ(saved.Get(IntKey::RunSlideshow), 0);
  EXPECT_EQ(saved.Get(IntKey::ImageDisplayEvent), 0);
  EXPECT_EQ(saved.Get(IntKey::DelayBetweenImages), 7);
  // Given after the keyword, the user's own value.
  EXPECT_EQ(saved.Get(IntKey::DelayBetweenSounds), 4);
  EXPECT_NE(saved.Get(IntKey::SlideshowDoneEvent), kActionExit);

  m_system.quit = false;
  std::filesystem::remove(m_dir / "a.bmp");
  auto window = Start({m_dir / "b.gif"});
  Run(*window, 100);
  EXPECT_FALSE(m_system.quit);
  EXPECT_FALSE(Exists("b.bmp"));
  EXPECT_NE(m_host.Title().find(" GIF File: [" + m_dir / "b.gif" + "] (30x20x"), std::string::npos) << m_host.Title();
}

TEST_F(ZerbalinWinTest, SwitchesSetSettingsClampedAndBadOnesAreLogged) {
  auto window = Start({"-DelayBetweenImages=3", "-ThumbnailsAcross=5000", "-NoSuchSetting=1", "-OutputWidth=abc",
                       "-Rand"});
  Run(*window, 5);
  const TProfile& settings = window->Settings();
  EXPECT_EQ(settings.Get(IntKey::DelayBetweenImages), 3);
  EXPECT_EQ(settings.Get(IntKey::ThumbnailsAcross), 999);
  EXPECT_EQ(settings.Get(IntKey::RandomOrder), 1);
  const std::string log = window->Text(TTextWindow::Log).GetText();
  EXPECT_NE(log.find("Ignored switch -NoSuchSetting: there is no such setting"), std::string::npos) << log;
  EXPECT_NE(log.find("Ignored switch -OutputWidth=abc: the setting takes a number"), std::string::npos) << log;
  EXPECT_EQ(m_host.Title(), " Use File|Open... to select files, press F1 for help");
}

TEST_F(ZerbalinWinTest, SaveAsAsksBeforeReplacingAndLogsTheOutcome) {
  auto window = Start({m_dir / "a.gif"});
  Run(*window, 20);
  testsupport::WriteFileBytes(m_dir / "old.tga", std::string("keep me"));
  // A target that is a folder cannot be written.
  std::filesystem::create_directory(m_dir / "folder.tga");
  m_system.saveNames = {m_dir / "old.tga", m_dir / "new.tga", m_dir / "folder.tga"};
  m_host.boxAnswers = {TBoxAnswer::No, TBoxAnswer::Yes};
  window->Command(kCmSaveAs);
  EXPECT_EQ(m_host.boxes.back().caption, "File Exists");
  EXPECT_EQ(testsupport::ReadFileBytes(m_dir / "old.tga").size(), 7u);
  window->Command(kCmSaveAs);
  // The extension chooses the type whatever the save type is.
  EXPECT_EQ(testsupport::RunOutput("identify -format %m " + m_dir / "new.tga"), "TGA");
  window->Command(kCmSaveAs);
  const std::string log = window->Text(TTextWindow::Log).GetText();
  EXPECT_NE(log.find("Saved " + m_dir / "a.gif" + " as " + m_dir / "new.tga"), std::string::npos) << log;
  EXPECT_NE(log.find("Error occurred while saving " + m_dir / "a.gif" + " as " + m_dir / "folder.tga"),
            std::string::npos) << log;
  EXPECT_EQ(log.find("old.tga"), std::string::npos);
}

// A save is never cut short: a stop request meanwhile is not passed to the
// writer, so the whole picture is written and the save logged.
TEST_F(ZerbalinWinTest, StopRequestDuringASaveIsNotHonoured) {
  ASSERT_EQ(testsupport::Run("convert -size 1200x900 plasma:fractal -seed 3 " + m_dir / "big.tif"), 0);
  auto window = Start({m_dir / "big.tif"});
  Run(*window, 20);
  m_system.saveNames = {m_dir / "big.jpg"};
  m_host.QueueMessage([] { BusyCancel(); });
  window->Command(kCmSaveAs);
  EXPECT_TRUE(m_host.messages.empty()) << "the stop request came during the save";
  EXPECT_EQ(testsupport::PeerDecode(m_dir / "big.jpg").height, 900);
  const std::string log = window->Text(TTextWindow::Log).GetText();
  EXPECT_NE(log.find("Saved " + m_dir / "big.tif" + " as " + m_dir / "big.jpg"), std::string::npos) << log;
  EXPECT_EQ(window->ExitStatus(), 0);
}

TEST_F(ZerbalinWinTest, DroppedFilesJoinTheListAndTheFirstIsShown) {
  auto window = Start({m_dir / "a.gif"});
  Run(*window, 20);
  window->DropFiles({m_dir / "b.gif", m_dir / "c.gif"});
  Run(*window, 20);
  EXPECT_EQ(window->List().Count(), 3);
  EXPECT_NE(m_host.Title().find("[" + m_dir / "b.gif" + "]"), std::string::npos) << m_host.Title();
}

// With AutoResume the next start without files goes back to the folder and,
// in a running show, to the picture it left.
TEST_F(ZerbalinWinTest, AutoResumeReturnsToTheFolderAndPicture) {
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(m_dir.Path());
  {
    auto window = Start({"-AutoResume", "-RememberOptions", "-DelayBetweenImages=60", "-RunSlideshow",
                         "-EnableFileSpec", "-FileSpec=" + m_dir.Path().string() + "/", "a.gif", "b.gif"});
    Run(*window, 20);
    window->Command(kCmNext);
    Run(*window, 20);
    window->Close();
  }
  std::filesystem::current_path("/");
  auto window = Start({});
  Run(*window, 20);
  EXPECT_EQ(std::filesystem::current_path(), m_dir.Path());
  EXPECT_EQ(window->List().CurrentName(false), m_dir / "b.gif");
  std::filesystem::current_path(before);
}

// Moving or deleting the shown picture takes it off the list and shows the
// next one.
TEST_F(ZerbalinWinTest, MovedAndDeletedPicturesLeaveTheList) {
  ASSERT_EQ(testsupport::Run("convert -size 20x10 xc:white " + m_dir / "c.gif"), 0);
  std::filesystem::create_directory(m_dir / "kept");
  auto window = Start({m_dir / "a.gif", m_dir / "b.gif", m_dir / "c.gif"});
  Run(*window, 20);
  m_host.promptAnswers = {m_dir / "kept"};
  window->Command(kCmMoveImage);
  Run(*window, 20);
  EXPECT_TRUE(Exists("kept/a.gif"));
  EXPECT_FALSE(Exists("a.gif"));
  EXPECT_EQ(window->List().Count(), 2);
  EXPECT_NE(m_host.Title().find("[" + m_dir / "b.gif" + "]"), std::string::npos) << m_host.Title();

  window->Settings().Set(IntKey::EnableConfirmDelete, 0);
  window->Settings().Set(IntKey::EnableRecycleBin, 0);
  window->Command(kCmDeleteImage);
  Run(*window, 20);
  EXPECT_FALSE(Exists("b.gif"));
  EXPECT_EQ(window->List().Count(), 1);
  EXPECT_NE(m_host.Title().find("[" + m_dir / "c.gif" + "]"), std::string::npos) << m_host.Title();
}

TEST_F(ZerbalinWinTest, WallpaperIsTheScreenSizedViewInTheConfigurationFolder) {
  auto window = Start({m_dir / "a.gif"});
  Run(*window, 20);
  window->Command(kCmSaveWallpaper);
  const std::string wallpaper = m_dir / "home/zerbalin.bmp";
  EXPECT_EQ(testsupport::RunOutput("identify -format %wx%h " + wallpaper), "1024x768");
  EXPECT_NE(window->Text(TTextWindow::Log).GetText().find("Saved " + m_dir / "a.gif" + " as " + wallpaper),
            std::string::npos);
}

TEST_F(ZerbalinWinTest, ClosingWhileBusyStopsTheOperationAndTriesAgain) {
  auto window = Start({});
  Run(*window, 5);
  BusyBegin();
  EXPECT_FALSE(window->CanClose());
  BusyEnd();
  EXPECT_EQ(m_host.commands.back(), kCmExit);
  EXPECT_TRUE(window->CanClose());
}

TEST_F(ZerbalinWinTest, EditedCommentsReplaceThePicturesComments) {
  auto window = Start({m_dir / "a.gif"});
  Run(*window, 20);
  m_system.editedText = "first line\nsecond line";
  window->Command(window->AcceleratorCommand('E', kModifierControl));
  EXPECT_EQ(window->Text(TTextWindow::Comments).GetText(), "first line\r\nsecond line\r\n");
  // Saved with the picture where the format keeps comments.
  m_system.saveNames = {m_dir / "commented.gif"};
  m_system.saveType = 1;
  window->Command(kCmSaveAs);
  EXPECT_NE(testsupport::RunOutput("identify -format %c " + m_dir / "commented.gif").find("second line"), std::string::npos);
}

TEST_F(ZerbalinWinTest, TextWindowsToggleAndRememberTheirPlace) {
  auto window = Start({});
  window->Command(kCmShowLog);
  EXPECT_TRUE(m_system.shown[static_cast<int>(TTextWindow::Log)]);
  EXPECT_EQ(m_system.titles.back(), "Zerbalin - Log");
  window->Command(kCmShowLog);
  EXPECT_FALSE(m_system.shown[static_cast<int>(TTextWindow::Log)]);
  EXPECT_EQ(window->Settings().Get(IntKey::XLog), 100);
  EXPECT_EQ(window->Settings().Get(IntKey::HLog), 400);
}

} // namespace

namespace {

// The picture's output size in the window, and the part of it shown.
struct TShownView {
  int32_t width, height, cropLeft, cropWidth;
};

TShownView ShownView(const TZerbalinWin& window) {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  window.Image().OutputRect(left, top, right, bottom);
  return {right - left, bottom - top, window.Image().m_cropRect[0], window.Image().m_cropRect[1]};
}

} // namespace

// Zoom steps by the keys of the Image menu, panning by the arrows, and the
// reset; with the default factor 2 and a window larger than the picture.
TEST_F(ZerbalinWinTest, ImageKeysZoomPanAndResetTheView) {
  m_host.clientSize = {200, 150};
  auto window = Start({m_dir / "a.gif"});
  Run(*window, 20);
  auto press = [&](int key, unsigned modifiers) {
    window->Command(window->AcceleratorCommand(key, modifiers));
    Run(*window, 5);
  };
  EXPECT_EQ(ShownView(*window).width, 64);
  press(kVkPageUp, 0);
  EXPECT_EQ(ShownView(*window).width, 128);
  press(kVkPageUp, 0);
  // 256 x 192 would not fit: the crop narrows to what 200 x 150 shows.
  const TShownView zoomed = ShownView(*window);
  EXPECT_EQ(zoomed.width, 200);
  EXPECT_EQ(zoomed.height, 148);
  EXPECT_EQ(zoomed.cropWidth, 50);
  press(kVkLeft + 2, 0); // right by an eighth of the visible width
  EXPECT_EQ(ShownView(*window).cropLeft, zoomed.cropLeft + 50 / 8);
  press(kVkLeft, kModifierControl); // left by one pixel
  EXPECT_EQ(ShownView(*window).cropLeft, zoomed.cropLeft + 50 / 8 - 1);
  press(kVkLeft + 2, kModifierShift); // right by all of it, held at the edge
  EXPECT_EQ(ShownView(*window).cropLeft, 64 - 50);
  press(kVkLeft, kModifierAlt); // one pixel narrower
  EXPECT_EQ(ShownView(*window).cropWidth, 49);
  press(kVkPageDown, 0);
  press(kVkPageDown, 0);
  EXPECT_EQ(ShownView(*window).width, 64);
  press(kVkPageUp, 0);
  press(kVkHome, 0);
  EXPECT_EQ(ShownView(*window).width, 64);
  EXPECT_EQ(ShownView(*window).cropWidth, 64);
}

// Turns and tone are settings: they stay for the next picture; Reset
// returns them to neutral. Commands at their limits change nothing.
TEST_F(ZerbalinWinTest, ImageCommandsTurnAndToneThroughTheSettings) {
  m_host.clientSize = {200, 150};
  auto window = Start({m_dir / "a.gif", m_dir / "b.gif"});
  Run(*window, 20);
  window->Command(kCmRotate);
  EXPECT_EQ(window->Settings().Get(IntKey::Rotate), 3);
  EXPECT_EQ(ShownView(*window).width, 48);
  window->Command(kCmMirror);
  EXPECT_EQ(window->Settings().Get(IntKey::Rotate), 1);
  for (int i = 0; i < 6; ++i) window->Command(window->AcceleratorCommand(kVkAdd, 0));
  EXPECT_EQ(window->Settings().Get(IntKey::Brightness), 9);
  window->Command(window->AcceleratorCommand(kVkCaret, 0));
  EXPECT_EQ(window->Settings().Get(IntKey::Invert), 1);
  window->Command(kCmNext);
  Run(*window, 20);
  EXPECT_EQ(ShownView(*window).width, 20); // b.gif, 30 x 20, transposed
  window->Command(kCmResetView);
  EXPECT_EQ(window->Settings().Get(IntKey::Rotate), 0);
  EXPECT_EQ(window->Settings().Get(IntKey::Brightness), 5);
  EXPECT_EQ(window->Settings().Get(IntKey::Invert), 0);
  EXPECT_EQ(ShownView(*window).width, 30);
}

// Settings items of the menus: check items flip, radio items choose, number
// prompts clamp to the setting's range; the marks follow the settings.
TEST_F(ZerbalinWinTest, OptionCommandsSetTheSettingsTheirMarksShow) {
  auto window = Start({});
  Run(*window, 5);
  EXPECT_FALSE(window->CommandEnabled(kCmZoomIn)) << "no picture";
  EXPECT_FALSE(window->CommandEnabled(kCmGoTo)) << "empty list";
  const int autoScale = 875, tiffLzw = 848, tiffNone = 844, jpegQuality = 840, lowDithering = 858;
  EXPECT_EQ(window->CommandChecked(autoScale), false);
  window->Command(autoScale);
  EXPECT_EQ(window->Settings().Get(IntKey::AutoScale), 1);
  EXPECT_EQ(window->CommandChecked(autoScale), true);
  window->Command(tiffLzw);
  EXPECT_EQ(window->Settings().Get(IntKey::TIFFCompression), 5);
  EXPECT_EQ(window->CommandChecked(tiffLzw), true);
  EXPECT_EQ(window->CommandChecked(tiffNone), false);
  m_host.promptAnswers = {"250"};
  window->Command(jpegQuality);
  EXPECT_EQ(window->Settings().Get(IntKey::JPEGOutputQuality), 100);
  EXPECT_EQ(window->CommandChecked(jpegQuality), std::nullopt);
  window->Command(kCmMouseButtonEvent + 2);
  EXPECT_EQ(window->CommandChecked(kCmMouseButtonEvent + 2), true);
  EXPECT_EQ(window->CommandChecked(kCmMouseButtonEvent), false);
  window->Command(lowDithering);
  EXPECT_EQ(window->Settings().Get(IntKey::DitherQuality), 1);
}

// Save options writes the settings; Restore options reads them back and
// Default options returns to the defaults, the log window following.
TEST_F(ZerbalinWinTest, SavedOptionsComeBackAndDefaultsReplaceThem) {
  auto window = Start({m_dir / "a.gif"});
  Run(*window, 20);
  EXPECT_TRUE(window->CommandEnabled(kCmZoomIn));
  window->Command(kCmBrighter);
  window->Command(kCmShowLog);
  window->Command(kCmSaveOptions);
  window->Command(kCmBrighter);
  window->Command(kCmShowLog);
  EXPECT_EQ(window->Settings().Get(IntKey::Brightness), 7);
  EXPECT_FALSE(m_system.shown[static_cast<int>(TTextWindow::Log)]);
  window->Command(kCmRestoreOptions);
  EXPECT_EQ(window->Settings().Get(IntKey::Brightness), 6);
  EXPECT_TRUE(m_system.shown[static_cast<int>(TTextWindow::Log)]);
  window->Command(kCmDefaultOptions);
  EXPECT_EQ(window->Settings().Get(IntKey::Brightness), 5);
  EXPECT_FALSE(m_system.shown[static_cast<int>(TTextWindow::Log)]);
}

// Mouse gestures where no command is bound, and a bound click. The picture
// of 64 x 48 shows at its size in the middle of a 200 x 150 window, from
// (68, 51).
TEST_F(ZerbalinWinTest, MouseGesturesZoomPanAndRunBoundCommands) {
  m_host.clientSize = {200, 150};
  auto window = Start({m_dir / "a.gif", m_dir / "b.gif"});
  Run(*window, 20);
  auto drag = [&](TMouseButton button, int x0, int y0, int x1, int y1, unsigned modifiers = 0) {
    window->MouseDown(button, x0, y0, modifiers);
    window->MouseUp(button, x1, y1, modifiers);
    Run(*window, 5);
  };
  drag(TMouseButton::Left, 68, 51, 99, 74); // the top-left 32 x 24 pixels
  EXPECT_EQ(ShownView(*window).cropLeft, 0);
  EXPECT_EQ(ShownView(*window).cropWidth, 32);
  window->MouseDoubleClick(TMouseButton::Right, 0);
  Run(*window, 5);
  EXPECT_EQ(ShownView(*window).width, 64) << "reset";
  drag(TMouseButton::Left, 100, 75, 103, 77); // a click: centre and zoom in
  EXPECT_EQ(ShownView(*window).width, 128);
  drag(TMouseButton::Left, 100, 75, 100, 75);
  const TShownView zoomed = ShownView(*window);
  drag(TMouseButton::Right, 100, 75, 80, 75); // the picture follows 20 pixels left
  EXPECT_EQ(ShownView(*window).cropLeft, zoomed.cropLeft + 20 * zoomed.cropWidth / zoomed.width);
  window->MouseDown(TMouseButton::Left, 100, 75, kModifierShift);
  window->MouseUp(TMouseButton::Left, 100, 75, kModifierShift);
  EXPECT_EQ(m_host.TakeCommand(), kCmCrop);
  window->Settings().Set(IntKey::MouseEventL, kCmNext);
  EXPECT_FALSE(window->MouseDown(TMouseButton::Left, 100, 75, 0)) << "no gesture";
  window->MouseUp(TMouseButton::Left, 100, 75, 0);
  Run(*window, 20);
  EXPECT_NE(m_host.Title().find("b.gif"), std::string::npos) << m_host.Title();
}

// Close empties the list and shows no file; Esc takes the menu bar and the
// frame away and brings them back.
TEST_F(ZerbalinWinTest, CloseShowsNoFileAndEscapeFillsTheWindow) {
  auto window = Start({m_dir / "a.gif", m_dir / "b.gif"});
  Run(*window, 20);
  EXPECT_TRUE(window->CommandEnabled(kCmClose));
  window->Command(window->AcceleratorCommand('C', 0));
  Run(*window, 5);
  EXPECT_TRUE(window->List().IsEmpty());
  EXPECT_FALSE(window->CommandEnabled(kCmClose));
  EXPECT_FALSE(window->CommandEnabled(kCmZoomIn));
  EXPECT_EQ(window->PictureTitle().find("a.gif"), std::string::npos) << window->PictureTitle();
  window->Command(window->AcceleratorCommand(kVkEscape, 0));
  EXPECT_TRUE(m_system.filled);
  EXPECT_EQ(window->CommandChecked(kCmFillWindow), true);
  window->Command(window->AcceleratorCommand(kVkEscape, 0));
  EXPECT_FALSE(m_system.filled);
}

// The mail and archive commands of the File menu on chosen files, their
// lines in the log window: Encode then Decode gives the file back, Zip Info
// lists an archive made by zip and Unzip extracts it where the user says.
TEST_F(ZerbalinWinTest, EncodeDecodeUnzipAndZipInfoWorkOnChosenFiles) {
  std::filesystem::create_directories(m_dir / "mail");
  std::filesystem::create_directories(m_dir / "out");
  std::filesystem::copy_file(m_dir / "a.gif", m_dir / "mail/a.gif");
  ASSERT_EQ(testsupport::Run("cd '" + m_dir.Path().string() + "' && zip -q pics.zip a.gif b.gif"), 0);
  auto window = Start({});
  Run(*window, 5);
  m_system.chosenFiles = {m_dir / "mail/a.gif"};
  window->Command(window->AcceleratorCommand('E', 0));
  EXPECT_TRUE(Exists("mail/a.uue"));
  std::filesystem::remove(m_dir / "mail/a.gif");
  m_system.chosenFiles = {m_dir / "mail/a.uue"};
  window->Command(window->AcceleratorCommand('D', 0));
  EXPECT_EQ(testsupport::ReadFileBytes(m_dir / "mail/a.gif"), testsupport::ReadFileBytes(m_dir / "a.gif"));
  m_system.chosenFiles = {m_dir / "pics.zip"};
  window->Command(window->AcceleratorCommand('I', 0));
  m_host.promptAnswers = {m_dir / "out"};
  window->Command(window->AcceleratorCommand('U', 0));
  EXPECT_EQ(testsupport::ReadFileBytes(m_dir / "out/b.gif"), testsupport::ReadFileBytes(m_dir / "b.gif"));
  EXPECT_TRUE(m_system.shown[static_cast<int>(TTextWindow::Log)]);
  const std::string log = window->Text(TTextWindow::Log).GetText();
  EXPECT_NE(log.find("Zip Info for"), std::string::npos) << log;
  EXPECT_NE(log.find("Created"), std::string::npos) << log;
  EXPECT_EQ(m_system.captions, (std::vector<std::string>{"Encode", "Decode", "Zip Info", "Unzip"}));
}

// The Edit menu: a copied picture is the view as shown (turned, toned), a
// pasted one becomes the current picture under a made-up name, and
// comments go both ways.
TEST_F(ZerbalinWinTest, ClipboardCarriesPicturesAndComments) {
  // Pasted pictures are written to the current folder.
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(m_dir.Path());
  auto window = Start({m_dir / "a.gif"});
  Run(*window, 20);
  EXPECT_FALSE(window->CommandEnabled(kCmPasteImage));
  window->Command(kCmRotate);
  window->Command(window->AcceleratorCommand('C', kModifierControl));
  ASSERT_TRUE(m_system.clipboardImage);
  EXPECT_EQ(m_system.clipboardImage->width, 48) << "turned";
  EXPECT_EQ(m_system.clipboardImage->height, 64);
  EXPECT_EQ(m_system.clipboardImage->bitCount, 8);
  EXPECT_EQ(ShownView(*window).width, 48) << "laid out for the window again";
  window->Command(kCmResetView);
  window->Command(window->AcceleratorCommand('V', kModifierControl));
  Run(*window, 5);
  EXPECT_EQ(window->Image().Width(), 48);
  const std::string pasted = window->List().CurrentName(false);
  EXPECT_NE(pasted.find(".bmp"), std::string::npos) << pasted;
  window->Command(kCmPasteImage);
  EXPECT_NE(window->List().CurrentName(false), pasted) << "a second paste gets a name of its own";
  m_system.clipboardText = "from another program";
  window->Command(window->AcceleratorCommand('M', kModifierControl));
  EXPECT_EQ(window->Text(TTextWindow::Comments).GetText(), "from another program\r\n");
  m_system.EmptyClipboard();
  window->Command(window->AcceleratorCommand('O', kModifierControl));
  EXPECT_EQ(m_system.clipboardText, "from another program\r\n");
  std::filesystem::current_path(before);
}

// With ClipboardEvent set to save as GIF, a picture another program puts on
// the clipboard is taken in, saved without a question and the clipboard
// emptied.
TEST_F(ZerbalinWinTest, ClipboardEventSavesWhatAnotherProgramCopies) {
  const std::filesystem::path before = std::filesystem::current_path();
  {
    auto window = Start({"-ClipboardEvent=3"});
    Run(*window, 5);
    // The copy goes to the current folder.
    std::filesystem::current_path(m_dir.Path());
    m_system.clipboardImage = TDib{};
    m_system.clipboardImage->width = m_system.clipboardImage->height = 4;
    m_system.clipboardImage->bitCount = 24;
    m_system.clipboardImage->bits.assign(size_t{16} * 4, 200);
    window->ClipboardChanged();
    Run(*window, 5);
    EXPECT_FALSE(m_system.clipboardImage);
    bool savedGif = false;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
      savedGif |= entry.path().extension() == ".gif" && entry.path().stem().string().size() == 8;
    EXPECT_TRUE(savedGif) << window->Text(TTextWindow::Log).GetText();
  }
  std::filesystem::current_path(before);
}

// With a transition effect the picture is painted into the page and the
// effect brings all of it to the window within about a second; the window
// keeps its old pixels until then. Direct paints straight into the window.
TEST_F(ZerbalinWinTest, TransitionEffectsBringThePageToTheWindow) {
  m_host.clientSize = {120, 90};
  auto window = Start({m_dir / "b.gif", "-Effect=9", "-BackgroundRed=0", "-BackgroundGreen=0", "-BackgroundBlue=255"});
  Run(*window, 20);
  std::vector<uint32_t> pixels(120 * 90, 0x12345678);
  const TSurface surface{reinterpret_cast<uint8_t*>(pixels.data()), 120, 90, 120 * 4};
  window->Paint(surface);
  EXPECT_EQ(pixels[0], 0x12345678u) << "untouched until the effect";
  const uint32_t before = m_host.TickCount();
  Run(*window, 5);
  std::vector<bool> shown(120 * 90);
  for (const TRect& r : m_system.pageRects)
    for (int32_t y = r.top; y < r.top + r.height; ++y)
      for (int32_t x = r.left; x < r.left + r.width; ++x) shown[static_cast<size_t>(y) * 120 + x] = true;
  EXPECT_EQ(std::count(shown.begin(), shown.end(), false), 0);
  EXPECT_GT(m_system.pageRects.size(), 100u) << "box rings";
  EXPECT_LT(m_host.TickCount() - before, 1000u);
  window->Paint(surface);
  EXPECT_EQ(pixels[0], 0xff0000ffu) << "the page: the background";
  EXPECT_EQ(pixels[45 * 120 + 60] & 0xffffffu, 0x008000u) << "the page: the green picture";
  // Copy window takes what the window shows: the page.
  window->Command(kCmCopyWindow);
  ASSERT_TRUE(m_system.clipboardImage);
  const TDib& copied = *m_system.clipboardImage;
  const uint8_t* middle = copied.bits.data() + static_cast<size_t>(copied.height - 1 - 45) * copied.Stride() + 60 * 3;
  EXPECT_EQ(middle[1], 0x80) << "green, not an empty window";
  m_system.pageRects.clear();
  window->Command(kCmEffectDirect);
  std::fill(pixels.begin(), pixels.end(), 0);
  window->Paint(surface);
  Run(*window, 5);
  EXPECT_TRUE(m_system.pageRects.empty());
  EXPECT_EQ(pixels[45 * 120 + 60] & 0xffffffu, 0x008000u);
}

// Show thumbnails fills a sheet of two cells from the list and stops when
// it is full; a click on a thumbnail leaves the sheet, settings as before,
// and shows that picture.
TEST_F(ZerbalinWinTest, ThumbnailSheetFillsAndAClickOpensAPicture) {
  m_host.clientSize = {200, 100};
  std::filesystem::copy_file(m_dir / "b.gif", m_dir / "c.gif");
  auto window = Start({m_dir / "a.gif", m_dir / "b.gif", m_dir / "c.gif", "-ThumbnailsAcross=2",
                       "-ThumbnailsDown=1", "-DelayBetweenImages=3"});
  Run(*window, 20);
  window->Command(window->AcceleratorCommand('T', 0));
  Run(*window, 100);
  EXPECT_EQ(window->Settings().Get(IntKey::RunSlideshow), 0) << "stopped at the full page";
  EXPECT_EQ(window->Settings().Get(IntKey::DelayBetweenImages), 0);
  std::vector<uint32_t> pixels(200 * 100);
  const TSurface surface{reinterpret_cast<uint8_t*>(pixels.data()), 200, 100, 200 * 4};
  window->Paint(surface);
  Run(*window, 5);
  window->Paint(surface);
  EXPECT_EQ(m_system.drawnCaptions, (std::vector<std::string>{"a.gif", "b.gif"}));
  EXPECT_EQ(pixels[40 * 200 + 150] & 0xffffffu, 0x008000u) << "b.gif, green, in the right cell";
  EXPECT_NE(pixels[40 * 200 + 50] & 0xffffffu, 0x008000u) << "a.gif in the left cell";
  // Save As saves the sheet as one picture under a name of its own.
  m_system.saveNames = {m_dir / "sheet.bmp"};
  m_system.saveType = 2;
  window->Command(kCmSaveAs);
  EXPECT_EQ(m_system.proposals.back().substr(m_system.proposals.back().find_last_of('/') + 1, 8), "thumb001");
  EXPECT_EQ(testsupport::PeerDecode(m_dir / "sheet.bmp").width, 200);
  EXPECT_EQ(window->Image().Width(), 30) << "the last picture is back";
  window->MouseDown(TMouseButton::Left, 150, 40, 0);
  window->MouseUp(TMouseButton::Left, 150, 40, 0);
  Run(*window, 20);
  EXPECT_EQ(window->Settings().Get(IntKey::ThumbnailsEnable), 0);
  EXPECT_EQ(window->Settings().Get(IntKey::DelayBetweenImages), 3) << "the settings before the sheet";
  EXPECT_NE(m_host.Title().find("b.gif"), std::string::npos) << m_host.Title();
}

// Install makes a menu entry and the program the default application of
// the enabled types, keeping the application a type had; Remove gives it
// back. The saver copy of the program comes and goes with its own commands.
TEST_F(ZerbalinWinTest, InstallAndRemoveTieTheProgramIntoTheDesktop) {
  setenv("XDG_DATA_HOME", (m_dir / "data").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (m_dir / "config").c_str(), 1);
  std::filesystem::create_directories(m_dir / "config");
  testsupport::WriteFileBytes(m_dir / "config/mimeapps.list", std::string("[Default Applications]\nimage/gif=viewer.desktop\n"));
  auto window = Start({});
  Run(*window, 5);
  m_system.enabledTypes = {{IntKey::GIFEnab, 1}, {IntKey::JPGEnab, 1}, {IntKey::BMPEnab, 0}};
  m_host.boxAnswers = {TBoxAnswer::Yes, TBoxAnswer::Yes};
  window->Command(kCmInstall);
  const std::vector<uint8_t> bytes = testsupport::ReadFileBytes(m_dir / "data/applications/zerbalin.desktop");
  const std::string entry(bytes.begin(), bytes.end());
  EXPECT_NE(entry.find("MimeType=image/gif;"), std::string::npos) << entry;
  EXPECT_NE(entry.find(";image/jpeg;"), std::string::npos) << entry;
  EXPECT_EQ(entry.find("image/bmp"), std::string::npos) << "BMP files are not the program's";
  TIniFile apps(m_dir / "config/mimeapps.list");
  EXPECT_EQ(apps.Get("Default Applications", "image/gif"), "zerbalin.desktop");
  EXPECT_EQ(apps.Get("Default Applications", "image/jpeg"), "zerbalin.desktop");
  EXPECT_FALSE(apps.Get("Default Applications", "image/bmp"));
  const std::string log = window->Text(TTextWindow::Log).GetText();
  EXPECT_NE(log.find("Saved association of image/gif files with viewer.desktop"), std::string::npos) << log;
  EXPECT_NE(log.find("Created icon in Accessories group"), std::string::npos) << log;

  m_host.boxAnswers = {TBoxAnswer::Yes, TBoxAnswer::Yes};
  window->Command(kCmRemove);
  TIniFile after(m_dir / "config/mimeapps.list");
  EXPECT_EQ(after.Get("Default Applications", "image/gif"), "viewer.desktop");
  EXPECT_FALSE(after.Get("Default Applications", "image/jpeg"));
  EXPECT_FALSE(std::filesystem::exists(m_dir / "data/applications/zerbalin.desktop"));

  window->Command(kCmInstallSaver);
  EXPECT_TRUE(Exists("home/zersav32.scr"));
  EXPECT_EQ(TIniFile(m_dir / "home/system.ini").Get("boot", "scrnsave.exe"), m_dir / "home/zersav32.scr");
  window->Command(kCmRemoveSaver);
  EXPECT_FALSE(Exists("home/zersav32.scr"));
  EXPECT_EQ(TIniFile(m_dir / "home/system.ini").Get("boot", "scrnsave.exe"), "(None)");
  unsetenv("XDG_DATA_HOME");
  unsetenv("XDG_CONFIG_HOME");
}

// F1 opens the help page beside the program; without one the log says so.
TEST_F(ZerbalinWinTest, HelpOpensThePageBesideTheProgram) {
  auto window = Start({});
  Run(*window, 5);
  window->Command(window->AcceleratorCommand(kVkF1, 0));
  EXPECT_TRUE(m_system.openedDocuments.empty());
  EXPECT_NE(window->Text(TTextWindow::Log).GetText().find("Help is not available: "), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(ZER_PROGRAM).parent_path() / "help/zerbalin.html"))
      << "the build makes the page beside the program";
}

// On palette displays a colour photograph is dithered to the colours the
// display shows: black and white on 1 bit, the sixteen standard colours on
// 4 bits, at most 236 colours on 8 bits.
TEST_F(ZerbalinWinTest, PaletteDisplaysShowOnlyTheirColours) {
  ASSERT_EQ(testsupport::Run("convert -size 60x40 -seed 4 plasma:fractal -type truecolor bmp3:" + m_dir / "photo.bmp"),
            0);
  struct TCase {
    int depth;
    size_t mostColours;
  };
  for (const TCase c : {TCase{1, 2}, TCase{4, 16}, TCase{8, 236}, TCase{24, 2400}}) {
    SCOPED_TRACE(c.depth);
    m_host.displayDepth = c.depth;
    m_host.clientSize = {60, 40};
    auto window = Start({m_dir / "photo.bmp"});
    Run(*window, 20);
    std::vector<uint32_t> pixels(60 * 40);
    window->Paint({reinterpret_cast<uint8_t*>(pixels.data()), 60, 40, 60 * 4});
    std::set<uint32_t> colours(pixels.begin(), pixels.end());
    EXPECT_LE(colours.size(), c.mostColours);
    EXPECT_GT(colours.size(), c.depth == 24 ? 236u : 1u);
    if (c.depth == 1) {
      EXPECT_EQ(colours, (std::set<uint32_t>{0xff000000u, 0xffffffffu}));
    }
  }
}

// A sound and a movie in the show play through the real player to their end;
// each end comes back as a posted message, closes the file and lets the show
// go on to the next file, and the show ends the program after the last.
TEST_F(ZerbalinWinTest, ShowPlaysSoundAndMovieToTheirEndAndMovesOn) {
  ASSERT_TRUE(testsupport::MakeSoundAndMovie(m_dir / "1.wav", m_dir / "2.avi"));
  std::filesystem::copy_file(m_dir / "a.gif", m_dir / "3.gif");
  // The show goes through the list in the order of the names.
  auto window = Start({"-RunSlideshow", "-DelayBetweenImages=0", "-SlideshowDoneEvent=10", m_dir / "1.wav",
                       m_dir / "2.avi", m_dir / "3.gif"});
  for (int i = 0; i < 20000 && !m_system.quit; ++i) {
    if (const int command = m_host.TakeCommand()) {
      window->Command(command);
    } else if (!window->Idle()) {
      window->PollMedia();
      m_host.Advance(10);
      usleep(1000);
    }
  }
  EXPECT_TRUE(m_system.quit);
  const std::string log = window->Text(TTextWindow::Log).GetText();
  size_t at = 0;
  for (const std::string& line : {"MCI: open \"" + m_dir / "1.wav" + "\" type waveaudio alias sound",
                                 std::string("MCI: play sound notify"), std::string("MCI: close sound"),
                                 "MCI: open \"" + m_dir / "2.avi" + "\" type avivideo alias movie",
                                 std::string("MCI: play movie notify"), std::string("MCI: close movie")}) {
    at = log.find(line, at);
    ASSERT_NE(at, std::string::npos) << line << "\n" << log;
  }
  EXPECT_EQ(log.find("err: "), std::string::npos) << log;
}
