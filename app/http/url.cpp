#include "app/http/url.h"

#include "app/http/headers.h"

bool IsHttpsUrl(const Text& url) { return CompareText(ToLowerAscii(LeftText(url, 8)), "https://") == 0; }

Text UrlHost(const Text& url, bool keepPort) {
  Text u = ToLowerAscii(url);
  if (RightText(u, 1) != "/") u += "/";
  if (LeftText(u, 8) == "https://") {
    u = TextBetween(u, "https://", "/");
  } else {
    // A URL without scheme is plain HTTP; one that carries "http://" further
    // on (in a query, say) takes its host from there.
    if (FindText(u, "http://") == -1) u = "http://" + u;
    u = TextBetween(u, "http://", "/");
  }
  if (!keepPort) {
    int p = FindText(u, ":");
    if (p != -1) u = LeftText(u, p - 1);
  }
  return u;
}

int UrlPort(const Text& url) {
  Text hostPort = UrlHost(url, true);
  int p = FindTextBackward(hostPort, ":");
  if (p != -1) return TextToInt(RightText(hostPort, TextLength(hostPort) - p));
  return LeftText(ToLowerAscii(url), 5) == "https" ? 443 : 80;
}

Text UrlObjectPath(const Text& url) {
  Text host = UrlHost(url, false);
  int p = FindText(url, host, 1, true);
  int s = FindText(url, "/", p, true);
  if (s > 0) return RightText(url, TextLength(url) - s + 1);
  return "/";
}
