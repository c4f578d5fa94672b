// Ends one process found by window title or by image name.
#pragma once

#include "common/text.h"

// A top-level window titled exactly name makes its process the target; else the
// first process whose image name equals name regardless of ASCII case. One
// process per call; true when its termination was requested successfully.
bool TerminateProcessByName(const Text& name);
// ASCII-case-insensitive equality; double-byte characters compared as they are.
bool EqualsIgnoringAsciiCase(const Text& a, const Text& b);
