// Names of the sites the proxy makes certificates for: the host of a CONNECT
// request in one canonical form, whether it is an IP literal, and the name of
// its file in the certificate cache. Portable.
#pragma once

#include <string>
#include <string_view>

namespace tunnel {

struct SiteName {
  std::string host;     // lower-case DNS name, dotted IPv4, or IPv6 without brackets in full hex form
  bool isIp = false;
  std::string ipBytes;  // 4 or 16 bytes in network order when isIp
};

// Parses the host of a CONNECT target ("example.com", "127.0.0.1", "[::1]"):
// ASCII letters are lowered, one trailing dot of a DNS name is dropped. Refuses
// anything that is not a DNS name of letters, digits, '-' and '_' in labels of
// 1..63 bytes (at most 253 in all) or an IP literal.
bool ParseSiteName(std::string_view host, SiteName& out);

// Four dotted decimal parts, each 0..255 without leading zeros.
bool ParseIpv4(std::string_view text, std::string& bytes);
// RFC 4291 text form, with at most one "::" and an optional dotted IPv4 tail.
bool ParseIpv6(std::string_view text, std::string& bytes);

// The cache file of a site, e.g. "site_example.com.pem". The prefix keeps
// names such as "con" or "nul" from naming a device on Windows.
std::string SiteCacheFileName(const SiteName& site);

// The DER value of a subjectAltName extension naming exactly this site: one
// dNSName, or one iPAddress.
std::string SubjectAltNameDer(const SiteName& site);

}  // namespace tunnel
