// Text, byte-string and integer operations that all logic of both programs is
// written with. Portable: no Windows header.
//
// Text: GBK bytes (code page 936). Lengths and positions count bytes and are
// 1-based; a byte of 0x80 or above is the lead byte of a two-byte character.
// An empty text and an absent text are the same value.
// Bytes: a byte string that may hold zero bytes (bodies, files, digests).
// TextArray: the elements of a split; element k of the description is [k - 1].
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using Text = std::string;
using Bytes = std::string;
using TextArray = std::vector<Text>;

inline bool IsLeadByte(unsigned char c) { return c >= 0x80; }

// ---- texts ----
int TextLength(std::string_view t);
Text LeftText(std::string_view t, int n);
Text RightText(std::string_view t, int n);
Text MidText(std::string_view t, int start, int n);
int FindText(std::string_view t, std::string_view s, int start = 1, bool ignoreCase = false);
// With start omitted the whole of t is searched; start <= 1 searches nothing.
int FindTextBackward(std::string_view t, std::string_view s, int start, bool ignoreCase = false);
int FindTextBackward(std::string_view t, std::string_view s);
Text ToUpperAscii(std::string_view t);
Text ToLowerAscii(std::string_view t);
Text TrimSpaces(std::string_view t);
Text ReplaceText(std::string_view t, std::string_view find, std::string_view replacement = {},
                 int start = 1, int count = -1, bool caseSensitive = false);
// Omitted maxCount means unlimited; a negative maxCount gives no elements.
inline constexpr int kNoLimit = 0x7FFFFFFF;
TextArray SplitText(std::string_view t, std::string_view delimiter = ",", int maxCount = kNoLimit);
Text BlankText(int n);
Text CharFromCode(int code);
int CodeAt(std::string_view t, int pos = 1);
int CompareText(std::string_view a, std::string_view b);
template <typename... Ts>
Text ConcatText(const Ts&... parts) {
  Text out;
  (out.append(std::string_view(parts)), ...);
  return out;
}
int TextToInt(std::string_view v);
int TextToInt(double v);

// ---- byte strings ----
int BytesLength(const Bytes& b);
Bytes LeftBytes(const Bytes& b, int n);
Bytes MidBytes(const Bytes& b, int start, int n);
Bytes BlankBytes(int n);
template <typename... Ts>
Bytes ConcatBytes(const Ts&... parts) {
  Bytes out;
  (out.append(parts), ...);
  return out;
}
bool CompareBytes(const Bytes& a, const Bytes& b);
Bytes TextToBytes(std::string_view t);
Text BytesToText(const Bytes& b);

// ---- integers ----
template <typename... Ts>
int32_t BitAnd(int32_t a, Ts... rest) {
  return static_cast<int32_t>((static_cast<uint32_t>(a) & ... & static_cast<uint32_t>(rest)));
}
template <typename... Ts>
int32_t BitOr(int32_t a, Ts... rest) {
  return static_cast<int32_t>((static_cast<uint32_t>(a) | ... | static_cast<uint32_t>(rest)));
}
int32_t ShiftRight(int32_t x, int n);
