#include "common/process_kill.h"

#include "common/gbk.h"
#include "common/handles.h"

#include <windows.h>
#include <tlhelp32.h>

bool EqualsIgnoringAsciiCase(const Text& a, const Text& b) {
  return TextLength(a) == TextLength(b) && FindText(a, b, 1, true) == 1;
}

namespace {

DWORD ProcessOfWindowTitled(const Text& name) {
  HWND window = FindWindowW(nullptr, GbkToWide(name).c_str());
  if (!window) return 0;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  return pid;
}

DWORD FirstProcessNamed(const Text& name) {
  FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return 0;
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry))
    if (EqualsIgnoringAsciiCase(entry.szExeFile, name)) return entry.th32ProcessID;
  return 0;
}

}  // namespace

bool TerminateProcessByName(const Text& name) {
  if (name.empty()) return false;
  DWORD pid = ProcessOfWindowTitled(name);
  if (pid == 0) pid = FirstProcessNamed(name);
  if (pid == 0) return false;
  KernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
  if (!process) return false;
  return TerminateProcess(process.Get(), 0) != 0;
}
