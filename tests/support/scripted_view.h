// A MainView for tests: rows in memory, a chosen selection, scripted answers to
// message boxes, and a record of every box and label text shown.
#pragma once

#include "app/shell/main_view.h"

#include <deque>
#include <vector>

struct ShownBox {
  Text text;
  int flags;
  Text caption;
};

class ScriptedView final : public MainView {
 public:
  std::vector<std::vector<Text>> rows;  // five cells each
  int selected = -1;
  std::deque<int> answers;  // results of the next message boxes; kBoxOk when none is left
  std::vector<ShownBox> boxes;
  std::vector<Text> labels;
  int clearCount = 0;

  void ClearRows() override {
    rows.clear();
    selected = -1;
    ++clearCount;
  }
  int AppendRow() override {
    rows.emplace_back(5);
    return static_cast<int>(rows.size()) - 1;
  }
  void SetCellText(int row, int column, const Text& text) override {
    if (row >= 0 && row < static_cast<int>(rows.size()) && column >= 0 && column < 5) rows[row][column] = text;
  }
  Text GetCellText(int row, int column) const override {
    if (row >= 0 && row < static_cast<int>(rows.size()) && column >= 0 && column < 5) return rows[row][column];
    return {};
  }
  int SelectedRow() const override { return selected; }
  void SetLabelText(const Text& text) override { labels.push_back(text); }
  int ShowMessageBox(const Text& text, int flags, const Text& caption) override {
    boxes.push_back({text, flags, caption});
    if (answers.empty()) return kBoxOk;
    int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  Text Label() const { return labels.empty() ? Text() : labels.back(); }
};
