// A small CONNECT endpoint for tests of the TLS layer under Wine: it answers
// CONNECT host:port with 200, ends TLS with a certificate for that host from
// the local CA, and answers the HTTP requests inside itself (no fetch server):
//   /bytes/N   N bytes of a fixed pattern (the test's Python side makes the same)
//   *.html     a small HTML page naming the host and path
//   /quit      ends the server
//   otherwise  "host=... method=... path=... length=... sha256=..." of the request
// Usage: tls_connect_server CA_FOLDER CERTS_FOLDER PORT_FILE
// It prints "ca created|loaded FINGERPRINT" and one "cert HOST MICROSECONDS"
// line per site certificate it fetched, and ends by itself after 60 s without
// a connection.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <mbedtls/sha256.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "package/proxy/tls/tls_files_win.h"
#include "package/proxy/tls/tls_stream.h"

using namespace tunnel;

namespace {

std::atomic<bool> g_stop{false};
std::atomic<long long> g_lastActivity{0};
std::mutex g_printMutex;

long long NowSeconds() { return static_cast<long long>(GetTickCount64() / 1000); }

void Say(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_printMutex);
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    s[i] = static_cast<char>((x >> 16) & 0xff);
  }
  return s;
}

std::string Sha256Hex(const std::string& data) {
  unsigned char d[32];
  mbedtls_sha256_ret(reinterpret_cast<const unsigned char*>(data.data()), data.size(), d, 0);
  static const char k[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : d) {
    out.push_back(k[c >> 4]);
    out.push_back(k[c & 15]);
  }
  return out;
}

bool SendText(SOCKET s, const std::string& text) {
  SocketTransport t(s);
  return t.SendAll(text.data(), text.size());
}

// Splits "host:port" / "[v6]:port" into the host part.
std::string ConnectHost(const std::string& target) {
  if (!target.empty() && target[0] == '[') {
    size_t close = target.find(']');
    return close == std::string::npos ? std::string() : target.substr(0, close + 1);
  }
  size_t colon = target.rfind(':');
  return colon == std::string::npos ? target : target.substr(0, colon);
}

std::string HeaderValue(const std::string& head, const char* name) {
  std::string lower = head;
  for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  std::string key = std::string("\r\n") + name + ":";
  size_t at = lower.find(key);
  if (at == std::string::npos) return {};
  size_t start = at + key.size();
  size_t end = head.find("\r\n", start);
  std::string v = head.substr(start, end - start);
  while (!v.empty() && v.front() == ' ') v.erase(v.begin());
  return v;
}

void Serve(SOCKET s, SiteCertCache& cache) {
  DWORD timeout = 10000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
  BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  std::string head;
  char c;
  while (head.size() < 8192 && head.find("\r\n\r\n") == std::string::npos) {
    if (recv(s, &c, 1, 0) != 1) return;
    head.push_back(c);
  }
  if (head.compare(0, 8, "CONNECT ") != 0) {
    SendText(s, "HTTP/1.1 405 Method Not Allowed\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    return;
  }
  std::string target = head.substr(8, head.find(' ', 8) - 8);
  std::string host = ConnectHost(target);
  auto t0 = std::chrono::steady_clock::now();
  std::string error;
  auto cert = cache.Get(host, error);
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count();
  if (!cert) {
    SendText(s, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    Say("refused " + host + ": " + error);
    return;
  }
  Say("cert " + host + " " + std::to_string(us));
  if (!SendText(s, "HTTP/1.1 200 Connection established\r\n\r\n")) return;

  SocketTransport transport(s);
  TlsServerStream tls(transport);
  TlsAccept accepted = tls.Accept(cert);
  if (accepted == TlsAccept::kNotTls) {
    SendText(s,
             "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain; charset=utf-8\r\nConnection: close\r\n"
             "Content-Length: 36\r\n\r\nonly TLS can pass after CONNECT here");
    Say("not tls " + host);
    return;
  }
  if (accepted != TlsAccept::kOk) {
    Say("handshake failed " + host + ": " + tls.Error());
    return;
  }
  std::string buf;
  std::unique_ptr<char[]> chunk(new char[1 << 20]);
  for (;;) {
    size_t end;
    while ((end = buf.find("\r\n\r\n")) == std::string::npos) {
      if (buf.size() > 65536) return;
      long n = tls.Read(chunk.get(), 1 << 20);
      if (n <= 0) {
        tls.Close();
        return;
      }
      buf.append(chunk.get(), static_cast<size_t>(n));
    }
    std::string reqHead = buf.substr(0, end + 2);
    buf.erase(0, end + 4);
    size_t sp1 = reqHead.find(' '), sp2 = reqHead.find(' ', sp1 + 1);
    std::string method = reqHead.substr(0, sp1), path = reqHead.substr(sp1 + 1, sp2 - sp1 - 1);
    size_t length = static_cast<size_t>(std::strtoull(HeaderValue(reqHead, "content-length").c_str(), nullptr, 10));
    while (buf.size() < length) {
      long n = tls.Read(chunk.get(), 1 << 20);
      if (n <= 0) return;
      buf.append(chunk.get(), static_cast<size_t>(n));
    }
    std::string body = buf.substr(0, length);
    buf.erase(0, length);
    std::string answer;
    std::string type = "application/octet-stream";
    if (path.size() > 5 && path.compare(path.size() - 5, 5, ".html") == 0) {
      type = "text/html; charset=utf-8";
      answer = "<!DOCTYPE html><html><head><title>TLS test</title></head><body><p id=\"t\">TLS page of " + host +
               " at " + path + "</p></body></html>";
    } else if (path.compare(0, 7, "/bytes/") == 0) {
      answer = Pattern(static_cast<size_t>(std::strtoull(path.c_str() + 7, nullptr, 10)));
    } else {
      answer = "host=" + host + " method=" + method + " path=" + path + " length=" + std::to_string(body.size()) +
               " sha256=" + Sha256Hex(body) + "\n";
    }
    bool close = HeaderValue(reqHead, "connection") == "close" || path == "/quit";
    std::string response = "HTTP/1.1 200 OK\r\nContent-Type: " + type + "\r\nContent-Length: " +
                           std::to_string(answer.size()) + "\r\n" + (close ? "Connection: close\r\n" : "") + "\r\n";
    if (!tls.Write(response.data(), response.size()) || !tls.WriteAll(answer.data(), answer.size())) {
      Say("write failed " + host + ": " + tls.Error());
      return;
    }
    if (path == "/quit") g_stop = true;
    if (close) {
      tls.Close();
      return;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: tls_connect_server CA_FOLDER CERTS_FOLDER PORT_FILE\n");
    return 2;
  }
  bool created = false;
  std::string error;
  auto ca = LoadOrCreateCa(argv[1], created, error);
  if (!ca) {
    std::fprintf(stderr, "CA: %s\n", error.c_str());
    return 1;
  }
  Say(std::string("ca ") + (created ? "created " : "loaded ") + ca->Fingerprint());
  FolderCertFiles files(argv[2]);
  SiteCertCache cache(*ca, &files);

  WSADATA wsa;
  WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listener, SOMAXCONN) != 0) return 1;
  int len = sizeof addr;
  getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  std::string portText = std::to_string(ntohs(addr.sin_port));
  std::string error2;
  if (!WriteFileAtomically(argv[3], portText, false, error2)) return 1;
  Say("port " + portText);
  g_lastActivity = NowSeconds();
  while (!g_stop && NowSeconds() - g_lastActivity < 60) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(listener, &set);
    timeval tv{0, 200000};
    if (select(0, &set, nullptr, nullptr, &tv) <= 0) continue;
    SOCKET c = accept(listener, nullptr, nullptr);
    if (c == INVALID_SOCKET) continue;
    g_lastActivity = NowSeconds();
    std::thread([c, &cache] {
      Serve(c, cache);
      shutdown(c, SD_SEND);
      closesocket(c);
      g_lastActivity = NowSeconds();
    }).detach();
  }
  closesocket(listener);
  Sleep(200);  // let connections that are finishing send their last bytes
  return 0;
}
