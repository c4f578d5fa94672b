// The channel list format: records ended by "<BR>", one per line, fields
// separated by "|": location, address, provider, traffic limit, speed.
#pragma once

#include "app/shell/main_view.h"
#include "common/text.h"

// Line-feed bytes, plus one when the text does not end in a line feed; 0 for
// an empty text. Carriage returns are ordinary bytes.
int CountLines(const Text& text);
// SplitText at every delimiter (exact, at character boundaries), without the
// empty pieces.
TextArray SplitNonEmpty(const Text& text, const Text& delimiter);
// Appends one row per line of the list text to the table, at most one per
// record that exists; each field goes to the column of its position.
void AppendChannelRows(MainView& view, const Text& listText);
