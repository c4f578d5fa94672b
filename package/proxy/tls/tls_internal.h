// mbedTLS state behind SiteCert, shared by the certificate code and the
// server stream. Portable.
#pragma once

#include <mbedtls/pk.h>
#include <mbedtls/ssl.h>
#include <mbedtls/x509_crt.h>

#include <memory>
#include <string>

#include "package/proxy/tls/cert_authority.h"

namespace tunnel {

struct SiteCert::Impl {
  SiteName site;
  std::string certPem;
  std::string filePem;
  mbedtls_x509_crt chain;
  std::shared_ptr<mbedtls_pk_context> key;
  mbedtls_ssl_config conf;  // refers to chain and key

  Impl();
  ~Impl();
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
};

}  // namespace tunnel
