// The proxy's HTTPS state, made once at start-up: this user's local CA and
// the cache of site certificates (memory, and the package's "certs" folder).
// Windows only.
#pragma once

#include <memory>
#include <string>

#include "package/proxy/tls/cert_authority.h"
#include "package/proxy/tls/tls_files_win.h"

namespace tunnel {

struct ProxyTls {
  std::string caFolder;                   // %APPDATA%\Corvalen
  std::unique_ptr<CertAuthority> ca;      // null when HTTPS is unavailable
  std::unique_ptr<FolderCertFiles> files;
  std::unique_ptr<SiteCertCache> sites;
  std::string problem;                    // why `ca` is null
};

// Loads or makes the CA; site certificates go to packageFolder\certs.
// Always returns a state; without a CA, `problem` says why.
std::unique_ptr<ProxyTls> StartProxyTls(const std::string& packageFolder);

}  // namespace tunnel
