// MainWindow's layout and table operations on a real (hidden) window, and the
// message box: pressed button to result code, default caption.
#include "app/shell/main_window.h"
#include "common/gbk.h"
#include "common/message_box.h"
#include "common/resource_ids.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(window_.Create(GetModuleHandleW(nullptr))); }
  void TearDown() override { DestroyWindow(window_.Handle()); }
  HWND Table() const { return GetDlgItem(window_.Handle(), IDC_CHANNEL_TABLE); }

  MainWindow window_;
};

TEST_F(MainWindowTest, LayoutAndStyles) {
  HWND w = window_.Handle();
  wchar_t title[128];
  GetWindowTextW(w, title, 128);
  EXPECT_EQ(WideToGbk(title), kMainWindowTitle);
  EXPECT_FALSE(IsWindowVisible(w)) << "created hidden";
  RECT r;
  GetWindowRect(w, &r);
  EXPECT_EQ(r.right - r.left, 402);
  EXPECT_EQ(r.bottom - r.top, 314);
  LONG style = GetWindowLongW(w, GWL_STYLE);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  EXPECT_TRUE(style & WS_SYSMENU);

  const int widths[] = {70, 0, 100, 70, 50};
  for (int c = 0; c < 5; ++c) EXPECT_EQ(ListView_GetColumnWidth(Table(), c), widths[c]) << "column " << c;
  LONG tableStyle = GetWindowLongW(Table(), GWL_STYLE);
  EXPECT_EQ(tableStyle & LVS_TYPEMASK, LVS_REPORT);
  EXPECT_TRUE(tableStyle & LVS_SINGLESEL);
  EXPECT_TRUE(tableStyle & LVS_SHOWSELALWAYS);
  EXPECT_TRUE(tableStyle & LVS_NOSORTHEADER);
  DWORD ex = ListView_GetExtendedListViewStyle(Table());
  EXPECT_TRUE(ex & LVS_EX_FULLROWSELECT);
  EXPECT_TRUE(ex & LVS_EX_GRIDLINES);

  const struct {
    int id;
    RECT box;  // left, top, width, height in client coordinates
  } controls[] = {{IDC_CHANNEL_TABLE, {0, 0, 304, 256}}, {IDC_REFRESH, {313, 8, 72, 32}},
                  {IDC_USE, {313, 52, 72, 32}},          {IDC_UPDATE, {313, 96, 72, 32}},
                  {IDC_STATUS, {4, 264, 328, 16}}};
  for (const auto& c : controls) {
    HWND child = GetDlgItem(w, c.id);
    ASSERT_TRUE(child) << c.id;
    RECT cr;
    GetWindowRect(child, &cr);
    MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&cr), 2);
    EXPECT_EQ(cr.left, c.box.left) << c.id;
    EXPECT_EQ(cr.top, c.box.top) << c.id;
    EXPECT_EQ(cr.right - cr.left, c.box.right) << c.id;
    EXPECT_EQ(cr.bottom - cr.top, c.box.bottom) << c.id;
  }
}

TEST_F(MainWindowTest, TableOperations) {
  MainView& view = window_;
  EXPECT_EQ(view.SelectedRow(), -1);
  EXPECT_EQ(view.AppendRow(), 0);
  EXPECT_EQ(view.AppendRow(), 1);
  view.SetCellText(1, 0, "美国");
  view.SetCellText(1, 1, "http://192.0.2.10/index.php");  // the invisible address column
  view.SetCellText(1, 4, "\r\n快");
  view.SetCellText(5, 0, "out of range");
  view.SetCellText(0, 7, "out of range");
  EXPECT_EQ(view.GetCellText(1, 0), "美国");
  EXPECT_EQ(view.GetCellText(1, 1), "http://192.0.2.10/index.php");
  EXPECT_EQ(view.GetCellText(1, 4), "\r\n快");
  EXPECT_EQ(view.GetCellText(0, 0), "");
  EXPECT_EQ(view.GetCellText(5, 0), "");
  EXPECT_EQ(view.GetCellText(-1, 0), "");
  const Text longText(3000, 'x');
  view.SetCellText(0, 2, longText);
  EXPECT_EQ(view.GetCellText(0, 2), longText);

  ListView_SetItemState(Table(), 1, LVIS_SELECTED, LVIS_SELECTED);
  EXPECT_EQ(view.SelectedRow(), 1);
  view.ClearRows();
  EXPECT_EQ(view.SelectedRow(), -1);
  EXPECT_EQ(view.GetCellText(1, 1), "");

  view.SetLabelText("隧道加载成功！代理地址：127.0.0.1:8088");
  wchar_t label[128];
  GetWindowTextW(GetDlgItem(window_.Handle(), IDC_STATUS), label, 128);
  EXPECT_EQ(WideToGbk(label), "隧道加载成功！代理地址：127.0.0.1:8088");
}

// Presses a button of the next message box with the given caption, from another thread.
class BoxAnswerer {
 public:
  BoxAnswerer(const Text& caption, int buttonId)
      : thread_([this, caption, buttonId] {
          std::wstring wide = GbkToWide(caption);
          for (int i = 0; i < 200; ++i) {
            if (HWND box = FindWindowW(L"#32770", wide.c_str())) {
              found_ = true;
              PostMessageW(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), 0);
              return;
            }
            Sleep(50);
          }
        }) {}
  ~BoxAnswerer() { Found(); }
  bool Found() {
    if (thread_.joinable()) thread_.join();
    return found_;
  }

 private:
  std::atomic<bool> found_{false};
  std::thread thread_;
};

TEST(MessageBoxTest, ButtonsMapToResultCodesAndCaptionDefaults) {
  MainWindow window;
  ASSERT_TRUE(window.Create(GetModuleHandleW(nullptr)));
  MainView& view = window;
  const struct {
    int flags;
    int button;
    int expected;
  } cases[] = {{0, IDOK, 0}, {4, IDYES, 5}, {4, IDNO, 6}, {MB_OKCANCEL, IDCANCEL, 1}};
  for (const auto& c : cases) {
    BoxAnswerer answerer("信息：", c.button);
    int result = view.ShowMessageBox("测试", c.flags);
    EXPECT_TRUE(answerer.Found()) << "no box captioned 信息：";
    EXPECT_EQ(result, c.expected) << "button " << c.button;
  }
  BoxAnswerer answerer("操作错误", IDOK);
  EXPECT_EQ(view.ShowMessageBox("x", 0, "操作错误"), 0);
  EXPECT_TRUE(answerer.Found()) << "the given caption is used";
  DestroyWindow(window.Handle());
}

TEST(MessageBoxTest, PlatformIdsMapToTheProgramsCodes) {
  const std::pair<int, int> cases[] = {{IDOK, 0},  {IDCANCEL, 1}, {IDABORT, 2}, {IDRETRY, 3}, {IDIGNORE, 4},
                                       {IDYES, 5}, {IDNO, 6},     {0, 0},       {IDCLOSE, 0}, {IDHELP, 0}};
  for (const auto& [id, code] : cases) EXPECT_EQ(MessageBoxResultCode(id), code) << id;
}

}  // namespace
