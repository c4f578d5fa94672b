// The tunnel service: deployment of the carried package, and its shutdown.
#pragma once

#include "app/shell/app_context.h"

// The image names of the service's processes, in the order they are ended.
inline constexpr const char* kLauncherImage = "corvalen.exe";
inline constexpr const char* kProxyImage = "python27.exe";
// What the status line says after a deployment that completed.
inline constexpr const char* kTunnelReadyText = "隧道加载成功！代理地址：127.0.0.1:8088";
// The start of the status line after a deployment that failed; the failed step follows.
inline constexpr const char* kTunnelFailedText = "隧道加载失败！";

// Two passes of ending one "corvalen.exe" and one "python27.exe"; does not wait.
void StopTunnelProcesses();
// StopTunnelProcesses, then removal of ServiceDir.
void CleanUpTunnelService(const AppContext& app);
// The click handler of "使用": stops the service, then unpacks the carried
// package into ServiceDir, points proxy.ini at the selected channel and starts
// the launcher. The status line tells whether that worked and which step failed.
void DeployTunnelService(AppContext& app);
