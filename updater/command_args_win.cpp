#include <windows.h>

#include "updater/command_args.h"

TextArray GetCommandArgs() { return GetCommandArgs(GetCommandLineA()); }
