#pragma once
// The main window's menu bar: every command the core carries out, with the
// key that reaches it shown beside it. Items are enabled and checked from
// the core's state each time their menu opens.
#include <functional>

class QMenuBar;
class TZerbalinWin;

void BuildMenuBar(QMenuBar* bar, const TZerbalinWin& window, const std::function<void(int)>& postCommand);
