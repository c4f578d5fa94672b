#include "package/proxy/http_parse.h"

#include <algorithm>

namespace tunnel {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = LowerAscii(c);
  return out;
}

bool IsTokenChar(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  switch (c) {
    case '!': case '#': case '$': case '%': case '&': case '\'': case '*': case '+':
    case '-': case '.': case '^': case '_': case '`': case '|': case '~':
      return true;
    default:
      return false;
  }
}

bool IsToken(std::string_view s) {
  if (s.empty()) return false;
  for (unsigned char c : s)
    if (!IsTokenChar(c)) return false;
  return true;
}

// Field values: visible characters, obs-text, spaces and tabs.
bool IsFieldValue(std::string_view s) {
  for (unsigned char c : s)
    if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
  return true;
}

// Splits the head (up to its empty line) into CRLF-terminated lines. Returns
// kIncomplete when the empty line has not arrived yet.
ParseStatus SplitHead(std::string_view buf, const HeadLimits& limits, std::vector<std::string_view>& lines,
                      size_t& consumed, std::string& error) {
  size_t pos = 0;
  lines.clear();
  for (;;) {
    size_t lf = buf.find('\n', pos);
    size_t limit = lines.empty() ? limits.maxStartLine : limits.maxHead;
    if (lf == std::string_view::npos) {
      // A lone CR anywhere but at the very end is already a fault.
      size_t cr = buf.find('\r', pos);
      if (cr != std::string_view::npos && cr + 1 < buf.size()) {
        error = "bare CR in message head";
        return ParseStatus::kBad;
      }
      if (buf.size() - pos > limit || buf.size() > limits.maxHead) {
        error = lines.empty() ? "start line too long" : "message head too large";
        return ParseStatus::kBad;
      }
      return ParseStatus::kIncomplete;
    }
    if (lf == pos || buf[lf - 1] != '\r') {
      error = "line not ended by CRLF";
      return ParseStatus::kBad;
    }
    std::string_view line = buf.substr(pos, lf - 1 - pos);
    if (line.find('\r') != std::string_view::npos) {
      error = "bare CR in message head";
      return ParseStatus::kBad;
    }
    if (line.size() > limit || lf + 1 > limits.maxHead) {
      error = lines.empty() ? "start line too long" : "message head too large";
      return ParseStatus::kBad;
    }
    pos = lf + 1;
    if (line.empty()) {
      if (lines.empty()) {
        error = "empty start line";
        return ParseStatus::kBad;
      }
      consumed = pos;
      return ParseStatus::kDone;
    }
    if (lines.size() > limits.maxHeaderCount) {
      error = "too many header fields";
      return ParseStatus::kBad;
    }
    lines.push_back(line);
  }
}

bool ParseFieldLines(const std::vector<std::string_view>& lines, HeaderList& out, std::string& error) {
  out.clear();
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (line[0] == ' ' || line[0] == '\t') {
      error = "folded header line";
      return false;
    }
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) {
      error = "header line without colon";
      return false;
    }
    std::string_view name = line.substr(0, colon);
    if (!IsToken(name)) {
      error = "invalid header name";
      return false;
    }
    std::string_view value = TrimOws(line.substr(colon + 1));
    if (!IsFieldValue(value)) {
      error = "invalid character in header value";
      return false;
    }
    out.push_back({std::string(name), std::string(value)});
  }
  return true;
}

bool ParseVersion(std::string_view v, int& out) {
  if (v == "HTTP/1.1") {
    out = 11;
    return true;
  }
  if (v == "HTTP/1.0") {
    out = 10;
    return true;
  }
  return false;
}

}  // namespace

std::string_view TrimOws(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ParseDecimal(std::string_view s, uint64_t& out) {
  if (s.empty() || s.size() > 18) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  out = v;
  return true;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

ParseStatus ParseRequestHead(std::string_view buf, const HeadLimits& limits, RequestHead& out,
                             size_t& consumed, std::string& error) {
  std::vector<std::string_view> lines;
  ParseStatus st = SplitHead(buf, limits, lines, consumed, error);
  if (st != ParseStatus::kDone) return st;
  std::string_view start = lines[0];
  size_t sp1 = start.find(' ');
  size_t sp2 = sp1 == std::string_view::npos ? sp1 : start.find(' ', sp1 + 1);
  if (sp2 == std::string_view::npos || start.find(' ', sp2 + 1) != std::string_view::npos) {
    error = "malformed request line";
    return ParseStatus::kBad;
  }
  std::string_view method = start.substr(0, sp1);
  std::string_view target = start.substr(sp1 + 1, sp2 - sp1 - 1);
  if (!IsToken(method) || target.empty()) {
    error = "malformed request line";
    return ParseStatus::kBad;
  }
  for (unsigned char c : target)
    if (c <= 0x20 || c >= 0x7F) {
      error = "invalid character in request target";
      return ParseStatus::kBad;
    }
  if (!ParseVersion(start.substr(sp2 + 1), out.version)) {
    error = "unsupported HTTP version";
    return ParseStatus::kBad;
  }
  out.method = std::string(method);
  out.target = std::string(target);
  if (!ParseFieldLines(lines, out.headers, error)) return ParseStatus::kBad;
  return ParseStatus::kDone;
}

ParseStatus ParseResponseHead(std::string_view buf, const HeadLimits& limits, ResponseHead& out,
                              size_t& consumed, std::string& error) {
  std::vector<std::string_view> lines;
  ParseStatus st = SplitHead(buf, limits, lines, consumed, error);
  if (st != ParseStatus::kDone) return st;
  std::string_view start = lines[0];
  // "HTTP/1.1 200 OK" (the reason may be empty, with or without its space)
  if (start.size() < 12 || !ParseVersion(start.substr(0, 8), out.version) || start[8] != ' ') {
    error = "malformed status line";
    return ParseStatus::kBad;
  }
  uint64_t code = 0;
  if (!ParseDecimal(start.substr(9, 3), code) || code < 100 || code > 999 ||
      (start.size() > 12 && start[12] != ' ')) {
    error = "malformed status code";
    return ParseStatus::kBad;
  }
  out.status = static_cast<int>(code);
  out.reason = start.size() > 13 ? std::string(start.substr(13)) : std::string();
  if (!IsFieldValue(out.reason)) {
    error = "invalid character in reason phrase";
    return ParseStatus::kBad;
  }
  if (!ParseFieldLines(lines, out.headers, error)) return ParseStatus::kBad;
  return ParseStatus::kDone;
}

const std::string* FindHeader(const HeaderList& headers, std::string_view name) {
  for (const HeaderField& f : headers)
    if (EqualsNoCase(f.name, name)) return &f.value;
  return nullptr;
}

std::vector<std::string> HeaderTokens(const HeaderList& headers, std::string_view name) {
  std::vector<std::string> out;
  for (const HeaderField& f : headers) {
    if (!EqualsNoCase(f.name, name)) continue;
    std::string_view v = f.value;
    while (!v.empty()) {
      size_t comma = v.find(',');
      std::string_view item = TrimOws(v.substr(0, comma));
      if (!item.empty()) out.push_back(Lower(item));
      if (comma == std::string_view::npos) break;
      v.remove_prefix(comma + 1);
    }
  }
  return out;
}

bool HasToken(const HeaderList& headers, std::string_view name, std::string_view token) {
  for (const std::string& t : HeaderTokens(headers, name))
    if (EqualsNoCase(t, token)) return true;
  return false;
}

bool IsHopByHop(std::string_view name, const std::vector<std::string>& connectionTokens) {
  static constexpr std::string_view kFixed[] = {"connection", "keep-alive", "proxy-connection",
                                                 "proxy-authenticate", "proxy-authorization", "te",
                                                 "trailer", "transfer-encoding", "upgrade"};
  for (std::string_view f : kFixed)
    if (EqualsNoCase(name, f)) return true;
  for (const std::string& t : connectionTokens)
    if (EqualsNoCase(name, t)) return true;
  return false;
}

HeaderList EndToEndHeaders(const HeaderList& headers, std::initializer_list<std::string_view> alsoDrop) {
  std::vector<std::string> tokens = HeaderTokens(headers, "connection");
  std::vector<std::string> more = HeaderTokens(headers, "proxy-connection");
  tokens.insert(tokens.end(), more.begin(), more.end());
  HeaderList out;
  for (const HeaderField& f : headers) {
    if (IsHopByHop(f.name, tokens)) continue;
    bool drop = false;
    for (std::string_view d : alsoDrop) drop = drop || EqualsNoCase(f.name, d);
    if (!drop) out.push_back(f);
  }
  return out;
}

namespace {

// Content-Length fields: every element of every field must be the same
// decimal number.
bool ContentLength(const HeaderList& headers, bool& present, uint64_t& length, std::string& error) {
  present = false;
  for (const HeaderField& f : headers) {
    if (!EqualsNoCase(f.name, "content-length")) continue;
    std::string_view v = f.value;
    for (;;) {
      size_t comma = v.find(',');
      uint64_t n = 0;
      if (!ParseDecimal(TrimOws(v.substr(0, comma)), n)) {
        error = "malformed Content-Length";
        return false;
      }
      if (present && n != length) {
        error = "differing Content-Length values";
        return false;
      }
      present = true;
      length = n;
      if (comma == std::string_view::npos) break;
      v.remove_prefix(comma + 1);
    }
  }
  return true;
}

}  // namespace

bool RequestBodyFraming(const RequestHead& head, BodyFraming& out, std::string& error) {
  bool hasCl = false;
  uint64_t cl = 0;
  if (!ContentLength(head.headers, hasCl, cl, error)) return false;
  bool hasTe = FindHeader(head.headers, "transfer-encoding") != nullptr;
  if (hasTe) {
    if (hasCl) {
      error = "both Content-Length and Transfer-Encoding";
      return false;
    }
    if (head.version == 10) {
      error = "Transfer-Encoding in an HTTP/1.0 request";
      return false;
    }
    std::vector<std::string> codings = HeaderTokens(head.headers, "transfer-encoding");
    if (codings.size() != 1 || codings[0] != "chunked") {
      error = "Transfer-Encoding other than chunked";
      return false;
    }
    out = {BodyKind::kChunked, 0};
    return true;
  }
  if (hasCl && cl > 0) {
    out = {BodyKind::kLength, cl};
  } else {
    out = {BodyKind::kNone, 0};
  }
  return true;
}

bool ResponseBodyFraming(const ResponseHead& head, std::string_view requestMethod, BodyFraming& out,
                         std::string& error) {
  if (EqualsNoCase(requestMethod, "HEAD") || head.status / 100 == 1 || head.status == 204 ||
      head.status == 304) {
    out = {BodyKind::kNone, 0};
    return true;
  }
  bool hasCl = false;
  uint64_t cl = 0;
  if (!ContentLength(head.headers, hasCl, cl, error)) return false;
  if (FindHeader(head.headers, "transfer-encoding") != nullptr) {
    std::vector<std::string> codings = HeaderTokens(head.headers, "transfer-encoding");
    if (hasCl) {
      error = "both Content-Length and Transfer-Encoding";
      return false;
    }
    if (!codings.empty() && codings.back() == "chunked") {
      if (codings.size() != 1) {
        error = "unsupported transfer coding";
        return false;
      }
      out = {BodyKind::kChunked, 0};
    } else {
      out = {BodyKind::kUntilClose, 0};
    }
    return true;
  }
  if (hasCl) {
    out = {cl ? BodyKind::kLength : BodyKind::kNone, cl};
  } else {
    out = {BodyKind::kUntilClose, 0};
  }
  return true;
}

void ChunkedDecoder::Step(char c) {
  auto hex = [](char h) -> int {
    if (h >= '0' && h <= '9') return h - '0';
    if (h >= 'a' && h <= 'f') return h - 'a' + 10;
    if (h >= 'A' && h <= 'F') return h - 'A' + 10;
    return -1;
  };
  constexpr size_t kMaxLine = 4096;
  constexpr size_t kMaxTrailer = 16 * 1024;
  switch (state_) {
    case State::kSize: {
      int d = hex(c);
      if (d >= 0) {
        if (++digits_ > 15) {
          state_ = State::kBad;
          return;
        }
        remaining_ = remaining_ * 16 + static_cast<uint64_t>(d);
      } else if (digits_ > 0 && (c == ';' || c == ' ' || c == '\t')) {
        state_ = State::kSizeExt;
        lineLength_ = 0;
      } else if (digits_ > 0 && c == '\r') {
        state_ = State::kSizeLf;
      } else {
        state_ = State::kBad;
      }
      return;
    }
    case State::kSizeExt:
      if (c == '\r') {
        state_ = State::kSizeLf;
      } else if (c == '\n' || ++lineLength_ > kMaxLine) {
        state_ = State::kBad;
      }
      return;
    case State::kSizeLf:
      if (c != '\n') {
        state_ = State::kBad;
      } else if (remaining_ == 0) {
        state_ = State::kTrailer;
        lineLength_ = 0;
      } else {
        state_ = State::kData;
        digits_ = 0;
      }
      return;
    case State::kDataCr:
      state_ = c == '\r' ? State::kDataLf : State::kBad;
      return;
    case State::kDataLf:
      state_ = c == '\n' ? State::kSize : State::kBad;
      remaining_ = 0;
      digits_ = 0;
      return;
    case State::kTrailer:
      if (++trailerBytes_ > kMaxTrailer) {
        state_ = State::kBad;
      } else if (c == '\r') {
        state_ = State::kTrailerLf;
      } else if (c == '\n') {
        state_ = State::kBad;
      } else {
        ++lineLength_;
      }
      return;
    case State::kTrailerLf:
      if (c != '\n') {
        state_ = State::kBad;
      } else if (lineLength_ == 0) {
        state_ = State::kDone;
      } else {
        state_ = State::kTrailer;
        lineLength_ = 0;
      }
      return;
    default:
      return;
  }
}

bool ParseAbsoluteUrl(std::string_view url, UrlParts& out) {
  size_t sep = url.find("://");
  if (sep == std::string_view::npos) return false;
  std::string scheme = Lower(url.substr(0, sep));
  uint16_t defaultPort = 0;
  if (scheme == "http") {
    defaultPort = 80;
  } else if (scheme == "https") {
    defaultPort = 443;
  } else {
    return false;
  }
  std::string_view rest = url.substr(sep + 3);
  size_t slash = rest.find_first_of("/?");
  std::string_view authority = rest.substr(0, slash);
  std::string_view path = slash == std::string_view::npos ? std::string_view() : rest.substr(slash);
  if (authority.empty() || authority.find('@') != std::string_view::npos ||
      path.find('#') != std::string_view::npos)
    return false;
  std::string_view host = authority;
  std::string_view portText;
  if (authority.front() == '[') {
    size_t close = authority.find(']');
    if (close == std::string_view::npos || close == 1) return false;
    host = authority.substr(0, close + 1);
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return false;
      portText = after.substr(1);
    }
    for (char c : host.substr(1, host.size() - 2))
      if (!((c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') || c == ':' || c == '.'))
        return false;
  } else {
    size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos) {
      host = authority.substr(0, colon);
      portText = authority.substr(colon + 1);
    }
    if (host.empty()) return false;
    for (unsigned char c : host)
      if (!(IsTokenChar(c) && c != '%' && c != '|' && c != '^' && c != '`')) return false;
  }
  uint16_t port = defaultPort;
  if (!portText.empty()) {
    uint64_t p = 0;
    if (!ParseDecimal(portText, p) || p == 0 || p > 65535) return false;
    port = static_cast<uint16_t>(p);
  } else if (authority.back() == ':') {
    return false;
  }
  out.scheme = scheme;
  out.host = std::string(host);
  out.port = port;
  out.path.clear();
  if (path.empty() || path.front() == '?') out.path.push_back('/');
  out.path.append(path);
  return true;
}

bool ParseListenAddress(std::string_view text, std::string& ip, uint16_t& port) {
  text = TrimOws(text);
  size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  std::string_view host = text.substr(0, colon);
  uint64_t p = 0;
  if (!ParseDecimal(text.substr(colon + 1), p) || p == 0 || p > 65535) return false;
  // dotted quad, each part 0..255
  int parts = 0;
  std::string_view h = host;
  while (true) {
    size_t dot = h.find('.');
    uint64_t v = 0;
    std::string_view part = h.substr(0, dot);
    if (part.size() > 3 || !ParseDecimal(part, v) || v > 255) return false;
    ++parts;
    if (dot == std::string_view::npos) break;
    h.remove_prefix(dot + 1);
  }
  if (parts != 4) return false;
  ip = std::string(host);
  port = static_cast<uint16_t>(p);
  return true;
}

}  // namespace tunnel
