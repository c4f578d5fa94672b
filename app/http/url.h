// URL decomposition for WinINet: scheme test, host, port and object path.
// Purely textual: the scheme is recognised only as "http://" or "https://";
// no percent-decoding, user information, IPv6 brackets or fragments.
#pragma once

#include "common/text.h"

// True when the first eight characters, lower-cased, are "https://".
bool IsHttpsUrl(const Text& url);
// The host part, lower-cased; with ":port" when keepPort is true.
Text UrlHost(const Text& url, bool keepPort = false);
// The number after the last colon of the host part; else 443 when the URL
// begins with "https" (any case), else 80.
int UrlPort(const Text& url);
// From the first "/" at or after the host to the end, in the caller's case;
// "/" when there is none.
Text UrlObjectPath(const Text& url);
