#include "package/proxy/tls/proxy_tls_win.h"

namespace tunnel {

std::unique_ptr<ProxyTls> StartProxyTls(const std::string& packageFolder) {
  auto tls = std::make_unique<ProxyTls>();
  tls->caFolder = DefaultCaFolder();
  if (tls->caFolder.empty()) {
    tls->problem = "the user's application-data folder is not available for the local CA";
    return tls;
  }
  bool created = false;
  tls->ca = LoadOrCreateCa(tls->caFolder, created, tls->problem);
  if (!tls->ca) return tls;
  tls->files = std::make_unique<FolderCertFiles>(packageFolder + "\\certs");
  tls->sites = std::make_unique<SiteCertCache>(*tls->ca, tls->files.get());
  return tls;
}

}  // namespace tunnel
