#include "app/http/cookies.h"

namespace {

const char kItemSeparator[] = "; ";

void TrimCookieText(Text& t) {
  t = TrimSpaces(t);
  if (RightText(t, 1) == ";") t += " ";
}

}  // namespace

Text CollectSetCookies(const TextArray& lines) {
  Text out;
  for (const Text& line : lines) {
    if (FindText(line, "set-cookie:", 1, true) != 1) continue;
    int s = FindText(line, ";", 12, true);
    if (s == -1) continue;
    if (!out.empty()) out += kItemSeparator;
    out += TrimSpaces(MidText(line, 12, s - 12));
  }
  return out;
}

Text MergeCookies(Text& cookies, Text& newCookies) {
  TrimCookieText(cookies);
  TrimCookieText(newCookies);
  TextArray oldItems = SplitText(cookies, kItemSeparator);
  TextArray newItems = SplitText(newCookies, kItemSeparator);
  for (const Text& item : oldItems)
    if (!HasCookieName(newItems, CookieName(item))) newItems.push_back(item);

  Text result;
  for (const Text& item : newItems) {
    if (RightText(item, 8) == "=deleted") continue;
    result += item + kItemSeparator;
  }
  result = LeftText(result, TextLength(result) - 2);
  result = RemoveDuplicateItems(result, kItemSeparator);
  cookies = result;
  return result;
}

Text CookieName(const Text& item) {
  int p = FindText(item, "=");
  return TrimSpaces(p != -1 ? LeftText(item, p - 1) : item);
}

bool HasCookieName(const TextArray& items, const Text& name) {
  for (const Text& item : items)
    if (CompareText(CookieName(item), name) == 0) return true;
  return false;
}

Text RemoveDuplicateItems(const Text& text, const Text& separator) {
  TextArray seen;
  Text out;
  for (const Text& item : SplitText(text, separator)) {
    if (IndexOfText(seen, item) != -1) continue;
    seen.push_back(item);
    out += item + separator;
  }
  return LeftText(out, TextLength(out) - TextLength(separator));
}

int IndexOfText(const TextArray& items, const Text& text) {
  for (size_t i = 0; i < items.size(); ++i)
    if (CompareText(items[i], text) == 0) return static_cast<int>(i) + 1;
  return -1;
}
