// Start-up of the main program: ProgramDir as current directory, the window
// created hidden, the created handler run to completion, then shown centred.
#include "app/channels/channel_list.h"
#include "app/service/tunnel_service.h"
#include "app/shell/handlers.h"
#include "app/shell/main_window.h"
#include "app/update/update_check.h"
#include "common/platform.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const Text programDir = GetProgramDir();
  const Text exeName = GetExeName();
  SetCurrentDirectoryA(programDir.c_str());

  MainWindow window;
  if (!window.Create(instance)) return 1;
  AppContext app{window, programDir, exeName};
  window.SetHandlers({
      .refresh = [&app] { RefreshChannelList(app); },
      .use = [&app] { DeployTunnelService(app); },
      .update = [&app] { CheckForUpdate(app); },
      .destroying = [&app] { CleanUpTunnelService(app); },
  });

  HandleWindowCreated(app);
  if (!IsWindow(window.Handle())) return 0;
  window.ShowCentred();
  return window.RunMessageLoop();
}
