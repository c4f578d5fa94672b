#include "app/http/headers.h"

namespace {

const char kCrLf[] = "\r\n";

// The name part of a header line with its first letter and every letter
// right after a "-" in ASCII upper case. Steps by characters, so a byte of a
// double-byte character is never taken for a "-".
Text CapitalizeNameParts(const Text& name) {
  Text out;
  bool startOfPart = true;
  for (int i = 1; i <= TextLength(name);) {
    int width = IsLeadByte(static_cast<unsigned char>(name[i - 1])) ? 2 : 1;
    Text ch = MidText(name, i, width);
    out += startOfPart ? CapitalizeFirst(ch) : ch;
    startOfPart = ch == "-";
    i += width;
  }
  return out;
}

}  // namespace

Text CapitalizeFirst(const Text& text) { return ToUpperAscii(LeftText(text, 1)) + MidText(text, 2, TextLength(text)); }

Text NormalizeHeaderNames(const Text& text) {
  Text out;
  bool first = true;
  for (const Text& line : SplitText(text, kCrLf)) {
    int p = FindText(line, ":");
    if (p == -1) continue;
    Text rebuilt = CapitalizeNameParts(LeftText(line, p - 1)) + MidText(line, p, TextLength(line));
    if (!first) out += kCrLf;
    out += rebuilt;
    first = false;
  }
  return out;
}

Text TextBetween(const Text& text, const Text& startMarker, const Text& endMarker) {
  int p = FindText(text, startMarker);
  if (p == -1) return {};
  p += TextLength(startMarker);
  int q = FindText(text, endMarker, p);
  if (q == -1) return {};
  return MidText(text, p, q - p);
}

Text ValueAfterColon(const Text& text) {
  int p = FindText(text, ":");
  if (p == -1) return {};
  return TrimSpaces(RightText(text, TextLength(text) - p));
}

Text AgentFromHeaders(const Text& headers) {
  if (FindText(headers, "User-Agent:", 1, true) == -1) return kDefaultAgent;
  Text v = TrimSpaces(TextBetween(headers + kCrLf, "User-Agent:", kCrLf));
  if (v.empty()) v = ValueAfterColon(headers);
  return v;
}

Text CompleteDefaultHeaders(const Text& headers, const Text& url, int method) {
  Text h = headers.empty() ? Text("Accept: */*") : headers;
  if (FindText(h, "Accept:", 1, true) == -1) h += ConcatText(kCrLf, "Accept: */*");
  if (FindText(h, "Referer:", 1, true) == -1) h += ConcatText(kCrLf, "Referer: ", url);
  if (FindText(h, "Accept-Language:", 1, true) == -1) h += ConcatText(kCrLf, "Accept-Language: zh-cn");
  if (method == 1 && FindText(h, "Content-Type:", 1, true) == -1)
    h += ConcatText(kCrLf, "Content-Type: application/x-www-form-urlencoded");
  return h;
}

Text AppendCookieHeader(const Text& headers, const Text& cookies) {
  if (FindText(cookies, "Cookie:") == -1) return ConcatText(headers, kCrLf, "Cookie: ", cookies);
  return ConcatText(headers, kCrLf, cookies);
}
