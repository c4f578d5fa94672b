// What every handler of the main program works with: the window (through its
// view) and the program's location, fixed at start-up.
#pragma once

#include "app/shell/main_view.h"
#include "common/text.h"

struct AppContext {
  MainView& view;
  Text programDir;  // folder of the running executable, no trailing backslash
  Text exeName;     // file name of the running executable

  Text ServiceDir() const { return programDir + "\\service\\"; }
};
