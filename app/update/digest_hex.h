// Digest bytes as text, and the shaping of an MD5 digest text. Portable.
#pragma once

#include <string_view>

#include "common/text.h"

// Two characters of "0123456789ABCDEF" per byte, upper four bits first, in the
// order of the bytes; no separators, no prefix.
Text DigestBytesToHex(std::string_view digest);

// Shapes the 32 upper-case characters of an MD5 digest text: lower case unless
// upperCase; with short16 only characters 9 to 24. An empty input stays empty.
Text ShapeDigestText(const Text& upperHex, bool upperCase, bool short16);
