// The Updater's command line: <own path> <download address> <path to replace>.
// The splitting rule is portable; GetCommandArgs() reads the process's line.
#pragma once

#include <string_view>

#include "common/text.h"

// Skips the program's own name (quoted or up to the first blank), then splits:
// bytes of 0x20 or less separate arguments; a double quote opens an argument
// that runs to the next quote or the end ("" is an empty argument); a plain
// argument ends at a byte of 0x20 or less or at a quote. A byte of 0x80 or more
// leads a double-byte character and takes the next byte with it, whatever that
// byte is. A lead byte that is the line's last byte stays in its argument.
TextArray GetCommandArgs(std::string_view commandLine);

// The arguments of the running process (its ANSI command line). Windows only.
TextArray GetCommandArgs();
