#include "package/proxy/tls/https_requests.h"

#include "package/proxy/http_parse.h"
#include "package/proxy/relay.h"

namespace tunnel {
namespace {

bool ParsePort(std::string_view text, uint16_t& port) {
  if (text.empty() || text.size() > 5) return false;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (value == 0 || value > 65535) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

// UTF-8 bytes of a u8 literal as a plain string.
std::string U8(std::u8string_view s) { return std::string(s.begin(), s.end()); }

std::string Head(std::string_view status, std::string_view type, size_t length, bool close,
                 std::string_view extra = {}) {
  std::string out = "HTTP/1.1 ";
  out.append(status).append("\r\nContent-Type: ").append(type).append("\r\nContent-Length: ");
  out.append(std::to_string(length)).append("\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n");
  out.append(extra);
  if (close) out.append("Connection: close\r\n");
  return out.append("\r\n");
}

}  // namespace

bool ParseConnectTarget(std::string_view target, std::string& host, uint16_t& port) {
  size_t colon;
  if (!target.empty() && target[0] == '[') {
    size_t close = target.find(']');
    if (close == std::string_view::npos || close + 1 >= target.size() || target[close + 1] != ':') return false;
    colon = close + 1;
  } else {
    colon = target.rfind(':');
    if (colon == std::string_view::npos || target.substr(0, colon).find(':') != std::string_view::npos) return false;
  }
  if (colon == 0 || !ParsePort(target.substr(colon + 1), port)) return false;
  host.assign(target.substr(0, colon));
  return true;
}

std::string HttpsOrigin(std::string_view host, uint16_t port) {
  std::string out = "https://";
  out.append(host);
  if (port != 443) out.append(":").append(std::to_string(port));
  return out;
}

bool TunnelRequestUrl(std::string_view target, std::string_view host, uint16_t port, std::string& url,
                      std::string& error) {
  if (!target.empty() && target[0] == '/') {
    url = HttpsOrigin(host, port);
    url.append(target);
    return true;
  }
  UrlParts parts;
  if (ParseAbsoluteUrl(target, parts) && parts.scheme == "https") {
    if (EqualsNoCase(parts.host, host) && parts.port == port) {
      url.assign(target);
      return true;
    }
    error = "a request inside the tunnel to " + std::string(host) + " names another site";
    return false;
  }
  error = "the request target inside the tunnel is not a path";
  return false;
}

LocalPage FindLocalPage(std::string_view target, std::string_view listenIp, uint16_t listenPort) {
  if (target.empty() || target[0] != '/') {
    UrlParts parts;
    if (!ParseAbsoluteUrl(target, parts) || parts.scheme != "http" || parts.port != listenPort) return LocalPage::kNone;
    bool self = parts.host == listenIp || (listenIp == "127.0.0.1" && EqualsNoCase(parts.host, "localhost"));
    if (!self) return LocalPage::kNone;
    return FindLocalPage(parts.path, listenIp, listenPort);
  }
  std::string_view path = target.substr(0, target.find_first_of("?#"));
  if (path == "/" || path == "/ca" || path == "/ca/") return LocalPage::kHelp;
  if (path == "/ca.crt") return LocalPage::kCaCert;
  return LocalPage::kNone;
}

std::string CaCertResponse(const std::string& certPem, bool headOnly, bool close) {
  std::string out = Head("200 OK", "application/x-x509-ca-cert", certPem.size(), close,
                         "Content-Disposition: attachment; filename=\"corvalen-ca.crt\"\r\n");
  if (!headOnly) out.append(certPem);
  return out;
}

std::string CaHelpResponse(std::string_view listenAddress, std::string_view fingerprint, std::string_view caFolder,
                           bool headOnly, bool close) {
  std::string addr = HtmlEscape(listenAddress);
  std::string body;
  body += U8(u8"<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
             u8"<title>Corvalen 本地代理证书</title></head>\n<body>\n<h1>Corvalen 本地代理证书</h1>\n"
             u8"<p>经本代理访问 HTTPS 网站时，代理在本机用自己的证书颁发机构（CA）为每个网站签发证书。"
             u8"浏览器信任这个 CA 之后，HTTPS 网站才能正常打开。这个 CA 是在本机首次使用时生成的，"
             u8"别人的电脑上没有同一个 CA。</p>\n<p><a href=\"http://");
  body += addr;
  body += U8(u8"/ca.crt\">下载证书 ca.crt</a></p>\n<h2>在 Windows 上信任它</h2>\n<ol>\n"
             u8"<li>下载 ca.crt 并双击打开，点击“安装证书”。</li>\n"
             u8"<li>选择“当前用户”，再选“将所有的证书都放入下列存储”，浏览并选择“受信任的根证书颁发机构”。</li>\n"
             u8"<li>点击“完成”，在安全警告中确认指纹与下面一致后点击“是”。</li>\n"
             u8"<li>重新启动浏览器。Firefox 使用自己的证书库：设置 → 隐私与安全 → 证书 → 查看证书 → 证书颁发机构 → 导入。</li>\n"
             u8"</ol>\n<p>也可以在命令提示符中执行：<code>certutil -user -addstore Root ca.crt</code></p>\n"
             u8"<p>SHA-256 指纹：<code>");
  body += HtmlEscape(fingerprint);
  body += U8(u8"</code></p>\n<p>私钥只保存在本机（");
  body += HtmlEscape(caFolder);
  body += U8(u8"），只有当前用户可以读取。不要把它发给别人；不再使用本代理时，可以在证书管理器（certmgr.msc）中删除这个证书。</p>\n"
             u8"<hr><p lang=\"en\">Corvalen local proxy: download <a href=\"/ca.crt\">ca.crt</a>, open it, choose "
             u8"Install Certificate, Current User, and place it in Trusted Root Certification Authorities.</p>\n"
             u8"</body></html>\n");
  std::string out = Head("200 OK", "text/html; charset=utf-8", body.size(), close);
  if (!headOnly) out.append(body);
  return out;
}

}  // namespace tunnel
