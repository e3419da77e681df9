#pragma once
// The progress-and-abort hook through which readers, writers and the colour
// reduction share the busy-operation service. The application installs it at
// start-up; without one, progress is silent and never asks to stop.
struct TProgressHook {
  void (*Begin)();
  // percent 0..100, or -1 to keep the window alive only. Non-zero asks the
  // caller to stop.
  int (*Progress)(int percent);
  void (*End)();
};

void SetProgressHook(const TProgressHook* hook);
void ProgressBegin();
int ProgressReport(int percent);
void ProgressEnd();
