#include "updater/updater_window.h"

#include <commctrl.h>

#include "common/gbk.h"
#include "common/message_box.h"
#include "common/resource_ids.h"

namespace {

HWND CreateChild(HWND parent, const wchar_t* cls, const Text& text, DWORD style, const RECT& box, HFONT font) {
  HWND child = CreateWindowExW(0, cls, GbkToWide(text).c_str(), WS_CHILD | WS_VISIBLE | style, box.left, box.top,
                               box.right, box.bottom, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (child) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

}  // namespace

bool UpdaterWindow::Create(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);

  WNDCLASSEXW cls{};
  cls.cbSize = sizeof(cls);
  cls.lpfnWndProc = WindowProc;
  cls.hInstance = instance;
  cls.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  cls.lpszClassName = kUpdaterWindowClass;
  cls.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_CORVALEN), IMAGE_ICON, 48, 48, 0));
  cls.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_CORVALEN), IMAGE_ICON, 16, 16, 0));
  if (!RegisterClassExW(&cls) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

  // A fixed frame without title bar, system menu or close button; centred on
  // the full primary screen.
  const int left = (GetSystemMetrics(SM_CXSCREEN) - UpdaterWindowLayout::kOuterWidth) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - UpdaterWindowLayout::kOuterHeight) / 2;
  window_ =
      CreateWindowExW(0, kUpdaterWindowClass, L"", WS_POPUP | WS_DLGFRAME, left, top, UpdaterWindowLayout::kOuterWidth,
                      UpdaterWindowLayout::kOuterHeight, nullptr, nullptr, instance, nullptr);
  if (!window_) return false;

  HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  progress_ = CreateChild(window_, PROGRESS_CLASSW, "", PBS_SMOOTH, UpdaterWindowLayout::kProgressBar, font);
  SendMessageW(progress_, PBM_SETRANGE32, 0, 100);
  SendMessageW(progress_, PBM_SETPOS, UpdaterWindowLayout::kInitialPosition, 0);
  CreateChild(window_, L"STATIC", kUpdaterLabel, SS_LEFT, UpdaterWindowLayout::kLabel, font);

  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
  return true;
}

void UpdaterWindow::Close() { PostMessageW(window_, WM_CLOSE, 0, 0); }

int UpdaterWindow::RunMessageLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

void UpdaterWindow::ShowMessage(const Text& text) { ShowPlatformMessageBox(text, MB_OK, kUpdaterBoxCaption); }

void UpdaterWindow::SetProgressPosition(int position) {
  PostMessageW(progress_, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

LRESULT CALLBACK UpdaterWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
