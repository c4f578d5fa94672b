// corvalen.exe, the launcher of the tunnel service package. The main program
// starts it hidden, with its own folder as current directory; the launcher
// finds the proxy python27.exe beside its own executable, starts it hidden in
// that folder and starts it again when it ends, pausing longer each time. When
// the proxy keeps ending (RestartPolicy) the launcher ends too. The main program
// ends both by image name.
#include "common/handles.h"
#include "common/platform.h"
#include "package/launcher/restart_policy.h"

#include <windows.h>

#include <vector>

namespace {

// The proxy's process, started hidden in folder; empty when it could not start.
KernelHandle StartProxy(const Text& folder) {
  const Text image = folder + "\\python27.exe";
  Text line = "\"" + image + "\"";
  std::vector<char> commandLine(line.begin(), line.end());
  commandLine.push_back('\0');
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(image.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      folder.c_str(), &startup, &info))
    return {};
  KernelHandle thread(info.hThread);
  return KernelHandle(info.hProcess);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const Text folder = GetProgramDir();
  if (folder.empty()) return 1;
  RestartPolicy policy;
  for (;;) {
    const ULONGLONG started = GetTickCount64();
    KernelHandle proxy = StartProxy(folder);
    if (proxy) WaitForSingleObject(proxy.Get(), INFINITE);
    const int64_t delay = policy.NextDelayMs(proxy ? GetTickCount64() - started : 0);
    if (delay < 0) return 2;
    Sleep(static_cast<DWORD>(delay));
  }
}
