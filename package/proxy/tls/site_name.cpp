#include "package/proxy/tls/site_name.h"

#include <cstdint>
#include <vector>

namespace tunnel {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseDnsName(std::string_view text, std::string& out) {
  if (!text.empty() && text.back() == '.') text.remove_suffix(1);
  if (text.empty() || text.size() > 253) return false;
  out.clear();
  size_t label = 0;
  for (char c : text) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
      out.push_back(c);
      continue;
    }
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '-' || c == '_';
    if (!ok || ++label > 63) return false;
    out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  return label > 0;
}

// DER length octets.
void AppendLength(std::string& out, size_t n) {
  if (n < 0x80) {
    out.push_back(static_cast<char>(n));
  } else if (n < 0x100) {
    out.push_back(static_cast<char>(0x81));
    out.push_back(static_cast<char>(n));
  } else {
    out.push_back(static_cast<char>(0x82));
    out.push_back(static_cast<char>(n >> 8));
    out.push_back(static_cast<char>(n & 0xff));
  }
}

}  // namespace

bool ParseIpv4(std::string_view text, std::string& bytes) {
  bytes.clear();
  size_t i = 0;
  for (int part = 0; part < 4; ++part) {
    if (part > 0) {
      if (i >= text.size() || text[i] != '.') return false;
      ++i;
    }
    size_t start = i;
    unsigned value = 0;
    while (i < text.size() && IsDigit(text[i]) && i - start < 3) value = value * 10 + (text[i++] - '0');
    size_t len = i - start;
    if (len == 0 || value > 255 || (len > 1 && text[start] == '0')) return false;
    bytes.push_back(static_cast<char>(value));
  }
  return i == text.size();
}

bool ParseIpv6(std::string_view text, std::string& bytes) {
  bytes.clear();
  std::vector<uint16_t> head, tail;
  bool gap = false;
  std::string v4;
  size_t i = 0;
  if (text.substr(0, 2) == "::") {
    gap = true;
    i = 2;
  } else if (!text.empty() && text[0] == ':') {
    return false;
  }
  while (i < text.size()) {
    std::vector<uint16_t>& groups = gap ? tail : head;
    // A dotted IPv4 tail takes the last 32 bits.
    size_t end = text.find(':', i);
    std::string_view piece = text.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
    if (end == std::string_view::npos && piece.find('.') != std::string_view::npos) {
      if (!ParseIpv4(piece, v4)) return false;
      i = text.size();
      break;
    }
    if (piece.empty() || piece.size() > 4) return false;
    unsigned value = 0;
    for (char c : piece) {
      int h = HexValue(c);
      if (h < 0) return false;
      value = value * 16 + static_cast<unsigned>(h);
    }
    groups.push_back(static_cast<uint16_t>(value));
    i += piece.size();
    if (i == text.size()) break;
    // Here text[i] == ':'.
    if (i + 1 < text.size() && text[i + 1] == ':') {
      if (gap) return false;
      gap = true;
      i += 2;
    } else {
      ++i;
      if (i == text.size()) return false;  // a trailing single ':'
    }
  }
  size_t words = head.size() + tail.size() + (v4.empty() ? 0 : 2);
  if (gap ? words > 7 : words != 8) return false;
  std::vector<uint16_t> all = head;
  all.resize(8 - tail.size() - (v4.empty() ? 0 : 2), 0);
  all.insert(all.end(), tail.begin(), tail.end());
  for (uint16_t w : all) {
    bytes.push_back(static_cast<char>(w >> 8));
    bytes.push_back(static_cast<char>(w & 0xff));
  }
  bytes += v4;
  return bytes.size() == 16;
}

bool ParseSiteName(std::string_view host, SiteName& out) {
  out = SiteName{};
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    std::string_view inner = host.substr(1, host.size() - 2);
    if (!ParseIpv6(inner, out.ipBytes)) return false;
    static const char kHex[] = "0123456789abcdef";
    for (size_t i = 0; i < 16; i += 2) {
      if (i) out.host.push_back(':');
      for (int k = 0; k < 2; ++k) {
        unsigned char b = static_cast<unsigned char>(out.ipBytes[i + k]);
        out.host.push_back(kHex[b >> 4]);
        out.host.push_back(kHex[b & 15]);
      }
    }
    out.isIp = true;
    return true;
  }
  if (ParseIpv4(host, out.ipBytes)) {
    out.host.assign(host);
    out.isIp = true;
    return true;
  }
  out.ipBytes.clear();
  // A name of digits and dots only that is not an IPv4 address is refused:
  // clients would read it as an address, never as a name.
  bool numeric = !host.empty();
  for (char c : host) numeric = numeric && (IsDigit(c) || c == '.');
  if (numeric) return false;
  return ParseDnsName(host, out.host);
}

std::string SiteCacheFileName(const SiteName& site) {
  std::string name = "site_";
  if (site.isIp && site.ipBytes.size() == 16) {
    name += "ipv6_";
    for (char c : site.host) name.push_back(c == ':' ? '-' : c);
  } else {
    name += site.host;
  }
  return name + ".pem";
}

std::string SubjectAltNameDer(const SiteName& site) {
  std::string general;
  if (site.isIp) {
    general.push_back(static_cast<char>(0x87));  // [7] iPAddress, OCTET STRING
    AppendLength(general, site.ipBytes.size());
    general += site.ipBytes;
  } else {
    general.push_back(static_cast<char>(0x82));  // [2] dNSName, IA5String
    AppendLength(general, site.host.size());
    general += site.host;
  }
  std::string der(1, static_cast<char>(0x30));  // GeneralNames ::= SEQUENCE OF GeneralName
  AppendLength(der, general.size());
  return der + general;
}

}  // namespace tunnel
