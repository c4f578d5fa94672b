// Where a ZIP entry lands on disk. Portable: no Windows header.
#pragma once

#include "common/text.h"

// targetDir plus "\" when it does not already end with one (the last character,
// stepping over GBK double-byte characters whose trail byte is 0x5C).
Text FolderWithSeparator(const Text& targetDir);

// The output path of an entry: FolderWithSeparator(targetDir) + the name with
// every "/" turned into "\". Empty when the name could land outside targetDir:
// an empty name, a leading "\" or "/" (absolute or UNC), any ":" (drive letter,
// alternate stream), a byte that is not part of a well-formed GBK character,
// a segment of ".." or of nothing but dots and spaces (which
// the platform trims to "." or ".."), or a control character.
Text ZipEntryOutputPath(const Text& targetDir, const Text& entryName);
