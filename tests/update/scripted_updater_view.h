// An UpdaterView for tests: records messages and progress positions.
#pragma once

#include <vector>

#include "updater/updater_view.h"

class ScriptedUpdaterView final : public UpdaterView {
 public:
  std::vector<Text> messages;
  std::vector<int> positions;
  void ShowMessage(const Text& text) override { messages.push_back(text); }
  void SetProgressPosition(int position) override { positions.push_back(position); }
};
