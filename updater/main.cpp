// The Updater: started by the main program as
//   "<ProgramDir>\update.date" <DownloadUrl> "<TargetPath>"
// it shows its progress window, and its worker downloads the new main program,
// puts it in place of the old one, starts it and ends the process.
#include <windows.h>

#include <utility>

#include "common/handles.h"
#include "updater/command_args.h"
#include "updater/update_worker.h"
#include "updater/updater_window.h"

namespace {

// Program-wide: written once before the worker starts, read-only afterwards.
TextArray CommandArgs;
KernelHandle WorkerThread;  // never waited on: the worker ends the process

// Starts routine(parameter) on a new thread; its handle goes to handle when one
// is given and is closed at once otherwise.
bool StartThread(LPTHREAD_START_ROUTINE routine, void* parameter = nullptr, KernelHandle* handle = nullptr) {
  KernelHandle thread(CreateThread(nullptr, 0, routine, parameter, 0, nullptr));
  if (!thread) return false;
  if (handle) *handle = std::move(thread);
  return true;
}

DWORD WINAPI UpdateWorker(void* param) {
  RunUpdate(CommandArgs, *static_cast<UpdaterWindow*>(param), StartProgram);
  // The own process: another Updater running at the same time is not ours to end.
  TerminateProcess(GetCurrentProcess(), 0);
  return 0;
}

void OnUpdaterCreated(UpdaterWindow& window) {
  CommandArgs = GetCommandArgs();
  if (!CommandArgs.empty()) {
    StartThread(UpdateWorker, &window, &WorkerThread);
    return;
  }
  window.ShowMessage(kRunAloneMessage);
  window.Close();
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  UpdaterWindow window;
  if (!window.Create(instance)) return 1;
  OnUpdaterCreated(window);
  return window.RunMessageLoop();
}
