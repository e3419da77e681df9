#include "qt/main_window.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDateTime>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QFileDialog>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRubberBand>
#include <QScreen>
#include <QTextDocument>
#include <QThread>
#include <QUrl>

#include "app/busy.h"
#include "app/command_ids.h"
#include "app/comment_text.h"
#include "platform/machine.h"
#include "app/shell_commands.h"
#include "platform/headless_host.h"
#include "qt/bitmaps.h"
#include "qt/saver_dialog.h"
#include "qt/settings_dialogs.h"
#include "qt/media_players.h"
#include "qt/menus.h"
#include "qt/text_window.h"

namespace {

// A command posted to the main window, run in the order posted.
const QEvent::Type kCommandEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class TCommandEvent : public QEvent {
public:
  explicit TCommandEvent(int command) : QEvent(kCommandEvent), command(command) {}
  int command;
};

QString ToQString(const std::string& text) { return QString::fromStdString(text); }

// "Label|*.a;*.b|" pairs as Qt's dialogs take them: "Label (*.a *.b)".
QStringList QtFilters(const std::string& filters) {
  const QStringList parts = ToQString(filters).split(QLatin1Char('|'));
  QStringList result;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    result << parts[i] + QStringLiteral(" (") + patterns + QStringLiteral(")");
  }
  return result;
}

// The characters whose keys the accelerators know whichever keys (and Shift)
// type them.
int CharacterKey(int key) {
  switch (key) {
  case Qt::Key_Plus: return kVkAdd;
  case Qt::Key_Minus: return kVkSubtract;
  case Qt::Key_Asterisk: return kVkMultiply;
  case Qt::Key_Slash: return kVkDivide;
  case Qt::Key_AsciiCircum: return kVkCaret;
  default: return 0;
  }
}

// Qt's key as the accelerators know it: letters and digits as themselves.
int VirtualKey(int key) {
  if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) return key;
  switch (key) {
  case Qt::Key_Backspace: return kVkBack;
  case Qt::Key_Escape: return kVkEscape;
  case Qt::Key_Tab:
  case Qt::Key_Backtab: return kVkTab;
  case Qt::Key_Return:
  case Qt::Key_Enter: return kVkReturn;
  case Qt::Key_Space: return kVkSpace;
  case Qt::Key_Insert: return kVkInsert;
  case Qt::Key_Delete: return kVkDelete;
  case Qt::Key_PageUp: return kVkPageUp;
  case Qt::Key_PageDown: return kVkPageDown;
  case Qt::Key_End: return kVkEnd;
  case Qt::Key_Home: return kVkHome;
  case Qt::Key_Left: return kVkLeft;
  case Qt::Key_Up: return kVkLeft + 1;
  case Qt::Key_Right: return kVkLeft + 2;
  case Qt::Key_Down: return kVkLeft + 3;
  default:
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12) return kVkF1 + (key - Qt::Key_F1);
    return CharacterKey(key);
  }
}

std::optional<TMouseButton> ButtonOf(Qt::MouseButton button) {
  if (button == Qt::LeftButton) return TMouseButton::Left;
  if (button == Qt::RightButton) return TMouseButton::Right;
  return std::nullopt;
}

unsigned ModifierBits(Qt::KeyboardModifiers modifiers) {
  unsigned bits = 0;
  if (modifiers & Qt::ShiftModifier) bits |= kModifierShift;
  if (modifiers & Qt::ControlModifier) bits |= kModifierControl;
  if (modifiers & Qt::AltModifier) bits |= kModifierAlt;
  return bits;
}

} // namespace

TCanvas::TCanvas(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
}

void TCanvas::paintEvent(QPaintEvent*) {
  if (m_unseen) return;
  // While the picture is read or written the window shows what it showed,
  // on the background where it has grown; it is painted afresh afterwards.
  const bool held = m_window && m_window->RenderingSuspended();
  if (!held && m_surface.size() != size()) {
    m_surface = QImage(size(), QImage::Format_RGB32);
    // Until a transition effect has brought the picture, the window shows
    // its background.
    if (m_window) {
      const TProfile& settings = m_window->Settings();
      m_surface.fill(QColor(settings.Get(IntKey::BackgroundRed), settings.Get(IntKey::BackgroundGreen),
                            settings.Get(IntKey::BackgroundBlue)));
    }
    m_dirty = true;
  }
  if (!held && m_dirty && m_window && !m_surface.isNull()) {
    m_window->Paint(
        {m_surface.bits(), m_surface.width(), m_surface.height(), static_cast<int32_t>(m_surface.bytesPerLine())});
    m_dirty = false;
  }
  QPainter painter(this);
  if (!m_scroll.isNull() || m_surface.size() != size()) {
    const TProfile& settings = m_window->Settings();
    painter.fillRect(rect(), QColor(settings.Get(IntKey::BackgroundRed), settings.Get(IntKey::BackgroundGreen),
                                    settings.Get(IntKey::BackgroundBlue)));
  }
  painter.drawImage(m_scroll, m_surface);
}

void TCanvas::ShowPageRect(const TSurface& page, const TRect& rect) {
  if (m_surface.size() != QSize(page.width, page.height)) return;
  for (int32_t y = rect.top; y < rect.top + rect.height; ++y)
    std::memcpy(m_surface.scanLine(y) + rect.left * 4, page.pixels + static_cast<ptrdiff_t>(y) * page.stride + rect.left * 4,
                static_cast<size_t>(rect.width) * 4);
  repaint(rect.left, rect.top, rect.width, rect.height);
}

void TCanvas::SetScroll(QPoint offset) {
  if (offset == m_scroll) return;
  m_scroll = offset;
  update();
}

void TCanvas::resizeEvent(QResizeEvent*) {
  m_dirty = true;
  if (m_window) m_window->Resized();
}

TQtMainWindow::TQtMainWindow(StartMode mode, const std::string& programName, std::vector<TArgument> arguments,
                             bool headless)
    : m_mode(mode), m_headless(headless), m_canvas(new TCanvas(this)) {
  m_clock.start();
  setCentralWidget(m_canvas);
  setAcceptDrops(true);
  setMouseTracking(true);
  m_window = std::make_unique<TZerbalinWin>(*this, *this, mode, programName, std::move(arguments));
  m_window->EchoLog(headless);
  m_canvas->SetWindow(m_window.get());
  m_canvas->SetUnseen(headless && m_window->IsBatchRun());
  // A batch run without a screen is never seen: it builds no menus.
  if (!(headless && m_window->IsBatchRun()))
    BuildMenuBar(menuBar(), *m_window, [this](int command) { PostCommand(command); });
  // The idle step runs whenever the queue has run dry, and the timer wakes
  // the loop four times a second so that the show's delays are kept.
  connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this, [this] { RunIdle(); });
  connect(&m_timer, &QTimer::timeout, this, [this] { RunIdle(); });
  m_mediaTimer.setInterval(100);
  connect(&m_mediaTimer, &QTimer::timeout, this, [this] {
    if (!m_window->PollMedia()) m_mediaTimer.stop();
  });
  // What this program put there itself is no news.
  connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] {
    if (!m_changingClipboard && !QGuiApplication::clipboard()->ownsClipboard()) m_clipboardChanged = true;
  });
}

TQtMainWindow::~TQtMainWindow() {
  // The canvas outlives the core by a moment: nothing may paint through it.
  m_canvas->SetWindow(nullptr);
  delete m_logWindow;
  delete m_commentsWindow;
}

void TQtMainWindow::Begin() {
  const TProfile& settings = m_window->Settings();
  const TSize screen = ScreenSize();
  const TPlacement placement = LoadPlacement(settings, kImagePlacement);
  const TRect rect = ApplyPlacement(placement, {0, 0, 640, 480}, screen);
  setGeometry(rect.left, rect.top, std::max(rect.width, 100), std::max(rect.height, 100));
  const TShowState state = ShowStateOf(placement);
  if (m_mode == StartMode::Saver) {
    // The saver fills the screen above every other window, without frame,
    // menu or pointer; a key or the mouse ends it through the show's events.
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    menuBar()->hide();
    m_canvas->setCursor(Qt::BlankCursor);
    showFullScreen();
  } else if (state == TShowState::Maximised)
    showMaximized();
  else if (state == TShowState::Minimised)
    showMinimized();
  else
    show();
  m_window->Start();
  m_timer.start(250);
}

void TQtMainWindow::HandOver(const std::string& name) {
  const TProfile& settings = m_window->Settings();
  if (settings.Get(IntKey::EnableDragDropPopup)) {
    if (isMinimized()) showNormal();
    raise();
    activateWindow();
  }
  // A running operation is stopped first; the name waits for the loop to be
  // free, and for an open dialog to be answered, so the second start that
  // already ended loses nothing and nothing changes under the dialog.
  if (BusyIsActive() || ModalDialogOpen()) {
    BusyCancel();
    // A dialog may stay open long: it is looked at again a little later.
    QTimer::singleShot(BusyIsActive() ? 0 : 100, this, [this, name] { HandOver(name); });
    return;
  }
  m_window->DropFiles({name});
}

void TQtMainWindow::RunIdle() {
  if (m_inIdle || m_closing || m_pendingCommands > 0 || BusyIsActive()) return;
  m_inIdle = true;
  // A picture another program copies waits until no dialog is open.
  if (m_clipboardChanged && !ModalDialogOpen()) {
    m_clipboardChanged = false;
    m_window->ClipboardChanged();
  }
  const bool acted = m_window->Idle();
  m_inIdle = false;
  // The saver hides its pointer for good.
  if (m_mode != StartMode::Saver && m_window->PointerHidden() != m_pointerHidden) {
    m_pointerHidden = !m_pointerHidden;
    if (m_pointerHidden)
      m_canvas->setCursor(Qt::BlankCursor);
    else
      m_canvas->unsetCursor();
  }
  // The show goes on without waiting for the timer: a batch run moves from
  // one file to the next as fast as it can.
  if (acted) QTimer::singleShot(0, this, [this] { RunIdle(); });
}

bool TQtMainWindow::event(QEvent* event) {
  if (event->type() != kCommandEvent) return QMainWindow::event(event);
  --m_pendingCommands;
  const int command = static_cast<TCommandEvent*>(event)->command;
  if (command == kCmAbout)
    ShowAbout();
  else if (!m_closing)
    m_window->Command(command);
  return true;
}

bool TQtMainWindow::EditSettings(TSettingsDialog which, TProfile& settings) {
  auto run = [](auto& dialog) {
    if (dialog.exec() != QDialog::Accepted) return false;
    dialog.Store();
    return true;
  };
  if (which == TSettingsDialog::Extensions) {
    TExtensionsDialog dialog(settings, this);
    return run(dialog);
  }
  if (which == TSettingsDialog::Dpi) {
    TDpiDialog dialog(settings, this);
    return run(dialog);
  }
  TOptionsDialog dialog(settings, this);
  return run(dialog);
}

bool TQtMainWindow::OpenDocument(const std::string& path) {
  return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

// The saver's own settings file, as the saver copy of the program reads it.
void TQtMainWindow::ConfigureSaver() {
  THeadlessHost machine;
  TProfile saverSettings(TProfileStart{StartMode::Preview, ScreenSaverFile(".scr"), {}, false}, machine);
  TSaverDialog dialog(saverSettings, this);
  if (dialog.exec() != QDialog::Accepted) return;
  dialog.Store();
  saverSettings.WriteAll();
}

int32_t TQtMainWindow::CaptionHeight() { return QFontMetrics(m_canvas->font()).height(); }

void TQtMainWindow::DrawCaption(const TSurface& surface, int32_t centreX, int32_t bottom, const std::string& text,
                                uint32_t foreground, uint32_t background) {
  QImage pixels(surface.pixels, surface.width, surface.height, surface.stride, QImage::Format_RGB32);
  QPainter painter(&pixels);
  painter.setFont(m_canvas->font());
  const QString caption = QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
  const QFontMetrics metrics(painter.font());
  const int width = metrics.horizontalAdvance(caption);
  const QRect box(centreX - width / 2, bottom - metrics.height(), width, metrics.height());
  painter.fillRect(box, QColor(QRgb(background)));
  painter.setPen(QColor(QRgb(foreground)));
  painter.drawText(box, Qt::AlignCenter, caption);
}

bool TQtMainWindow::ClipboardHasImage() {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  return data && data->hasImage();
}

bool TQtMainWindow::ClipboardHasText() {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  return data && data->hasText();
}

std::unique_ptr<TDib> TQtMainWindow::ClipboardImage() { return BitmapFromImage(QGuiApplication::clipboard()->image()); }

std::string TQtMainWindow::ClipboardText() { return QGuiApplication::clipboard()->text().toStdString(); }

bool TQtMainWindow::PutClipboardImage(const TDib& dib) {
  const QImage image = ImageFromBitmap(dib);
  ChangeClipboard([&](QClipboard* clipboard) { clipboard->setImage(image); });
  return true;
}

bool TQtMainWindow::PutClipboardText(const std::string& text) {
  const QString unicode = ToQString(text);
  ChangeClipboard([&](QClipboard* clipboard) { clipboard->setText(unicode); });
  return true;
}

void TQtMainWindow::EmptyClipboard() {
  ChangeClipboard([](QClipboard* clipboard) { clipboard->clear(); });
}

// The change this program makes is no news to its clipboard watch.
void TQtMainWindow::ChangeClipboard(const std::function<void(QClipboard*)>& change) {
  m_changingClipboard = true;
  change(QGuiApplication::clipboard());
  m_changingClipboard = false;
}

void TQtMainWindow::SetWindowStyle(bool fillWindow, bool alwaysOnTop) {
  // The saver has its own full-screen style.
  if (m_mode == StartMode::Saver) return;
  menuBar()->setVisible(!fillWindow);
  Qt::WindowFlags flags = windowFlags();
  flags.setFlag(Qt::FramelessWindowHint, fillWindow);
  flags.setFlag(Qt::WindowStaysOnTopHint, alwaysOnTop);
  if (flags == windowFlags()) return;
  // New flags hide the window until it is shown again.
  const bool visible = isVisible();
  setWindowFlags(flags);
  if (visible) show();
}

void TQtMainWindow::ShowAbout() {
  QMessageBox::about(this, tr("About Zerbalin"),
                     tr("<b>Zerbalin</b><p>Picture viewer, converter and slide-show player.</p>"
                        "<p>It reads GIF, BMP, PCX, TGA, JPEG, TIFF, PNG, WebP, HEIF, metafiles and camera "
                        "files, also from ZIP archives, encoded mail, web pages and multi-page files.</p>"));
}

void TQtMainWindow::closeEvent(QCloseEvent* event) {
  if (!m_window->CanClose()) {
    event->ignore();
    return;
  }
  m_closing = true;
  m_timer.stop();
  m_window->Close();
  event->accept();
  // The program ends with its main window, whatever other windows are open:
  // quit() would first ask each of them to close, and the log and comments
  // windows, whose close box only hides them, would keep it running unseen.
  QCoreApplication::exit(0);
}

void TQtMainWindow::keyPressEvent(QKeyEvent* event) {
  if (m_window->Input({TShowInput::kKey, 0, 0})) return;
  unsigned modifiers = ModifierBits(event->modifiers());
  if (CharacterKey(event->key())) modifiers &= ~kModifierShift;
  const int command = m_window->AcceleratorCommand(VirtualKey(event->key()), modifiers);
  if (command)
    PostCommand(command);
  else
    QMainWindow::keyPressEvent(event);
}

void TQtMainWindow::mousePressEvent(QMouseEvent* event) {
  const QPoint at = m_canvas->mapFrom(this, event->position().toPoint());
  if (m_window->Input({TShowInput::kButton, at.x(), at.y()})) return;
  const std::optional<TMouseButton> button = ButtonOf(event->button());
  if (!button || !m_window->MouseDown(*button, at.x(), at.y(), ModifierBits(event->modifiers()))) return;
  // The left drag shows its rectangle, the right drag moves the picture.
  m_dragStart = at;
  if (*button == TMouseButton::Left) {
    if (!m_rubberBand) m_rubberBand = new QRubberBand(QRubberBand::Rectangle, m_canvas);
    m_rubberBand->setGeometry(QRect(at, QSize()));
    m_rubberBand->show();
    setCursor(Qt::CrossCursor);
  } else {
    setCursor(Qt::ClosedHandCursor);
  }
}

void TQtMainWindow::mouseMoveEvent(QMouseEvent* event) {
  const QPoint at = m_canvas->mapFrom(this, event->position().toPoint());
  if (m_window->Input({TShowInput::kMovement, at.x(), at.y()})) return;
  if (m_rubberBand && m_rubberBand->isVisible()) m_rubberBand->setGeometry(QRect(m_dragStart, at).normalized());
  if (event->buttons() & Qt::RightButton && cursor().shape() == Qt::ClosedHandCursor)
    m_canvas->SetScroll(at - m_dragStart);
}

void TQtMainWindow::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint at = m_canvas->mapFrom(this, event->position().toPoint());
  const std::optional<TMouseButton> button = ButtonOf(event->button());
  if (!button) return;
  if (m_rubberBand) m_rubberBand->hide();
  m_canvas->SetScroll({});
  unsetCursor();
  m_window->MouseUp(*button, at.x(), at.y(), ModifierBits(event->modifiers()));
}

void TQtMainWindow::mouseDoubleClickEvent(QMouseEvent* event) {
  if (const std::optional<TMouseButton> button = ButtonOf(event->button()))
    m_window->MouseDoubleClick(*button, ModifierBits(event->modifiers()));
}

void TQtMainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

// Files from a file manager arrive as file URLs; web addresses stay
// addresses, which the package reads as well.
void TQtMainWindow::dropEvent(QDropEvent* event) {
  std::vector<std::string> names;
  for (const QUrl& url : event->mimeData()->urls())
    names.push_back(url.isLocalFile() ? url.toLocalFile().toStdString() : url.toString().toStdString());
  if (names.empty()) return;
  event->acceptProposedAction();
  m_window->DropFiles(names);
}

// Host -----------------------------------------------------------------------

void TQtMainWindow::PostCommand(int command) {
  ++m_pendingCommands;
  QCoreApplication::postEvent(this, new TCommandEvent(command));
}

uint32_t TQtMainWindow::TickCount() const { return static_cast<uint32_t>(m_clock.elapsed()); }

void TQtMainWindow::Sleep(uint32_t milliseconds) { QThread::msleep(milliseconds); }

TLocalTime TQtMainWindow::LocalTime() const {
  const QDateTime now = QDateTime::currentDateTime();
  const QDate date = now.date();
  const QTime time = now.time();
  return {date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second(), time.msec()};
}

TPumpResult TQtMainWindow::PumpOneMessage() {
  // Keys, clicks and the close box that come while a picture is written
  // wait in the queue until it is done, as its commands do.
  QCoreApplication::processEvents(BusyIsStoppable() ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
  return TPumpResult::Empty;
}

void TQtMainWindow::SetTitle(const std::string& title) {
  m_title = title;
  setWindowTitle(QStringLiteral("Zerbalin -") + ToQString(title));
}

void TQtMainWindow::InvalidateRect(const TRect& rect) {
  m_canvas->MarkDirty();
  m_canvas->update(rect.left, rect.top, rect.width, rect.height);
}

TSize TQtMainWindow::ClientSize() const { return {m_canvas->width(), m_canvas->height()}; }

TSize TQtMainWindow::ScreenSize() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return {1024, 768};
  return {screen->geometry().width(), screen->geometry().height()};
}

int TQtMainWindow::DisplayDepth() const { return MachineDisplayDepth(); }

int TQtMainWindow::DotsPerInch() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? static_cast<int>(screen->logicalDotsPerInchX() + 0.5) : 96;
}

uint64_t TQtMainWindow::PhysicalMemory() const { return MachinePhysicalMemory(); }

unsigned TQtMainWindow::ModifierKeys() const { return ModifierBits(QGuiApplication::queryKeyboardModifiers()); }

void TQtMainWindow::ShowProgressPointer(int percent) {
  if (percent >= 0 && percent <= 100)
    m_canvas->setCursor(Qt::BusyCursor);
  else
    m_canvas->unsetCursor();
}

TBoxAnswer TQtMainWindow::MessageBox(const std::string& text, const std::string& caption, TBoxButtons buttons,
                                     TBoxIcon icon) {
  const bool question = buttons == TBoxButtons::YesNo || buttons == TBoxButtons::YesNoCancel;
  if (m_headless) return question ? TBoxAnswer::No : TBoxAnswer::Ok;
  QMessageBox::StandardButtons shown = QMessageBox::Ok;
  if (buttons == TBoxButtons::OkCancel) shown = QMessageBox::Ok | QMessageBox::Cancel;
  if (buttons == TBoxButtons::YesNo) shown = QMessageBox::Yes | QMessageBox::No;
  if (buttons == TBoxButtons::YesNoCancel) shown = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
  QMessageBox::Icon shape = QMessageBox::NoIcon;
  if (icon == TBoxIcon::Information) shape = QMessageBox::Information;
  if (icon == TBoxIcon::Exclamation) shape = QMessageBox::Warning;
  if (icon == TBoxIcon::Question) shape = QMessageBox::Question;
  QMessageBox box(shape, ToQString(caption), ToQString(text), shown, this);
  switch (box.exec()) {
  case QMessageBox::Yes: return TBoxAnswer::Yes;
  case QMessageBox::No: return TBoxAnswer::No;
  case QMessageBox::Cancel: return TBoxAnswer::Cancel;
  default: return TBoxAnswer::Ok;
  }
}

bool TQtMainWindow::Prompt(const std::string& caption, const std::string& text, std::string& value) {
  if (m_headless) return false;
  bool ok = false;
  const QString answer =
      QInputDialog::getText(this, ToQString(caption), ToQString(text), QLineEdit::Normal, ToQString(value), &ok);
  if (ok) value = answer.toStdString();
  return ok;
}

// Every dialog of the program is modal, whether the core asked for it or the
// window opened it itself (About), and whether Qt draws it or the desktop.
bool TQtMainWindow::ModalDialogOpen() const { return QApplication::activeModalWidget() != nullptr; }

// Window system ----------------------------------------------------------------

// Runs a file dialog with the filters of "label|patterns|" pairs, starting
// at the 1-based typeIndex; on OK the chosen names and the filter chosen.
bool TQtMainWindow::RunFileDialog(QFileDialog& dialog, const std::string& filters, int32_t& typeIndex,
                                  QStringList& names) {
  if (m_headless) return false;
  const QStringList list = QtFilters(filters);
  dialog.setNameFilters(list);
  if (typeIndex >= 1 && typeIndex <= list.size()) dialog.selectNameFilter(list[typeIndex - 1]);
  if (!dialog.exec() || dialog.selectedFiles().isEmpty()) return false;
  typeIndex = static_cast<int32_t>(list.indexOf(dialog.selectedNameFilter())) + 1;
  names = dialog.selectedFiles();
  return true;
}

bool TQtMainWindow::ChooseFiles(const std::string& caption, const std::string& filters, int32_t& typeIndex,
                                std::vector<std::string>& names) {
  QFileDialog dialog(this, ToQString(caption));
  dialog.setFileMode(QFileDialog::ExistingFiles);
  QStringList chosen;
  if (!RunFileDialog(dialog, filters, typeIndex, chosen)) return false;
  names.clear();
  for (const QString& name : chosen) names.push_back(name.toStdString());
  return true;
}

bool TQtMainWindow::ChooseSaveName(const std::string& caption, const std::string& filters, int32_t& typeIndex,
                                   std::string& name) {
  QFileDialog dialog(this, ToQString(caption));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  // The program asks about replacing a file itself.
  dialog.setOption(QFileDialog::DontConfirmOverwrite);
  dialog.selectFile(ToQString(name));
  QStringList chosen;
  if (!RunFileDialog(dialog, filters, typeIndex, chosen)) return false;
  name = chosen.front().toStdString();
  return true;
}

void TQtMainWindow::ShowTextWindow(TTextWindow which, const TPlacement& placement) {
  TQtTextWindow*& window = TextWindow(which);
  if (!window) {
    const int command = which == TTextWindow::Log ? kCmShowLog : kCmShowComments;
    window = new TQtTextWindow(command, which == TTextWindow::Log, [this](int id) { PostCommand(id); });
  }
  const TRect rect = ApplyPlacement(placement, {0, 0, 480, 320}, ScreenSize());
  window->setGeometry(rect.left, rect.top, std::max(rect.width, 100), std::max(rect.height, 60));
  window->show();
}

TPlacement TQtMainWindow::TextWindowPlacement(TTextWindow which) {
  TQtTextWindow* window = TextWindow(which);
  if (!window) return {};
  const QRect normal = window->normalGeometry();
  return ReadPlacement({normal.x(), normal.y(), normal.width(), normal.height()},
                       window->isMaximized() ? TShowState::Maximised : TShowState::Normal, ScreenSize());
}

TPlacement TQtMainWindow::HideTextWindow(TTextWindow which) {
  const TPlacement placement = TextWindowPlacement(which);
  if (TQtTextWindow* window = TextWindow(which)) window->hide();
  activateWindow();
  return placement;
}

void TQtMainWindow::RefreshTextWindow(TTextWindow which, const std::string& title) {
  TQtTextWindow* window = TextWindow(which);
  if (!window) return;
  // The log's lines are the program's own text; comments are read in their
  // encoding.
  const std::string text = m_window->Text(which).GetText();
  window->SetText(which == TTextWindow::Comments ? CommentToUtf8(text) : text, title);
}

TPlacement TQtMainWindow::MainWindowPlacement() {
  const QRect normal = normalGeometry();
  TShowState state = TShowState::Normal;
  if (isMaximized()) state = TShowState::Maximised;
  if (isMinimized()) state = TShowState::Minimised;
  return ReadPlacement({normal.x(), normal.y(), normal.width(), normal.height()}, state, ScreenSize());
}

// While a show runs the desktop is asked not to blank the screen, through
// the freedesktop screen-saver interface of the session bus. Without a
// screen, or without a bus, there is nothing to keep awake.
void TQtMainWindow::KeepAwake(bool on) {
  if (m_headless) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected() || on == (m_inhibitCookie != 0)) return;
  QDBusInterface saver(QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
                       QStringLiteral("org.freedesktop.ScreenSaver"), bus);
  if (!saver.isValid()) return;
  if (on) {
    const QDBusReply<uint> reply =
        saver.call(QStringLiteral("Inhibit"), QStringLiteral("Zerbalin"), QStringLiteral("Slide show running"));
    if (reply.isValid()) m_inhibitCookie = reply.value();
  } else {
    saver.call(QStringLiteral("UnInhibit"), m_inhibitCookie);
    m_inhibitCookie = 0;
  }
}

void TQtMainWindow::DiscardPendingInput() {
  QCoreApplication::removePostedEvents(this, QEvent::KeyPress);
  QCoreApplication::removePostedEvents(this, QEvent::MouseButtonPress);
}

// The editor shows lines ended by "\n". What it holds is read as it is (its
// plain text would turn no-break spaces into spaces), with its paragraph and
// line separators back as "\n"; an OK without a change gives the text back
// untouched.
bool TQtMainWindow::EditText(const std::string& title, std::string& text) {
  if (m_headless) return false;
  QString lines = ToQString(text);
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  QInputDialog dialog(this);
  dialog.setWindowTitle(ToQString(title));
  dialog.setOption(QInputDialog::UsePlainTextEditForTextInput);
  dialog.setTextValue(lines);
  if (dialog.exec() != QDialog::Accepted) return false;
  QString edited = dialog.findChild<QPlainTextEdit*>()->document()->toRawText();
  edited.replace(QChar::ParagraphSeparator, QLatin1Char('\n')).replace(QChar::LineSeparator, QLatin1Char('\n'));
  if (edited != lines) text = edited.toStdString();
  return true;
}

bool TQtMainWindow::AskPasswordText(std::string& typed) { return !m_headless && AskPasswordDialog(this, typed); }

std::unique_ptr<TMediaPlayer> TQtMainWindow::NewMediaPlayer(const std::string& deviceType, std::string& error) {
  return NewQtMediaPlayer(this, m_headless, deviceType, [this] { m_mediaTimer.start(); }, error);
}

bool AskPasswordDialog(QWidget* parent, std::string& typed) {
  bool ok = false;
  const QString answer = QInputDialog::getText(parent, QStringLiteral("Zerbalin"), QStringLiteral("Password:"),
                                               QLineEdit::Password, QString(), &ok);
  if (ok) typed = answer.toStdString();
  return ok;
}
