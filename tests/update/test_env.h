// Settings the update tests' runner passes through the environment, and folders.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include "common/platform.h"
#include "common/text.h"

inline Text TestSetting(const char* name) {
  char buffer[1024] = {};
  DWORD n = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
  if (n == 0 || n >= sizeof(buffer)) {
    ADD_FAILURE() << name << " is not set (run through run_wine_test.py)";
    return {};
  }
  return Text(buffer, n);
}

// A fresh, empty folder under the system's temporary folder.
inline Text FreshFolder(const Text& name) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const Text path = Text(temp) + name;
  RemoveDirTree(path);
  CreateDirectoryA(path.c_str(), nullptr);
  return path;
}

inline bool FileExists(const Text& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
