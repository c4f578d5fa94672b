// Where to click: screen points of the main window's controls, for GUI tests
// that click with the real pointer (xdotool), and the list view's selection to
// check that a click selected a row. Arguments come from the Linux side in
// UTF-8 (Wine hands them over as UTF-16); output is one line.
//
//   pointprobe control TITLE ID     "x y": the centre of the child control with that id
//   pointprobe row TITLE ROW        "x y": the centre of a list-view row's first cell
//   pointprobe selected TITLE       the index of the selected row, -1 when none
//   pointprobe images               the image names of all running processes, one a line
// (Wine's own tasklist lists nothing.)
// Exit code 0 on success, 1 when the window or control is missing, 2 on bad usage.
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>

namespace {

HWND FindTop(const wchar_t* title) {
  for (int i = 0; i < 50; ++i) {
    if (HWND w = FindWindowW(nullptr, title)) return w;
    Sleep(100);
  }
  return nullptr;
}

int PrintPoint(HWND window, POINT p) {
  if (!ClientToScreen(window, &p)) return 1;
  std::printf("%ld %ld\n", p.x, p.y);
  return 0;
}

// LVM_GETITEMRECT carries a RECT pointer: the RECT must live in the list view's process.
int RowPoint(HWND list, int row) {
  DWORD pid = 0;
  GetWindowThreadProcessId(list, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return 1;
  int code = 1;
  if (void* remote = VirtualAllocEx(process, nullptr, sizeof(RECT), MEM_COMMIT, PAGE_READWRITE)) {
    RECT box{LVIR_LABEL, 0, 0, 0};
    WriteProcessMemory(process, remote, &box, sizeof(box), nullptr);
    if (SendMessageW(list, LVM_GETITEMRECT, row, reinterpret_cast<LPARAM>(remote)) &&
        ReadProcessMemory(process, remote, &box, sizeof(box), nullptr))
      code = PrintPoint(list, POINT{(box.left + box.right) / 2, (box.top + box.bottom) / 2});
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  }
  CloseHandle(process);
  return code;
}

}  // namespace

int Images() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 1;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    char name[MAX_PATH * 3];
    if (WideCharToMultiByte(CP_UTF8, 0, entry.szExeFile, -1, name, sizeof(name), nullptr, nullptr))
      std::printf("%s\n", name);
  }
  CloseHandle(snapshot);
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"images") == 0) return Images();
  if (argc < 3) return 2;
  HWND top = FindTop(argv[2]);
  if (!top) return 1;
  const wchar_t* verb = argv[1];
  if (std::wcscmp(verb, L"control") == 0 && argc > 3) {
    HWND child = GetDlgItem(top, _wtoi(argv[3]));
    if (!child) return 1;
    RECT r;
    GetClientRect(child, &r);
    return PrintPoint(child, POINT{r.right / 2, r.bottom / 2});
  }
  HWND list = FindWindowExW(top, nullptr, WC_LISTVIEWW, nullptr);
  if (!list) return 1;
  if (std::wcscmp(verb, L"row") == 0 && argc > 3) return RowPoint(list, _wtoi(argv[3]));
  if (std::wcscmp(verb, L"selected") == 0) {
    std::printf("%d\n", static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED)));
    return 0;
  }
  return 2;
}
