#include "updater/command_args.h"

#include <windows.h>

TextArray GetCommandArgs() { return GetCommandArgs(GetCommandLineA()); }
