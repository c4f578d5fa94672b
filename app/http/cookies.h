// Cookie handling without a store of our own: the cookies a response sets are
// taken from its raw header lines and merged into the caller's cookie text.
// A cookie text is items "name=value" separated by exactly "; ".
#pragma once

#include "common/text.h"

// The items of the Set-Cookie lines (name in any case, at the start of the
// line), each the text between the colon and the first ";", trimmed; joined by
// "; ". A line without ";" contributes nothing.
Text CollectSetCookies(const TextArray& lines);
// The response's cookies (without "=deleted" ones), then the caller's cookies
// whose names the response did not set, duplicates removed. The result is
// also stored into `cookies`; `newCookies` is left trimmed.
Text MergeCookies(Text& cookies, Text& newCookies);
// The text before the first "=" (the whole item without one), trimmed.
Text CookieName(const Text& item);
bool HasCookieName(const TextArray& items, const Text& name);
// Each item at its first occurrence only, joined again with the separator.
Text RemoveDuplicateItems(const Text& text, const Text& separator);
// 1-based index of the first element equal to text (exact case), or -1.
int IndexOfText(const TextArray& items, const Text& text);
