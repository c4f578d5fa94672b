// The modal message box of both programs: no owner window, task-modal unless
// the flags ask for system-modal, the default caption "信息：".
#pragma once

#include "common/text.h"

// Maps the platform's button id (IDOK ... IDNO) to OK 0, Cancel 1, Abort 2,
// Retry 3, Ignore 4, Yes 5, No 6; anything else 0.
int MessageBoxResultCode(int platformId);
int ShowPlatformMessageBox(const Text& text, int flags, const Text& caption);
