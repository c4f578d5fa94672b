#include "app/service/tunnel_service.h"

#include "app/service/extract_zip.h"
#include "app/service/package_archive.h"
#include "common/platform.h"
#include "common/process_kill.h"

#include <windows.h>

namespace {

// The failed step, after kTunnelFailedText.
constexpr const char* kFailedWrite = "无法写入服务包";
constexpr const char* kFailedUnpack = "服务包解压不完整";
constexpr const char* kFailedConfig = "无法写入配置proxy.ini";
constexpr const char* kFailedStart = "无法启动corvalen.exe";

// Ending a process is asynchronous: for a moment after StopTunnelProcesses the
// ended launcher and proxy may still hold their image files. Removal is tried
// again for a short, bounded time so that the package does not stay behind.
void RemoveServiceDir(const Text& serviceDir) {
  constexpr int kAttempts = 20;
  constexpr DWORD kPauseMs = 100;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    RemoveDirTree(serviceDir);
    if (GetFileAttributesA(serviceDir.c_str()) == INVALID_FILE_ATTRIBUTES) return;
    Sleep(kPauseMs);
  }
}

}  // namespace

void StopTunnelProcesses() {
  for (int pass = 0; pass < 2; ++pass) {
    TerminateProcessByName(kLauncherImage);
    TerminateProcessByName(kProxyImage);
  }
}

void CleanUpTunnelService(const AppContext& app) {
  StopTunnelProcesses();
  RemoveServiceDir(app.ServiceDir());
}

void DeployTunnelService(AppContext& app) {
  StopTunnelProcesses();
  const int row = app.view.SelectedRow();
  if (row == -1) {
    app.view.ShowMessageBox("请先选中左侧通道地址，再点【使用】按钮！", 0, "操作错误");
    return;
  }
  const Text address = app.view.GetCellText(row, 1);
  const Text serviceDir = app.ServiceDir();
  const Text archivePath = app.programDir + "\\service.zip";

  RemoveServiceDir(serviceDir);
  // Each step runs only when the one before it worked: a package that was not
  // written or unpacked completely is neither configured nor started.
  const char* failed = nullptr;
  const Bytes archive = EmbeddedTunnelPackage();
  if (archive.empty() || !WriteWholeFile(archivePath, archive)) {
    failed = kFailedWrite;
  } else if (ExtractZip(archivePath, serviceDir) != 1) {
    failed = kFailedUnpack;
  }
  RemoveFile(archivePath);
  if (!failed && !WriteIniValue(serviceDir + "proxy.ini", "php", "fetchserver", address)) failed = kFailedConfig;
  // Quoted, so that a ProgramDir with spaces cannot start a different program.
  if (!failed && !RunCommand(ConcatText("\"", serviceDir, kLauncherImage, "\""), false, kShowHidden))
    failed = kFailedStart;

  app.view.SetLabelText(failed ? ConcatText(kTunnelFailedText, failed) : Text(kTunnelReadyText));
}
