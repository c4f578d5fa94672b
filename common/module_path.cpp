#include "common/module_path.h"

ModulePath SplitModulePath(const Text& fullPath) {
  int p = FindTextBackward(fullPath, "\\");
  if (p == -1) return {Text(), fullPath};
  return {LeftText(fullPath, p - 1), MidText(fullPath, p + 1, TextLength(fullPath))};
}
