// A stand-in process for the process tests: copies of it run under the image
// names the tests need ("python27.exe", "Python27.EXE", ...). It does nothing
// and ends by itself after a minute at the latest.
//   sleeper.exe               no window
//   sleeper.exe TITLE         with a hidden top-level window titled TITLE (UTF-8 on the Linux side)
// Environment: CORVALEN_SLEEPER_EXIT=1 ends it at once (a proxy that keeps
// dying); CORVALEN_SLEEPER_NOTE=1 leaves "sleeper-ran.txt" in its current folder.
#include <windows.h>

#include <shellapi.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  constexpr DWORD kLifetimeMs = 60000;
  char flag[8];
  if (GetEnvironmentVariableA("CORVALEN_SLEEPER_EXIT", flag, sizeof(flag)) == 1 && flag[0] == '1') return 3;
  if (GetEnvironmentVariableA("CORVALEN_SLEEPER_NOTE", flag, sizeof(flag)) == 1 && flag[0] == '1') {
    HANDLE note = CreateFileA("sleeper-ran.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (note != INVALID_HANDLE_VALUE) CloseHandle(note);
  }
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv && argc >= 2) {
    WNDCLASSW cls{};
    cls.lpfnWndProc = DefWindowProcW;
    cls.hInstance = instance;
    cls.lpszClassName = L"CorvalenTestSleeper";
    RegisterClassW(&cls);
    HWND window = CreateWindowExW(0, cls.lpszClassName, argv[1], WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                  instance, nullptr);
    if (!window) return 1;
    SetTimer(window, 1, kLifetimeMs, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (msg.message == WM_TIMER) break;
      DispatchMessageW(&msg);
    }
    return 0;
  }
  Sleep(kLifetimeMs);
  return 0;
}
