// The update check behind "更新" and the hand-over to the Updater.
#pragma once

#include <functional>

#include "app/shell/app_context.h"

inline constexpr const char* kUpdaterFileName = "update.date";
inline constexpr const char* kLatestVersionMessage = "当前版本已经最新！";
inline constexpr const char* kOfferUpdateMessage = "程序有更新，是否更新主程序？";
inline constexpr const char* kOfferUpdateCaption = "提示";

// What the check does once the user has accepted: start the Updater's command
// line, then end the own process. Tests put recorders in their place.
struct UpdateHandOver {
  std::function<bool(const Text& commandLine)> startUpdater;
  std::function<void()> endOwnProcess;
};
// Starts with RunCommand (normal window, no wait) and ends this process.
UpdateHandOver PlatformHandOver();

// The Updater's command line: its path and the program's path in quotes, the
// download address between them, single blanks in between.
Text UpdaterCommandLine(const Text& updaterPath, const Text& updateExeUrl, const Text& ownPath);

// The check against the given md5.txt and update.exe addresses.
void CheckForUpdateAt(AppContext& app, const Text& digestUrl, const Text& updateExeUrl, const UpdateHandOver& handOver);

// The click handler of 按钮_更新: the content server's addresses, the platform hand-over.
void CheckForUpdate(AppContext& app);
