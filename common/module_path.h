// Splitting of an executable's full path into folder and file name. Portable.
#pragma once

#include "common/text.h"

struct ModulePath {
  Text dir;   // up to, not including, the last backslash; empty without one
  Text name;  // after the last backslash
};

// The search for the last backslash is character-stepping: a trail byte 0x5C
// of a GBK character is not a separator.
ModulePath SplitModulePath(const Text& fullPath);
