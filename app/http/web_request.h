// The one general HTTP(S) request routine of the main program, on WinINet.
#pragma once

#include "common/text.h"

// Methods by number; any value outside 0..7 means GET.
enum WebMethod { kGet = 0, kPost = 1, kHead = 2, kPut = 3, kOptions = 4, kDelete = 5, kTrace = 6, kConnect = 7 };

// One synchronous request; returns the response body (empty when the request
// could not be set up or had no body). Pointer parameters are the optional
// in/out and out parameters: a null `cookies` means "not supplied", which
// differs from a supplied empty text.
Bytes WebRequest(const Text& url, int method = kGet, const Text& postText = {}, Text* cookies = nullptr,
                 Text* returnedCookies = nullptr, const Text& extraHeaders = {}, Text* responseHeaders = nullptr,
                 bool noRedirect = false, Bytes* postBytes = nullptr, const Text& proxy = {}, bool mergeCookies = true,
                 bool completeHeaders = true, bool normalizeHeaderNames = true, bool socksProxy = false);
