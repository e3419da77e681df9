#pragma once
// The log and comments windows: a read-only page of fixed-pitch text with
// scroll bars. Closing one with its close box works like its toggle command.
#include <QPlainTextEdit>
#include <functional>
#include <string>

class TQtTextWindow : public QPlainTextEdit {
public:
  // toggleCommand is posted through post when the user closes the window;
  // scrollToEnd keeps the newest line in view (the log).
  TQtTextWindow(int toggleCommand, bool scrollToEnd, std::function<void(int)> post);
  void SetText(const std::string& text, const std::string& title);

protected:
  void closeEvent(QCloseEvent* event) override;

private:
  int m_toggleCommand;
  bool m_scrollToEnd;
  std::function<void(int)> m_post;
};
