// What the proxy needs to carry HTTPS through the fetch server, apart from
// TLS itself: the CONNECT target, the https:// URL of a request made inside
// the tunnel, and the proxy's own pages that hand out the local CA.
// Portable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tunnel {

// "host:port" of a CONNECT request ("[v6]:port" for IPv6); the port must be
// there and lie in 1..65535. The host comes back as written.
bool ParseConnectTarget(std::string_view target, std::string& host, uint16_t& port);

// "https://host" or "https://host:port" (the port only when it is not 443).
std::string HttpsOrigin(std::string_view host, uint16_t port);

// The URL a request inside a tunnel to host:port stands for: origin-form
// "/path?query" is appended to the tunnel's origin; an absolute https URL is
// taken when it names the same host and port. False with `error` otherwise
// (asterisk-form, authority-form, another site, a plain http URL).
bool TunnelRequestUrl(std::string_view target, std::string_view host, uint16_t port, std::string& url,
                      std::string& error);

// The proxy's own pages, asked for either directly (origin-form, as a
// browser does for an address it does not proxy) or as an absolute URL of
// the proxy's own listen address:
//   "/" and "/ca"  a short page on trusting the local CA on Windows
//   "/ca.crt"      the CA certificate (PEM)
enum class LocalPage { kNone, kHelp, kCaCert };
LocalPage FindLocalPage(std::string_view target, std::string_view listenIp, uint16_t listenPort);

// Complete responses. `headOnly` leaves the body out (HEAD), `close` adds
// "Connection: close". The help page is UTF-8 and says so.
std::string CaCertResponse(const std::string& certPem, bool headOnly, bool close);
std::string CaHelpResponse(std::string_view listenAddress, std::string_view fingerprint,
                           std::string_view caFolder, bool headOnly, bool close);

}  // namespace tunnel
