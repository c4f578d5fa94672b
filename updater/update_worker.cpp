#include "updater/update_worker.h"

#include <windows.h>

#include "common/platform.h"
#include "updater/download.h"

namespace {

constexpr int kReplaceAttempts = 20;
constexpr DWORD kReplacePauseMs = 250;

// The old program may take a moment to let go of its file after it ended itself.
bool ReplaceProgram(const Text& source, const Text& destination) {
  for (int attempt = 1;; ++attempt) {
    if (MoveOrCopyFile(source, destination)) return true;
    const DWORD error = GetLastError();
    if (attempt == kReplaceAttempts || (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)) return false;
    Sleep(kReplacePauseMs);
  }
}

}  // namespace

bool MoveOrCopyFile(const Text& source, const Text& destination) {
  return MoveFileExA(source.c_str(), destination.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != 0;
}

bool StartProgram(const Text& path) { return RunCommand(ConcatText("\"", path, "\""), false, kShowNormal); }

void RunUpdate(const TextArray& args, UpdaterView& view, const std::function<bool(const Text&)>& startProgram) {
  if (args.size() < 2) {
    view.ShowMessage(kMissingTargetMessage);
    return;
  }
  const Text& downloadUrl = args[0];
  const Text& targetPath = args[1];
  if (DownloadToFile(downloadUrl, kNewExeFile, view) == 0) ReplaceProgram(kNewExeFile, targetPath);
  startProgram(targetPath);
}
