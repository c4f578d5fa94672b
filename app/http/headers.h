// Request header assembly: the header block that a request sends, built from
// the caller's extra headers, the default headers and the caller's cookies.
// A header text is lines "Name: value" joined by CR LF, no CR LF at the end.
#pragma once

#include "common/text.h"

inline constexpr const char* kDefaultAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

// Capitalises the first letter of the name and each letter after a "-" in
// the name (the part before the first ":"); values are untouched. Lines
// without a colon, empty ones included, are dropped.
Text NormalizeHeaderNames(const Text& text);
// ASCII upper case of the first byte; the rest unchanged.
Text CapitalizeFirst(const Text& text);
// The text between the first startMarker and the next endMarker after it;
// empty when either is missing. Exact (case-sensitive) search.
Text TextBetween(const Text& text, const Text& startMarker, const Text& endMarker);
// The text after the first ":", trimmed of spaces; empty without a ":".
Text ValueAfterColon(const Text& text);
// The user agent for the connection: the value of a "User-Agent:" line, or
// kDefaultAgent when the headers name none.
Text AgentFromHeaders(const Text& headers);
// Appends Accept, Referer (the URL as given) and Accept-Language when their
// names occur nowhere in the text, and Content-Type for method 1 (POST).
Text CompleteDefaultHeaders(const Text& headers, const Text& url, int method);
// Appends the caller's cookies as a Cookie line (the CR LF even when headers
// is empty); a cookie text that already holds "Cookie:" is appended as it is.
Text AppendCookieHeader(const Text& headers, const Text& cookies);
