#include "qt/text_window.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QScrollBar>

TQtTextWindow::TQtTextWindow(int toggleCommand, bool scrollToEnd, std::function<void(int)> post)
    : m_toggleCommand(toggleCommand), m_scrollToEnd(scrollToEnd), m_post(std::move(post)) {
  setWindowFlag(Qt::Window);
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
}

// The texts (UTF-8) end their lines with "\r\n"; the last one is dropped so
// that no empty line trails.
void TQtTextWindow::SetText(const std::string& text, const std::string& title) {
  QString lines = QString::fromStdString(text);
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  if (lines.endsWith(QLatin1Char('\n'))) lines.chop(1);
  setPlainText(lines);
  setWindowTitle(QString::fromStdString(title));
  QScrollBar* bar = verticalScrollBar();
  bar->setValue(m_scrollToEnd ? bar->maximum() : 0);
}

// The toggle command hides the window and remembers where it was.
void TQtTextWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  m_post(m_toggleCommand);
}
