// The Updater's work: download the new main program, put it in place of the
// old one, start whichever is there, end.
#pragma once

#include <functional>

#include "updater/updater_view.h"

inline constexpr const char* kNewExeFile = "newexe.dat";
inline constexpr const char* kMissingTargetMessage = "缺少要更新的程序路径，没有更改任何文件！";

// Puts source in place of destination in one step (rename, or copy and delete
// across volumes), replacing an existing destination. The destination is never
// removed beforehand: on failure it is unchanged.
bool MoveOrCopyFile(const Text& source, const Text& destination);

// args: 1 DownloadUrl, 2 TargetPath. Downloads into newexe.dat in the working
// directory; after a complete download puts it in place of TargetPath, waiting
// up to a few seconds while the old program still holds its file. Then starts
// the program at TargetPath, replaced or not. With only a DownloadUrl nothing
// is fetched, replaced or started: a message says so. Returns after all that;
// the caller ends the process.
void RunUpdate(const TextArray& args, UpdaterView& view, const std::function<bool(const Text&)>& startProgram);

// RunCommand of the quoted path, normal window, no wait.
bool StartProgram(const Text& path);
