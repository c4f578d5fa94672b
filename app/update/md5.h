// The MD5 digest text of a byte string, computed by the Windows cryptographic
// service (CryptoAPI).
#pragma once

#include <cstdint>

#include "common/text.h"

inline constexpr int32_t kCalgMd5 = 0x8003;
inline constexpr int32_t kMd5Length = 16;

// The hash of data under algorithmId as upper-case hex text (two characters per
// byte the platform returns); the empty text when any platform step fails.
Text HashBytesHex(const Bytes& data, int32_t algorithmId, int32_t hashLength);

// MD5 of data: 32 hex characters, lower case unless upperCase; with short16
// characters 9 to 24 only. Empty when the platform failed.
Text Md5Text(const Bytes& data, bool upperCase = false, bool short16 = false);
