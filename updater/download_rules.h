// The Updater's judgement of a download, and the progress bar position. Portable.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/text.h"

inline constexpr int kProgressScale = 100;

// received x 100 / announced, in floating point, truncated toward zero and held
// to 0..100; 0 when the length was not announced.
int ProgressPosition(int32_t announced, int32_t received);

// A 2xx HTTP status.
bool IsSuccessStatus(int status);

// True when a Content-Encoding value leaves the body as sent: absent, empty or "identity".
bool IsPlainEncoding(std::string_view contentEncoding);

// True when the first bytes of a file are those of a Windows executable ("MZ").
bool StartsAsExecutable(std::string_view firstBytes);
