// Local forward proxy of the tunnel service package (image name python27.exe).
// It reads section "php" of proxy.ini in its own folder, listens only on the
// configured address, and passes every browser request through the fetch
// server. It has no window and no console.
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "common/module_path.h"
#include "package/proxy/config.h"
#include "package/proxy/net_win.h"
#include "package/proxy/relay.h"
#include "package/proxy/session_win.h"
#include "package/proxy/upstream.h"

namespace {

constexpr int kMaxClients = 256;
std::atomic<int> g_clients{0};

std::string ModuleFolder() {
  char path[MAX_PATH * 2];
  DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  if (n == 0 || n >= sizeof path) return {};
  return SplitModulePath(std::string(path, n)).dir;
}

tunnel::ProxyConfig LoadConfig(const std::string& iniPath) {
  return tunnel::ParseProxyConfig([&](const char* key, const char* def) {
    char value[4096];
    DWORD n = GetPrivateProfileStringA("php", key, def, value, sizeof value, iniPath.c_str());
    return std::string(value, n);
  });
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::string folder = ModuleFolder();
  if (folder.empty()) return 1;
  static tunnel::SessionSettings settings;
  settings.config = LoadConfig(folder + "\\proxy.ini");
  if (!settings.config.enable) return 0;

  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
  tunnel::Socket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!listener) return 1;
  // Exclusive use: a second proxy on the same address must fail, not share it.
  BOOL exclusive = TRUE;
  setsockopt(listener.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof exclusive);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(settings.config.listenPort);
  if (inet_pton(AF_INET, settings.config.listenIp.c_str(), &addr.sin_addr) != 1) return 1;
  if (bind(listener.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 2;
  if (listen(listener.Get(), SOMAXCONN) != 0) return 2;

  for (;;) {
    SOCKET c = accept(listener.Get(), nullptr, nullptr);
    if (c == INVALID_SOCKET) {
      if (WSAGetLastError() == WSAEMFILE || WSAGetLastError() == WSAENOBUFS) Sleep(50);
      continue;
    }
    if (g_clients.load() >= kMaxClients) {
      std::string page = tunnel::ProxyPage(503, "Service Unavailable", "Too many connections",
                                           "the proxy serves at most 256 connections at once", true);
      tunnel::SendAll(c, page.data(), page.size());
      closesocket(c);
      continue;
    }
    ++g_clients;
    try {
      std::thread([c] {
        tunnel::ServeClient(c, settings);
        --g_clients;
      }).detach();
    } catch (...) {
      --g_clients;
      closesocket(c);
    }
  }
}
