// UpdaterWindow: the Updater's one caption-less window with 进度条1 and 标签1,
// built from the layout table below.
#pragma once

#include <windows.h>

#include "updater/updater_view.h"

struct UpdaterWindowLayout {
  static constexpr int kOuterWidth = 380;
  static constexpr int kOuterHeight = 99;
  static constexpr RECT kProgressBar{20, 24, 328, 24};  // left, top, width, height
  static constexpr RECT kLabel{24, 64, 320, 16};
  static constexpr int kInitialPosition = 20;
};

inline constexpr const wchar_t* kUpdaterWindowClass = L"CorvalenUpdaterWindow";
inline constexpr const char* kUpdaterLabel = "正在升级，完成之后将自动关闭……";
inline constexpr const char* kRunAloneMessage = "请不要单独执行此程序！";

class UpdaterWindow final : public UpdaterView {
 public:
  // Creates the window centred on the primary screen, with its controls, and shows it.
  bool Create(HINSTANCE instance);
  HWND Handle() const { return window_; }
  // Destroys the window from its message loop.
  void Close();
  int RunMessageLoop();

  // From the worker thread: the box has no owner; the bar's position is posted
  // to the window thread.
  void ShowMessage(const Text& text) override;
  void SetProgressPosition(int position) override;

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND window_ = nullptr;
  HWND progress_ = nullptr;
};
