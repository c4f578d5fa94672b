#include "common/text.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

unsigned char Byte(std::string_view t, size_t i) { return static_cast<unsigned char>(t[i]); }

unsigned char FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

bool MatchesAt(std::string_view t, size_t pos, std::string_view s, bool ignoreCase) {
  if (pos + s.size() > t.size()) return false;
  if (!ignoreCase) return t.compare(pos, s.size(), s) == 0;
  for (size_t k = 0; k < s.size(); ++k)
    if (FoldAscii(Byte(t, pos + k)) != FoldAscii(Byte(s, k))) return false;
  return true;
}

// Width of the character starting at pos: 1, 2, or 0 for a lead byte that the
// text ends right after (such a byte ends every character-stepping scan).
size_t CharWidthAt(std::string_view t, size_t pos) {
  if (!IsLeadByte(Byte(t, pos))) return 1;
  return pos + 1 < t.size() ? 2 : 0;
}

Text MapAscii(std::string_view t, unsigned char from, unsigned char to, int delta) {
  Text out(t);
  for (size_t i = 0; i < out.size();) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (IsLeadByte(c)) { i += 2; continue; }
    if (c >= from && c <= to) out[i] = static_cast<char>(c + delta);
    ++i;
  }
  return out;
}

}  // namespace

int TextLength(std::string_view t) { return static_cast<int>(t.size()); }

Text LeftText(std::string_view t, int n) {
  if (n <= 0) return {};
  return Text(t.substr(0, std::min<size_t>(n, t.size())));
}

Text RightText(std::string_view t, int n) {
  if (n <= 0) return {};
  size_t k = std::min<size_t>(n, t.size());
  return Text(t.substr(t.size() - k));
}

Text MidText(std::string_view t, int start, int n) {
  if (start < 1 || start > TextLength(t) || n <= 0) return {};
  return Text(t.substr(start - 1, n));
}

int FindText(std::string_view t, std::string_view s, int start, bool ignoreCase) {
  if (start < 1) start = 1;
  if (start > TextLength(t)) return -1;
  if (s.empty()) return 1;
  for (size_t pos = start - 1; pos + s.size() <= t.size();) {
    if (MatchesAt(t, pos, s, ignoreCase)) return static_cast<int>(pos) + 1;
    size_t w = CharWidthAt(t, pos);
    if (w == 0) break;
    pos += w;
  }
  return -1;
}

static int FindLastWithin(std::string_view t, std::string_view s, size_t limit, bool ignoreCase) {
  if (limit == 0) return -1;
  if (s.empty()) return 1;
  int found = -1;
  for (size_t pos = 0; pos + s.size() <= limit;) {
    if (MatchesAt(t, pos, s, ignoreCase)) found = static_cast<int>(pos) + 1;
    size_t w = CharWidthAt(t, pos);
    if (w == 0) break;
    pos += w;
  }
  return found;
}

int FindTextBackward(std::string_view t, std::string_view s, int start, bool ignoreCase) {
  if (start <= 1) return -1;
  return FindLastWithin(t, s, std::min<size_t>(start - 1, t.size()), ignoreCase);
}

int FindTextBackward(std::string_view t, std::string_view s) {
  return FindLastWithin(t, s, t.size(), false);
}

Text ToUpperAscii(std::string_view t) { return MapAscii(t, 'a', 'z', 'A' - 'a'); }
Text ToLowerAscii(std::string_view t) { return MapAscii(t, 'A', 'Z', 'a' - 'A'); }

Text TrimSpaces(std::string_view t) {
  size_t pos = 0, begin = 0, end = 0;
  bool inLeadingRun = true;
  while (pos < t.size()) {
    size_t w = CharWidthAt(t, pos);
    if (w == 0) break;  // a dangling lead byte is dropped
    bool blank = w == 1 ? Byte(t, pos) == 0x20 : (Byte(t, pos) == 0xA1 && Byte(t, pos + 1) == 0xA1);
    pos += w;
    if (blank && inLeadingRun) {
      begin = end = pos;
    } else if (!blank) {
      inLeadingRun = false;
      end = pos;
    }
  }
  return Text(t.substr(begin, end - begin));
}

Text ReplaceText(std::string_view t, std::string_view find, std::string_view replacement, int start,
                 int count, bool caseSensitive) {
  if (start < 1) start = 1;
  if (t.empty() || find.empty() || start > TextLength(t) || count == 0) return Text(t);
  Text out(t.substr(0, start - 1));
  size_t pos = start - 1;
  int made = 0;
  while (pos + find.size() <= t.size()) {
    if (MatchesAt(t, pos, find, !caseSensitive)) {
      out.append(replacement);
      pos += find.size();
      if (++made == count) break;
      continue;
    }
    size_t w = CharWidthAt(t, pos);
    if (w == 0) break;
    out.append(t.substr(pos, w));
    pos += w;
  }
  out.append(t.substr(pos));
  return out;
}

TextArray SplitText(std::string_view t, std::string_view delimiter, int maxCount) {
  TextArray parts;
  if (t.empty() || maxCount <= 0) return parts;
  if (delimiter.empty()) {
    parts.emplace_back(t);
    return parts;
  }
  size_t pos = 0, pieceStart = 0;
  while (pos + delimiter.size() <= t.size()) {
    if (t.compare(pos, delimiter.size(), delimiter) == 0) {
      parts.emplace_back(t.substr(pieceStart, pos - pieceStart));
      if (static_cast<int>(parts.size()) == maxCount) return parts;
      pos += delimiter.size();
      pieceStart = pos;
      continue;
    }
    size_t w = CharWidthAt(t, pos);
    if (w == 0) break;
    pos += w;
  }
  if (pieceStart < t.size()) parts.emplace_back(t.substr(pieceStart));
  return parts;
}

Text BlankText(int n) { return n < 1 ? Text() : Text(n, ' '); }

Text CharFromCode(int code) {
  char c = static_cast<char>(code & 0xFF);
  return c == 0 ? Text() : Text(1, c);
}

int CodeAt(std::string_view t, int pos) {
  if (pos < 1 || pos > TextLength(t)) return 0;
  return static_cast<signed char>(t[pos - 1]);
}

int CompareText(std::string_view a, std::string_view b) {
  int c = a.compare(b);  // char_traits<char>::compare is unsigned, like memcmp
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int TextToInt(std::string_view v) {
  // Full-width forms first: A3 A1..A3 FE are the ASCII 0x21..0x7E, A1 A1 a space.
  Text ascii;
  for (size_t i = 0; i < v.size();) {
    unsigned char c = Byte(v, i);
    if (IsLeadByte(c) && i + 1 < v.size()) {
      unsigned char d = Byte(v, i + 1);
      if (c == 0xA3 && d >= 0xA1 && d <= 0xFE) ascii.push_back(static_cast<char>(d - 0x80));
      else if (c == 0xA1 && d == 0xA1) ascii.push_back(' ');
      else ascii.append(v.substr(i, 2));
      i += 2;
    } else {
      ascii.push_back(static_cast<char>(c));
      ++i;
    }
  }
  size_t i = 0;
  while (i < ascii.size() && (ascii[i] == ' ' || (ascii[i] >= '\t' && ascii[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < ascii.size() && (ascii[i] == '+' || ascii[i] == '-')) negative = ascii[i++] == '-';
  int64_t value = 0;
  for (; i < ascii.size() && ascii[i] >= '0' && ascii[i] <= '9'; ++i) {
    value = value * 10 + (ascii[i] - '0');
    if (value > (int64_t{1} << 32)) value = int64_t{1} << 32;  // saturate; clamped below
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                              std::numeric_limits<int32_t>::max()));
}

int TextToInt(double v) {
  if (std::isnan(v)) return 0;
  double t = std::trunc(v);
  if (t >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (t <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int>(t);
}

int BytesLength(const Bytes& b) { return static_cast<int>(b.size()); }

Bytes LeftBytes(const Bytes& b, int n) {
  if (n < 0) return {};
  return b.substr(0, std::min<size_t>(n, b.size()));
}

Bytes MidBytes(const Bytes& b, int start, int n) {
  if (start < 1) start = 1;
  if (start > BytesLength(b) || n <= 0) return {};
  return b.substr(start - 1, n);
}

Bytes BlankBytes(int n) { return n <= 0 ? Bytes() : Bytes(n, '\0'); }

bool CompareBytes(const Bytes& a, const Bytes& b) { return a == b; }

Bytes TextToBytes(std::string_view t) { return Bytes(t); }

Text BytesToText(const Bytes& b) { return b.substr(0, b.find('\0')); }

int32_t ShiftRight(int32_t x, int n) { return x >> (n & 31); }
