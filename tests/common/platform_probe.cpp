// A child program for the platform tests (GUI subsystem, no window):
//   platform_probe where OUT       writes ProgramDir, LF, ExeName into OUT
//   platform_probe startup OUT     writes the show mode it was started with into OUT
//   platform_probe sleep MS        sleeps without ever reading input
#include "common/platform.h"

#include <windows.h>

#include <cstdlib>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (__argc < 3) return 2;
  std::string verb = __argv[1], arg = __argv[2];
  if (verb == "where") return WriteWholeFile(arg, {GetProgramDir(), "\n", GetExeName()}) ? 0 : 1;
  if (verb == "startup") {
    STARTUPINFOA info{};
    GetStartupInfoA(&info);
    return WriteWholeFile(arg, std::to_string(info.wShowWindow)) ? 0 : 1;
  }
  if (verb == "sleep") {
    Sleep(static_cast<DWORD>(std::atoi(arg.c_str())));
    return 0;
  }
  return 2;
}
