// The status code in a response's raw headers.
#pragma once

#include "common/text.h"

// The three-digit code of a status line "HTTP/x.y NNN reason" at the start of
// the raw headers; 0 when there is none (a request that got no response).
int HttpStatusCode(const Text& rawHeaders);
inline bool IsSuccessStatus(const Text& rawHeaders) {
  int code = HttpStatusCode(rawHeaders);
  return code >= 200 && code <= 299;
}
