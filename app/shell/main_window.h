// MainWindow: the one top-level window with ChannelTable, three buttons and
// the status label, built from the layout table below.
#pragma once

#include "app/shell/main_view.h"

#include <windows.h>

#include <functional>

struct MainWindowLayout {
  static constexpr int kOuterWidth = 402;
  static constexpr int kOuterHeight = 314;
  static constexpr RECT kTable{0, 0, 304, 256};        // left, top, width, height
  static constexpr RECT kRefreshButton{313, 8, 72, 32};
  static constexpr RECT kUseButton{313, 52, 72, 32};
  static constexpr RECT kUpdateButton{313, 96, 72, 32};
  static constexpr RECT kStatusLabel{4, 264, 328, 16};
};

inline constexpr const char* kMainWindowTitle = "Corvalen代理切换程序 Ver.20231024";

// The handlers the window's events run.
struct MainWindowHandlers {
  std::function<void()> refresh;   // 按钮_刷新
  std::function<void()> use;       // 按钮_使用
  std::function<void()> update;    // 按钮_更新
  std::function<void()> destroying;
};

class MainWindow final : public MainView {
 public:
  // Creates the window hidden, with all its controls.
  bool Create(HINSTANCE instance);
  void SetHandlers(MainWindowHandlers handlers) { handlers_ = std::move(handlers); }
  HWND Handle() const { return window_; }
  // Shows the window centred on the primary screen.
  void ShowCentred();
  // Runs the message loop until the window is destroyed.
  int RunMessageLoop();

  void ClearRows() override;
  int AppendRow() override;
  void SetCellText(int row, int column, const Text& text) override;
  Text GetCellText(int row, int column) const override;
  int SelectedRow() const override;
  void SetLabelText(const Text& text) override;
  int ShowMessageBox(const Text& text, int flags, const Text& caption = kDefaultBoxCaption) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls();

  HWND window_ = nullptr;
  HWND table_ = nullptr;
  HWND label_ = nullptr;
  HFONT font_ = nullptr;
  MainWindowHandlers handlers_;
};
