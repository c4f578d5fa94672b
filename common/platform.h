// Platform operations on the program's location, files, INI files and processes.
// Paths are GBK texts; every call uses the ANSI entry points.
#pragma once

#include "common/text.h"

#include <initializer_list>

Text GetProgramDir();
Text GetExeName();

// Whole content; empty when the path is empty or the file cannot be read.
Bytes ReadWholeFile(const Text& path);
// Creates or truncates the file with exclusive access and writes the pieces in order.
bool WriteWholeFile(const Text& path, std::initializer_list<Bytes> pieces);
inline bool WriteWholeFile(const Text& path, const Bytes& content) { return WriteWholeFile(path, {content}); }
bool RemoveFile(const Text& path);
// Deletes a folder with everything in it. Drive roots are refused; entries whose
// names begin with "." are skipped; a trailing backslash is allowed.
bool RemoveDirTree(const Text& path);
bool WriteIniValue(const Text& file, const Text& section, const Text& key, const Text& value);

// Show modes, clamped to 1..6.
enum ShowMode { kShowHidden = 1, kShowNormal = 2, kShowMinimized = 3, kShowMaximized = 4, kShowNoActivate = 5, kShowMinNoActivate = 6 };
// Starts commandLine as a new process. wait: until it ends; otherwise until it
// is idle for input, at most 1000 ms. True when the process was started.
bool RunCommand(const Text& commandLine, bool wait = false, int showMode = kShowNormal);
