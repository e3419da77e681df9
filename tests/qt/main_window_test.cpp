// The Qt main window on the offscreen platform: a loaded picture appears in
// the window, the title tells what is shown, and the log window shows the
// log's lines.
#include "qt/main_window.h"
#include "qt/saver_dialog.h"
#include "qt/settings_dialogs.h"
#include "qt/single_instance.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QTimer>
#include <QPlainTextEdit>
#include <QThread>
#include <QTimer>
#include <filesystem>

#include "app/busy.h"
#include "app/command_ids.h"
#include "settings/profile.h"
#include "support/fake_host.h"
#include "support/peer.h"

namespace {

using testsupport::FakeHost;
using testsupport::TTempDir;

class MainWindowTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "zerbalin";
    static char* argv[] = {name, nullptr};
    // Made once for the whole program and never destroyed: Qt's own statics
    // go before it at exit.
    static QApplication* application = new QApplication(argc, argv);
    (void)application;
  }
  void SetUp() override {
    setenv("ZERBALIN_HOME", (m_dir / "home").c_str(), 1);
    // A picture of two halves, red over blue.
    ASSERT_EQ(testsupport::Run("convert -size 40x40 xc:red xc:blue -append " + m_dir / "halves.bmp"), 0);
  }
  void TearDown() override { unsetenv("ZERBALIN_HOME"); }

  // Runs the event loop until done says so or a second has passed.
  static void ProcessUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 200 && !done(); ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  // The same for work that takes its time: until done, or a minute.
  static void WaitUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 60000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
      QThread::msleep(1);
    }
  }

  TTempDir m_dir;
};

TEST_F(MainWindowTest, ShowsTheLoadedPictureFittedOnTheBackground) {
  const std::string name = m_dir / "halves.bmp";
  const char* argv[] = {"zerbalin", name.c_str(), "-BackgroundRed=0", "-BackgroundGreen=255", "-BackgroundBlue=0"};
  TQtMainWindow window(StartMode::Viewer, "zerbalin", ParseArguments(5, argv), false);
  window.Begin();
  ProcessUntil([&] { return window.windowTitle().contains(QStringLiteral("BMP File")); });
  EXPECT_EQ(window.windowTitle().toStdString(), "Zerbalin - BMP File: [" + name + "] (40x80x24-bits, 72 dpi)");
  const QImage shot = window.centralWidget()->grab().toImage();
  const int w = shot.width(), h = shot.height();
  // Smaller than the window: shown as it is, centred, on the background.
  EXPECT_EQ(shot.pixelColor(w / 2, h / 2 - 20), QColor(Qt::red));
  EXPECT_EQ(shot.pixelColor(w / 2, h / 2 + 20), QColor(Qt::blue));
  EXPECT_EQ(shot.pixelColor(w / 2 - 21, h / 2), QColor(Qt::green));
  EXPECT_EQ(shot.pixelColor(w / 2, h / 2 + 41), QColor(Qt::green));
  // A window smaller than the picture shows all of it, shrunk to fit.
  window.resize(200, 100);
  ProcessUntil([&] { return window.centralWidget()->height() < 100; });
  const QImage small = window.centralWidget()->grab().toImage();
  EXPECT_EQ(small.pixelColor(small.width() / 2, 2), QColor(Qt::red));
  EXPECT_EQ(small.pixelColor(small.width() / 2, small.height() - 3), QColor(Qt::blue));
  EXPECT_EQ(small.pixelColor(2, small.height() / 2), QColor(Qt::green));
  window.close();
}

// With an effect the picture reaches the window through it.
TEST_F(MainWindowTest, DissolveShowsThePicture) {
  const std::string name = m_dir / "halves.bmp";
  const char* argv[] = {"zerbalin", name.c_str(), "-Effect=11", "-BackgroundRed=0", "-BackgroundGreen=255",
                        "-BackgroundBlue=0"};
  TQtMainWindow window(StartMode::Viewer, "zerbalin", ParseArguments(6, argv), false);
  window.Begin();
  ProcessUntil([&] { return window.windowTitle().contains(QStringLiteral("BMP File")); });
  ProcessUntil([] { return false; });
  const QImage shot = window.centralWidget()->grab().toImage();
  const int w = shot.width(), h = shot.height();
  EXPECT_EQ(shot.pixelColor(w / 2, h / 2 - 20), QColor(Qt::red));
  EXPECT_EQ(shot.pixelColor(w / 2, h / 2 + 20), QColor(Qt::blue));
  EXPECT_EQ(shot.pixelColor(w / 2 - 21, h / 2), QColor(Qt::green));
  window.close();
}

// DisplayCaption writes the picture's name in a band at the bottom, in the
// foreground colour.
TEST_F(MainWindowTest, CaptionShowsTheNameBelowThePicture) {
  const std::string name = m_dir / "halves.bmp";
  const char* argv[] = {"zerbalin", name.c_str(), "-DisplayCaption=1", "-BackgroundRed=0", "-BackgroundGreen=255",
                        "-BackgroundBlue=0"};
  TQtMainWindow window(StartMode::Viewer, "zerbalin", ParseArguments(6, argv), false);
  window.Begin();
  ProcessUntil([&] { return window.windowTitle().contains(QStringLiteral("BMP File")); });
  ProcessUntil([] { return false; });
  const QImage shot = window.centralWidget()->grab().toImage();
  int dark = 0;
  for (int y = shot.height() - 30; y < shot.height(); ++y)
    for (int x = 0; x < shot.width(); ++x) dark += shot.pixelColor(x, y).lightness() < 100;
  EXPECT_GT(dark, 20) << "the caption's letters";
  window.close();
}

// Keys reach the Image menu's commands: End turns the picture a quarter
// clockwise, and ^ (typed with Shift) inverts it.
TEST_F(MainWindowTest, ImageKeysTurnAndInvertThePicture) {
  const std::string name = m_dir / "halves.bmp";
  const char* argv[] = {"zerbalin", name.c_str(), "-BackgroundRed=0", "-BackgroundGreen=255", "-BackgroundBlue=0"};
  TQtMainWindow window(StartMode::Viewer, "zerbalin", ParseArguments(5, argv), false);
  window.Begin();
  ProcessUntil([&] { return window.windowTitle().contains(QStringLiteral("BMP File")); });
  QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
  QKeyEvent caret(QEvent::KeyPress, Qt::Key_AsciiCircum, Qt::ShiftModifier, QStringLiteral("^"));
  QCoreApplication::sendEvent(&window, &end);
  QCoreApplication::sendEvent(&window, &caret);
  ProcessUntil([] { return false; });
  const QImage shot = window.centralWidget()->grab().toImage();
  const int w = shot.width(), h = shot.height();
  EXPECT_EQ(shot.pixelColor(w / 2 - 20, h / 2), QColor(Qt::yellow));
  EXPECT_EQ(shot.pixelColor(w / 2 + 20, h / 2), QColor(Qt::cyan));
  EXPECT_EQ(shot.pixelColor(w / 2, h / 2 + 25), QColor(Qt::green));
  window.close();
}

// A left click on the picture zooms in around it: the picture of 40 x 80
// then reaches past where the background was.
TEST_F(MainWindowTest, LeftClickZoomsIn) {
  const std::string name = m_dir / "halves.bmp";
  const char* argv[] = {"zerbalin", name.c_str(), "-BackgroundRed=0", "-BackgroundGreen=255", "-BackgroundBlue=0"};
  TQtMainWindow window(StartMode::Viewer, "zerbalin", ParseArguments(5, argv), false);
  window.resize(400, 400);
  window.Begin();
  ProcessUntil([&] { return window.windowTitle().contains(QStringLiteral("BMP File")); });
  QWidget* canvas = window.centralWidget();
  const QPointF centre = canvas->mapTo(&window, QPoint(canvas->width() / 2, canvas->height() / 2));
  QMouseEvent press(QEvent::MouseButtonPress, centre, centre, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, centre, centre, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&window, &press);
  QCoreApplication::sendEvent(&window, &release);
  ProcessUntil([] { return false; });
  const QImage shot = canvas->grab().toImage();
  EXPECT_EQ(shot.pixelColor(shot.width() / 2 - 30, shot.height() / 2 - 50), QColor(Qt::red));
  EXPECT_EQ(shot.pixelColor(shot.width() / 2 + 30, shot.height() / 2 + 50), QColor(Qt::blue));
  window.close();
}

// Copy image puts the picture on the system clipboard as Qt sees it, and a
// picture another program puts there is pasted as the current one.
TEST_F(MainWindowTest, ClipboardTakesAndGivesPictures) {
  // The pasted picture is written to the current folder.
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(m_dir.Path());
  const std::string name = m_dir / "halves.bmp";
  const char* argv[] = {"zerbalin", name.c_str()};
  TQtMainWindow window(StartMode::Viewer, "zerbalin", ParseArguments(2, argv), false);
  window.Begin();
  ProcessUntil([&] { return window.windowTitle().contains(QStringLiteral("BMP File")); });
  QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier);
  QCoreApplication::sendEvent(&window, &copy);
  ProcessUntil([] { return !QGuiApplication::clipboard()->image().isNull(); });
  const QImage copied = QGuiApplication::clipboard()->image();
  ASSERT_EQ(copied.size(), QSize(40, 80));
  EXPECT_EQ(copied.pixelColor(20, 10), QColor(Qt::red));
  EXPECT_EQ(copied.pixelColor(20, 70), QColor(Qt::blue));
  QImage green(30, 10, QImage::Format_RGB32);
  green.fill(Qt::green);
  QGuiApplication::clipboard()->setImage(green);
  QKeyEvent paste(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier);
  QCoreApplication::sendEvent(&window, &paste);
  ProcessUntil([&] { return window.windowTitle().contains(QStringLiteral("30x10")); });
  EXPECT_TRUE(window.windowTitle().contains(QStringLiteral(".bmp]"))) << window.windowTitle().toStdString();
  window.close();
  std::filesystem::current_path(before);
}

// Configure options edits a copy of every number setting, each typed value
// kept in its range; the settings change on Store only.
TEST_F(MainWindowTest, OptionsDialogKeepsTypedValuesInRange) {
  TProfile settings;
  TOptionsDialog dialog(settings);
  auto* names = dialog.findChild<QListWidget*>();
  auto* value = dialog.findChild<QLineEdit*>();
  ASSERT_TRUE(names && value);
  const int quality = TProfile::IntIndexOf("JPEGOutputQuality");
  names->setCurrentRow(quality);
  EXPECT_EQ(value->text(), QStringLiteral("75"));
  value->setText(QStringLiteral("500"));
  names->setCurrentRow(0);
  EXPECT_EQ(settings.Get(IntKey::JPEGOutputQuality), 75) << "not before OK";
  dialog.Store();
  EXPECT_EQ(settings.Get(IntKey::JPEGOutputQuality), 100);
}

// OK stores only what the user edited: a show that ended while the dialog
// was open stays ended, and a value a conversion forced stays forced (the
// settings file keeps the user's).
TEST_F(MainWindowTest, OptionsDialogChangesOnlyWhatWasEdited) {
  TProfile settings;
  settings.Set(IntKey::RunSlideshow, 1);
  settings.Force(IntKey::DelayBetweenImages, 0);
  TOptionsDialog dialog(settings);
  auto* names = dialog.findChild<QListWidget*>();
  auto* value = dialog.findChild<QLineEdit*>();
  ASSERT_TRUE(names && value);
  settings.Set(IntKey::RunSlideshow, 0); // the show ends meanwhile
  names->setCurrentRow(TProfile::IntIndexOf("JPEGOutputQuality"));
  value->setText(QStringLiteral("90"));
  names->setCurrentRow(TProfile::IntIndexOf("DelayBetweenImages"));
  dialog.Store();
  EXPECT_EQ(settings.Get(IntKey::JPEGOutputQuality), 90);
  EXPECT_EQ(settings.Get(IntKey::RunSlideshow), 0) << "not started again";
  EXPECT_TRUE(settings.IsForced(IntKey::DelayBetweenImages));
  EXPECT_EQ(settings.Chosen(IntKey::DelayBetweenImages), 5);
}

// The menus carry every command: an item runs it, and opening a menu shows
// the core's check marks and enabling.
TEST_F(MainWindowTest, MenuItemsRunCommandsAndShowTheirState) {
  const char* argv[] = {"zerbalin"};
  TQtMainWindow window(StartMode::Viewer, "zerbalin", ParseArguments(1, argv), false);
  window.Begin();
  ProcessUntil([] { return false; });
  auto item = [&](int command) -> QAction* {
    for (QAction* action : window.findChildren<QAction*>())
      if (!action->menu() && !action->isSeparator() && action->data().toInt() == command) return action;
    return nullptr;
  };
  auto open = [](QAction* action) { emit qobject_cast<QMenu*>(action->parent())->aboutToShow(); };
  QAction* autoScale = item(875);
  QAction* zoomIn = item(kCmZoomIn);
  ASSERT_TRUE(autoScale && zoomIn);
  open(zoomIn);
  EXPECT_FALSE(zoomIn->isEnabled()) << "no picture";
  EXPECT_TRUE(autoScale->isCheckable());
  autoScale->trigger();
  ProcessUntil([] { return false; });
  open(autoScale);
  EXPECT_TRUE(autoScale->isChecked());
  window.close();
}

// A name handed over while an operation runs stops the operation and is
// shown once the window is free: the second start has already ended.
TEST_F(MainWindowTest, HandOverWhileBusyIsKeptUntilTheWindowIsFree) {
  const char* argv[] = {"zerbalin"};
  TQtMainWindow window(StartMode::Viewer, "zerbalin", ParseArguments(1, argv), false);
  window.Begin();
  ProcessUntil([] { return false; });
  BusyBegin();
  window.HandOver(m_dir / "halves.bmp");
  EXPECT_TRUE(BusyProgress(-1) != 0);
  BusyEnd();
  ProcessUntil([&] { return window.windowTitle().contains(QStringLiteral("halves.bmp")); });
  EXPECT_TRUE(window.windowTitle().contains(QStringLiteral("BMP File")));
  window.close();
}

// A conversion while the window is resized over and over writes the file a
// quiet conversion writes: the resizes wait until the picture is written.
TEST_F(MainWindowTest, ResizingDuringAConversionChangesNothingSaved) {
  const std::string name = m_dir / "big.jpg";
  ASSERT_EQ(testsupport::Run("convert -size 1600x1200 plasma:fractal -seed 11 " + name), 0);
  const auto convert = [&](bool restless) {
    const char* argv[] = {"zerbalin", "-ConvertToTIF", name.c_str()};
    TQtMainWindow window(StartMode::Viewer, "zerbalin", ParseArguments(3, argv), false);
    QTimer resizer;
    int resizes = 0;
    QObject::connect(&resizer, &QTimer::timeout, [&] {
      ++resizes;
      window.resize(300 + resizes % 2 * 200, 200 + resizes % 97);
    });
    if (restless) resizer.start(1);
    window.Begin();
    // The batch closes the window when it is done.
    WaitUntil([&] { return !window.isVisible(); });
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.ExitStatus(), 0);
    if (restless) {
      EXPECT_GT(resizes, 10);
    }
  };
  convert(false);
  const std::vector<uint8_t> quiet = testsupport::ReadFileBytes(m_dir / "big.tif");
  std::filesystem::remove(m_dir / "big.tif");
  convert(true);
  EXPECT_EQ(testsupport::ReadFileBytes(m_dir / "big.tif"), quiet);
}

// A modal dialog pauses the show, whichever it is: while the Go to prompt or
// the options dialog stays open past the delay, the picture stays.
TEST_F(MainWindowTest, ModalDialogsPauseTheShow) {
  // No desktop is asked to keep the screen awake for the show.
  setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
  std::filesystem::copy_file(m_dir / "halves.bmp", m_dir / "other.bmp");
  const std::string first = m_dir / "halves.bmp", second = m_dir / "other.bmp";
  const char* argv[] = {"zerbalin", first.c_str(), second.c_str(), "-RunSlideshow=1", "-DelayBetweenImages=1"};
  TQtMainWindow window(StartMode::Viewer, "zerbalin", ParseArguments(5, argv), false);
  window.Begin();
  for (const int command : {kCmGoTo, kCmConfigureOptions}) {
    // Right after the show has moved on, a whole delay is still to come.
    const QString before = window.windowTitle();
    WaitUntil([&] { return window.windowTitle() != before && window.windowTitle().contains(QStringLiteral("BMP")); });
    const QString shown = window.windowTitle();
    QString during;
    bool modal = false;
    QTimer::singleShot(2000, &window, [&] {
      during = window.windowTitle();
      QWidget* dialog = QApplication::activeModalWidget();
      modal = dialog != nullptr;
      if (dialog) dialog->close();
    });
    window.PostCommand(command);
    WaitUntil([&] { return !during.isEmpty(); });
    EXPECT_TRUE(modal) << command;
    EXPECT_EQ(during.toStdString(), shown.toStdString()) << command;
  }
  window.close();
}

TEST_F(MainWindowTest, LogWindowShowsTheLogLines) {
  const char* argv[] = {"zerbalin", "-ShowLog"};
  TQtMainWindow window(StartMode::Viewer, "zerbalin", ParseArguments(2, argv), false);
  window.Begin();
  ProcessUntil([] { return false; });
  QPlainTextEdit* log = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->windowTitle() == QStringLiteral("Zerbalin - Log")) log = qobject_cast<QPlainTextEdit*>(widget);
  ASSERT_NE(log, nullptr);
  EXPECT_TRUE(log->isVisible());
  EXPECT_TRUE(log->toPlainText().contains(QStringLiteral("Started Zerbalin")));
  EXPECT_EQ(window.windowTitle().toStdString(), "Zerbalin - Use File|Open... to select files, press F1 for help");
  // The close box works like the Show log command.
  log->close();
  ProcessUntil([&] { return !log->isVisible(); });
  EXPECT_FALSE(log->isVisible());
  window.close();
}

// A Latin-1 comment shows as the text it is in the comments window; the
// comment editor gives back exactly what it was given when OK is pressed
// without a change, and the typed text after a change.
TEST_F(MainWindowTest, CommentsShowAsTextAndTheEditorKeepsWhatWasNotChanged) {
  const std::string name = m_dir / "commented.jpg";
  ASSERT_EQ(testsupport::Run("convert -size 8x8 xc:red ppm:- | cjpeg | wrjpgcom -comment \"$(printf 'caf\\351 \\251 "
                             "2001')\" >" + name),
            0);
  const char* argv[] = {"zerbalin", name.c_str(), "-ShowComments"};
  TQtMainWindow window(StartMode::Viewer, "zerbalin", ParseArguments(3, argv), false);
  window.Begin();
  ProcessUntil([&] { return window.windowTitle().contains(QStringLiteral("JPEG")); });
  QPlainTextEdit* comments = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->windowTitle().startsWith(QStringLiteral("Zerbalin - Comments")))
      comments = qobject_cast<QPlainTextEdit*>(widget);
  ASSERT_NE(comments, nullptr);
  EXPECT_EQ(comments->toPlainText().toStdString(), "caf\u00e9 \u00a9 2001");

  auto answer = [](const QString* typed) {
    QTimer::singleShot(50, [typed] {
      auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(dialog, nullptr);
      if (typed) dialog->setTextValue(*typed);
      dialog->accept();
    });
  };
  std::string text = "caf\u00e9\r\n\r\n\u00a9 2001\r\n";
  const std::string given = text;
  answer(nullptr);
  EXPECT_TRUE(window.EditText("Edit Comments", text));
  EXPECT_EQ(text, given);
  // A no-break space stays one.
  const QString typed = QStringLiteral("cr\u00e8me\nbr\u00fbl\u00e9e\u00a0!");
  answer(&typed);
  EXPECT_TRUE(window.EditText("Edit Comments", text));
  EXPECT_EQ(text, "cr\u00e8me\nbr\u00fbl\u00e9e\u00a0!");
  window.close();
}

// Closing the main window ends the program's loop while the log and
// comments windows are open, though their close box only hides them.
TEST_F(MainWindowTest, ClosingTheWindowEndsTheProgramWhateverElseIsOpen) {
  const std::string name = m_dir / "halves.bmp";
  const char* argv[] = {"zerbalin", name.c_str(), "-ShowLog=1", "-ShowComments=1"};
  TQtMainWindow window(StartMode::Viewer, "zerbalin", ParseArguments(4, argv), false);
  window.Begin();
  ProcessUntil([&] { return window.windowTitle().contains(QStringLiteral("BMP File")); });
  int textWindows = 0;
  for (QWidget* widget : QApplication::topLevelWidgets())
    textWindows += widget->isVisible() && (widget->windowTitle() == QStringLiteral("Zerbalin - Log") ||
                                           widget->windowTitle().startsWith(QStringLiteral("Zerbalin - Comments")));
  ASSERT_EQ(textWindows, 2);
  QTimer::singleShot(0, &window, [&window] { window.close(); });
  // A loop the close does not end is ended here, with another status.
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  watchdog.start(10000);
  EXPECT_EQ(QCoreApplication::exec(), 0);
}

// The hand-over record: what a second start sends, and what the viewer
// makes of records it did not make itself.
TEST(DropFilesRecordTest, NamesRoundTripAndBadRecordsGiveNone) {
  const QByteArray record = DropFilesRecord({"/pics/a.gif", "b c.jpg"});
  EXPECT_EQ(record.size(), 20 + 12 + 8 + 1);
  EXPECT_EQ(NamesOfDropFilesRecord(record), (std::vector<std::string>{"/pics/a.gif", "b c.jpg"}));
  const QByteArray cases[] = {record.left(25), QByteArray(3, 'x'), QByteArray(40, '\xff'), QByteArray()};
  for (const QByteArray& bad : cases) EXPECT_TRUE(NamesOfDropFilesRecord(bad).empty()) << bad.size();
}

// The saver's settings dialog shows the settings and stores what was edited.
TEST_F(MainWindowTest, SaverDialogEditsTheSaverSettings) {
  FakeHost host;
  TProfile settings(TProfileStart{StartMode::Preview, "zersav32.scr", {}, false}, host);
  TSaverDialog dialog(settings);
  auto* files = dialog.findChild<QLineEdit*>();
  ASSERT_NE(files, nullptr);
  EXPECT_EQ(files->text().toStdString(), settings.GetString(StrKey::FileSpec));
  files->setText(QStringLiteral("/photos;/more..."));
  for (QCheckBox* check : dialog.findChildren<QCheckBox*>())
    if (check->text() == QStringLiteral("Random order")) check->setChecked(!check->isChecked());
  const int32_t randomOrder = settings.Get(IntKey::RandomOrder);
  dialog.Store();
  EXPECT_EQ(settings.GetString(StrKey::FileSpec), "/photos;/more...");
  EXPECT_EQ(settings.Get(IntKey::RandomOrder), !randomOrder);
  EXPECT_TRUE(settings.WriteAll());
  EXPECT_TRUE(std::filesystem::exists(m_dir / "home/zersav32.ini"));
}

} // namespace
