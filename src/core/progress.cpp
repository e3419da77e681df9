#include "core/progress.h"

namespace {
const TProgressHook* g_hook = nullptr;
}

void SetProgressHook(const TProgressHook* hook) { g_hook = hook; }

void ProgressBegin() {
  if (g_hook && g_hook->Begin) g_hook->Begin();
}

int ProgressReport(int percent) {
  return g_hook && g_hook->Progress ? g_hook->Progress(percent) : 0;
}

void ProgressEnd() {
  if (g_hook && g_hook->End) g_hook->End();
}
