// What the handlers may do with the main window: the channel table, the status
// label and message boxes. The real window implements it; tests script it.
#pragma once

#include "common/text.h"

// Message-box results, whatever button the platform reports.
enum MessageBoxResult { kBoxOk = 0, kBoxCancel = 1, kBoxAbort = 2, kBoxRetry = 3, kBoxIgnore = 4, kBoxYes = 5, kBoxNo = 6 };
// Message-box style flags the program passes (the platform's own values).
inline constexpr int kBoxFlagsOk = 0;
inline constexpr int kBoxFlagsYesNo = 4;
inline constexpr const char* kDefaultBoxCaption = "信息：";

class MainView {
 public:
  virtual ~MainView() = default;
  virtual void ClearRows() = 0;
  // Appends an empty row; its 0-based index, or -1 when the table refused it.
  virtual int AppendRow() = 0;
  // Out-of-range indexes change nothing.
  virtual void SetCellText(int row, int column, const Text& text) = 0;
  // Empty when the cell is empty or out of range.
  virtual Text GetCellText(int row, int column) const = 0;
  // First selected row, or -1.
  virtual int SelectedRow() const = 0;
  virtual void SetLabelText(const Text& text) = 0;
  // A MessageBoxResult; the caption defaults to kDefaultBoxCaption.
  virtual int ShowMessageBox(const Text& text, int flags, const Text& caption = kDefaultBoxCaption) = 0;
};
