#include "app/http/status_line.h"

int HttpStatusCode(const Text& rawHeaders) {
  if (FindText(rawHeaders, "HTTP/", 1, true) != 1) return 0;
  int space = FindText(rawHeaders, " ");
  int lineEnd = FindText(rawHeaders, "\r\n");
  if (space == -1 || (lineEnd != -1 && space > lineEnd)) return 0;
  Text code = MidText(rawHeaders, space + 1, 3);
  if (TextLength(code) != 3) return 0;
  for (char c : code)
    if (c < '0' || c > '9') return 0;
  Text after = MidText(rawHeaders, space + 4, 1);
  if (!after.empty() && after != " " && after != "\r") return 0;
  return TextToInt(code);
}
