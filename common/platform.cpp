#include "common/platform.h"

#include "common/handles.h"
#include "common/module_path.h"

#include <windows.h>

#include <vector>

namespace {

Text ModuleFullPath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return Text(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

bool IsDriveRoot(const Text& path) {
  if (CodeAt(path, 2) != ':') return false;
  return TextLength(path) == 2 || (TextLength(path) == 3 && CodeAt(path, 3) == '\\');
}

// Empties a folder (path without trailing backslash); single failures are ignored.
void EmptyFolder(const Text& path) {
  WIN32_FIND_DATAA entry;
  FindHandle find(FindFirstFileA((path + "\\*.*").c_str(), &entry));
  if (!find) return;
  do {
    if (entry.cFileName[0] == '.') continue;
    Text full = path + "\\" + entry.cFileName;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      EmptyFolder(full);
      RemoveDirectoryA(full.c_str());
    } else {
      DeleteFileA(full.c_str());
    }
  } while (FindNextFileA(find.Get(), &entry));
}

WORD PlatformShowCommand(int showMode) {
  static const WORD kByMode[] = {SW_HIDE, SW_SHOWNORMAL, SW_SHOWMINIMIZED, SW_SHOWMAXIMIZED, SW_SHOWNOACTIVATE,
                                 SW_SHOWMINNOACTIVE};
  if (showMode < 1) showMode = 1;
  if (showMode > 6) showMode = 6;
  return kByMode[showMode - 1];
}

}  // namespace

Text GetProgramDir() { return SplitModulePath(ModuleFullPath()).dir; }
Text GetExeName() { return SplitModulePath(ModuleFullPath()).name; }

Bytes ReadWholeFile(const Text& path) {
  if (path.empty()) return {};
  FileHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 || size.QuadPart > 0x7FFFFFFF) return {};
  Bytes content(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  while (done < content.size()) {
    DWORD got = 0;
    if (!ReadFile(file.Get(), content.data() + done, static_cast<DWORD>(content.size() - done), &got, nullptr))
      return {};
    if (got == 0) break;
    done += got;
  }
  content.resize(done);
  return content;
}

bool WriteWholeFile(const Text& path, std::initializer_list<Bytes> pieces) {
  if (path.empty()) return false;
  FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  for (const Bytes& piece : pieces) {
    size_t done = 0;
    while (done < piece.size()) {
      DWORD wrote = 0;
      DWORD chunk = static_cast<DWORD>(std::min<size_t>(piece.size() - done, 1u << 30));
      if (!WriteFile(file.Get(), piece.data() + done, chunk, &wrote, nullptr) || wrote == 0) return false;
      done += wrote;
    }
  }
  return true;
}

bool RemoveFile(const Text& path) { return DeleteFileA(path.c_str()) != 0; }

bool RemoveDirTree(const Text& rawPath) {
  size_t first = rawPath.find_first_not_of(' ');
  if (first == Text::npos) return false;
  Text path = rawPath.substr(first);
  if (IsDriveRoot(path)) return false;
  // One trailing backslash is allowed; the entries are listed below path.
  Text folder = path;
  if (RightText(folder, 1) == "\\" && FindTextBackward(folder, "\\") == TextLength(folder))
    folder = LeftText(folder, TextLength(folder) - 1);
  if (folder.empty() || IsDriveRoot(folder)) return false;
  EmptyFolder(folder);
  return RemoveDirectoryA(folder.c_str()) != 0;
}

bool WriteIniValue(const Text& file, const Text& section, const Text& key, const Text& value) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) != 0;
}

bool RunCommand(const Text& commandLine, bool wait, int showMode) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = PlatformShowCommand(showMode);
  PROCESS_INFORMATION info{};
  std::vector<char> line(commandLine.begin(), commandLine.end());
  line.push_back('\0');
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return false;
  KernelHandle process(info.hProcess);
  KernelHandle thread(info.hThread);
  if (wait)
    WaitForSingleObject(process.Get(), INFINITE);
  else
    WaitForInputIdle(process.Get(), 1000);
  return true;
}
