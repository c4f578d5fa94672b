// What the Updater's worker may do with the user's screen: show a message and
// wait until it is dismissed, and move the progress bar. The window implements
// it; tests script it.
#pragma once

#include "common/text.h"

inline constexpr const char* kUpdaterBoxCaption = "信息：";

class UpdaterView {
 public:
  virtual ~UpdaterView() = default;
  // An OK box with the caption "信息："; returns once it is dismissed.
  virtual void ShowMessage(const Text& text) = 0;
  // Position of 进度条1, 0..100.
  virtual void SetProgressPosition(int position) = 0;
};
