#include "package/proxy/relay.h"

namespace tunnel {

HeaderList FetchHeaders(const RequestHead& request) {
  return EndToEndHeaders(request.headers, {"host", "content-length", "expect"});
}

bool ClientWantsClose(const RequestHead& request) {
  if (HasToken(request.headers, "connection", "close")) return true;
  if (request.version == 10) {
    return !HasToken(request.headers, "connection", "keep-alive") &&
           !HasToken(request.headers, "proxy-connection", "keep-alive");
  }
  return false;
}

bool PlanClientResponse(const ResponseHead& target, std::string_view requestMethod, int clientVersion,
                        bool clientWantsClose, ClientResponsePlan& out) {
  if (target.status < 200 || target.status > 999) return false;
  out = ClientResponsePlan();
  out.close = clientWantsClose;
  HeaderList fields = EndToEndHeaders(target.headers);
  bool bodiless = EqualsNoCase(requestMethod, "HEAD") || target.status == 204 || target.status == 304;
  bool hadTe = FindHeader(target.headers, "transfer-encoding") != nullptr;
  if (bodiless) {
    out.framing = BodyKind::kNone;
  } else {
    BodyFraming framing;
    std::string err;
    ResponseHead copy;
    copy.status = target.status;
    copy.headers = target.headers;
    if (!hadTe && ResponseBodyFraming(copy, requestMethod, framing, err) &&
        (framing.kind == BodyKind::kLength || framing.kind == BodyKind::kNone) &&
        FindHeader(target.headers, "content-length") != nullptr) {
      out.framing = BodyKind::kLength;
      out.length = framing.length;
    } else {
      HeaderList kept;
      for (HeaderField& f : fields)
        if (!EqualsNoCase(f.name, "content-length")) kept.push_back(std::move(f));
      fields = std::move(kept);
      if (clientVersion >= 11) {
        out.framing = BodyKind::kChunked;
        fields.push_back({"Transfer-Encoding", "chunked"});
      } else {
        out.framing = BodyKind::kUntilClose;
        out.close = true;
      }
    }
  }
  if (out.close) fields.push_back({"Connection", "close"});
  std::string& h = out.head;
  h.reserve(256 + fields.size() * 48);
  h.append("HTTP/1.1 ").append(std::to_string(target.status)).append(" ").append(target.reason).append("\r\n");
  for (const HeaderField& f : fields) h.append(f.name).append(": ").append(f.value).append("\r\n");
  h.append("\r\n");
  return true;
}

std::string HtmlEscape(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default:
        if (static_cast<unsigned char>(c) >= 0x20 || c == '\t') out.push_back(c);
    }
  }
  return out;
}

std::string ProxyPage(int status, std::string_view reason, std::string_view title, std::string_view detail,
                      bool close) {
  std::string code = std::to_string(status);
  std::string body;
  body.append("<!DOCTYPE html>\n<html><head><meta charset=\"gbk\"><title>")
      .append(code).append(" ").append(HtmlEscape(title))
      .append("</title></head>\n<body><h1>").append(code).append(" ").append(HtmlEscape(title))
      .append("</h1>\n<p>").append(HtmlEscape(detail))
      .append("</p>\n<hr><p>Corvalen 本地代理 (127.0.0.1)</p></body></html>\n");
  std::string out;
  out.append("HTTP/1.1 ").append(code).append(" ").append(reason).append("\r\n");
  out.append("Content-Type: text/html; charset=gbk\r\n");
  out.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n");
  out.append("Cache-Control: no-store\r\n");
  out.append("X-Corvalen-Proxy: ").append(code).append("\r\n");
  if (close) out.append("Connection: close\r\n");
  out.append("\r\n").append(body);
  return out;
}

}  // namespace tunnel
