#include "app/shell/main_window.h"

#include "common/gbk.h"
#include "common/message_box.h"
#include "common/resource_ids.h"

#include <commctrl.h>

namespace {

const wchar_t kWindowClass[] = L"CorvalenMainWindow";

struct ColumnSpec {
  const char* caption;
  int width;
};
// Column 1 holds the channel address and is never shown.
const ColumnSpec kColumns[] = {{"归属地", 70}, {"地址", 0}, {"提供商", 100}, {"流量限制", 70}, {"测速", 50}};

HWND CreateChild(HWND parent, const wchar_t* cls, const Text& caption, DWORD style, DWORD exStyle, const RECT& box,
                 int id, HFONT font) {
  HWND child = CreateWindowExW(exStyle, cls, GbkToWide(caption).c_str(), WS_CHILD | WS_VISIBLE | style, box.left,
                               box.top, box.right, box.bottom, parent,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (child) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return child;
}

}  // namespace

bool MainWindow::Create(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);

  WNDCLASSEXW cls{};
  cls.cbSize = sizeof(cls);
  cls.lpfnWndProc = &MainWindow::WindowProc;
  cls.hInstance = instance;
  cls.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_CORVALEN), IMAGE_ICON, 48, 48, 0));
  cls.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_CORVALEN), IMAGE_ICON, 16, 16, 0));
  cls.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  cls.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&cls) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

  // Fixed single border, caption with system menu and minimize box; no maximize box.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  window_ = CreateWindowExW(WS_EX_APPWINDOW, kWindowClass, GbkToWide(kMainWindowTitle).c_str(), style, 50, 50,
                            MainWindowLayout::kOuterWidth, MainWindowLayout::kOuterHeight, nullptr, nullptr, instance,
                            this);
  if (!window_) return false;
  RECT outer;
  GetWindowRect(window_, &outer);
  if (outer.right - outer.left != MainWindowLayout::kOuterWidth ||
      outer.bottom - outer.top != MainWindowLayout::kOuterHeight)
    SetWindowPos(window_, nullptr, 0, 0, MainWindowLayout::kOuterWidth, MainWindowLayout::kOuterHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return true;
}

void MainWindow::CreateControls() {
  font_ = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  const DWORD tableStyle = LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | WS_BORDER | WS_TABSTOP;
  table_ = CreateChild(window_, WC_LISTVIEWW, "", tableStyle, 0, MainWindowLayout::kTable, IDC_CHANNEL_TABLE, font_);
  ListView_SetExtendedListViewStyle(table_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_FLATSB);
  ListView_SetTextColor(table_, RGB(0, 0, 0));
  ListView_SetBkColor(table_, RGB(255, 255, 255));
  ListView_SetTextBkColor(table_, RGB(255, 255, 255));
  for (int i = 0; i < 5; ++i) {
    std::wstring caption = GbkToWide(kColumns[i].caption);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_CENTER;
    column.cx = kColumns[i].width;
    column.pszText = caption.data();
    column.iSubItem = i;
    SendMessageW(table_, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
  }
  const DWORD buttonStyle = BS_PUSHBUTTON | WS_TABSTOP;
  CreateChild(window_, L"BUTTON", "刷新", buttonStyle, 0, MainWindowLayout::kRefreshButton, IDC_REFRESH, font_);
  CreateChild(window_, L"BUTTON", "使用", buttonStyle, 0, MainWindowLayout::kUseButton, IDC_USE, font_);
  CreateChild(window_, L"BUTTON", "更新", buttonStyle, 0, MainWindowLayout::kUpdateButton, IDC_UPDATE, font_);
  label_ = CreateChild(window_, L"STATIC", "", SS_LEFT, 0, MainWindowLayout::kStatusLabel, IDC_STATUS, font_);
}

void MainWindow::ShowCentred() {
  int left = (GetSystemMetrics(SM_CXSCREEN) - MainWindowLayout::kOuterWidth) / 2;
  int top = (GetSystemMetrics(SM_CYSCREEN) - MainWindowLayout::kOuterHeight) / 2;
  SetWindowPos(window_, nullptr, left, top, MainWindowLayout::kOuterWidth, MainWindowLayout::kOuterHeight,
               SWP_NOZORDER);
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
}

int MainWindow::RunMessageLoop() {
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // Esc anywhere in the window closes it, like the close button.
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE && window_ &&
        (msg.hwnd == window_ || IsChild(window_, msg.hwnd))) {
      SendMessageW(window_, WM_CLOSE, 0, 0);
      continue;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  MainWindow* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      CreateControls();
      return 0;
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        const std::function<void()>* handler = nullptr;
        switch (LOWORD(wParam)) {
          case IDC_REFRESH: handler = &handlers_.refresh; break;
          case IDC_USE: handler = &handlers_.use; break;
          case IDC_UPDATE: handler = &handlers_.update; break;
        }
        if (handler && *handler) (*handler)();
        return 0;
      }
      break;
    case WM_DESTROY:
      if (handlers_.destroying) handlers_.destroying();
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
      window_ = table_ = label_ = nullptr;
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void MainWindow::ClearRows() { ListView_DeleteAllItems(table_); }

int MainWindow::AppendRow() {
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = ListView_GetItemCount(table_);
  item.pszText = const_cast<wchar_t*>(L"");
  return static_cast<int>(SendMessageW(table_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void MainWindow::SetCellText(int row, int column, const Text& text) {
  if (row < 0 || row >= ListView_GetItemCount(table_) || column < 0 || column >= 5) return;
  std::wstring wide = GbkToWide(text);
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = wide.data();
  SendMessageW(table_, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

Text MainWindow::GetCellText(int row, int column) const {
  if (row < 0 || row >= ListView_GetItemCount(table_) || column < 0 || column >= 5) return {};
  std::wstring buffer(256, L'\0');
  for (;;) {
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(buffer.size());
    int n = static_cast<int>(SendMessageW(table_, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
    if (n < static_cast<int>(buffer.size()) - 1) return WideToGbk(buffer.substr(0, n));
    buffer.assign(buffer.size() * 4, L'\0');
  }
}

int MainWindow::SelectedRow() const { return ListView_GetNextItem(table_, -1, LVNI_SELECTED); }

void MainWindow::SetLabelText(const Text& text) { SetWindowTextW(label_, GbkToWide(text).c_str()); }

int MainWindow::ShowMessageBox(const Text& text, int flags, const Text& caption) {
  return ShowPlatformMessageBox(text, flags, caption);
}
