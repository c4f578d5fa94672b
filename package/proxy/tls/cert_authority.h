// The local certificate authority of the proxy and the per-site certificates
// it signs, on mbedTLS. Portable: the files they live in are the caller's.
//
// The CA is an EC P-256 key with a self-signed certificate (basicConstraints
// CA:true, pathlen 0, keyUsage keyCertSign + cRLSign), made once per
// installation. A site certificate names exactly one host in its
// subjectAltName (a dNSName, or an iPAddress for an IP literal), is good for
// serverAuth only and is signed by the CA. Site certificates made in one run
// share one EC key, so a new site costs one signature.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "package/proxy/tls/site_name.h"

namespace tunnel {

struct PemPair {
  std::string keyPem;   // PKCS#1/SEC1 private key
  std::string certPem;  // X.509 certificate
};

// Random bytes from mbedTLS's CTR-DRBG over the system's entropy; one shared
// generator, safe to call from any thread.
bool TlsRandomBytes(void* out, size_t n);
// The generator in the form mbedTLS takes (f_rng, p_rng).
int TlsRandomCallback(void* ignored, unsigned char* out, size_t n);

// "YYYYMMDDhhmmss" in UTC, the form mbedTLS takes for validity.
std::string X509Time(std::time_t t);

// Makes a new CA: a fresh key and a self-signed certificate valid from a day
// before `now` for 10 years. False with `error` on failure.
bool GenerateCa(std::time_t now, PemPair& out, std::string& error);

class SiteCert;

class CertAuthority {
 public:
  ~CertAuthority();
  CertAuthority(const CertAuthority&) = delete;
  CertAuthority& operator=(const CertAuthority&) = delete;

  // Takes a CA from its PEM texts: the certificate must be a CA certificate
  // whose public key belongs to the private key. Null with `error` otherwise.
  static std::unique_ptr<CertAuthority> Load(const PemPair& ca, std::string& error);

  const std::string& CertPem() const;
  // The certificate's SHA-256 fingerprint, upper-case hex pairs joined by ':'.
  const std::string& Fingerprint() const;

  // A new certificate for `site`, valid from a day before `now` for 397 days.
  std::shared_ptr<const SiteCert> Issue(const SiteName& site, std::time_t now, std::string& error);
  // A certificate from the cache file text (certificate + key PEM), accepted
  // only when this CA signed it, it names `site`, its key matches and it is
  // still good a day after `now`.
  std::shared_ptr<const SiteCert> Adopt(const std::string& filePem, const SiteName& site, std::time_t now,
                                        std::string& error);

  struct Impl;

 private:
  explicit CertAuthority(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// One site's certificate, chain and server configuration, ready for any
// number of concurrent handshakes. Immutable once made.
class SiteCert {
 public:
  ~SiteCert();
  SiteCert(const SiteCert&) = delete;
  SiteCert& operator=(const SiteCert&) = delete;

  const SiteName& Site() const;
  // The text of its cache file: certificate PEM followed by the key PEM.
  const std::string& FilePem() const;
  const std::string& CertPem() const;

  struct Impl;
  Impl& impl() const { return *impl_; }
  explicit SiteCert(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

// Where site certificates are kept between runs; file names come from
// SiteCacheFileName.
class SiteCertFiles {
 public:
  virtual ~SiteCertFiles() = default;
  virtual bool Read(const std::string& name, std::string& data) = 0;
  virtual bool Write(const std::string& name, const std::string& data) = 0;
};

// Site certificates by host: from memory, else from the files, else newly
// issued (and written to the files). Safe from any thread.
class SiteCertCache {
 public:
  // `files` may be null (memory only); both must outlive the cache.
  SiteCertCache(CertAuthority& ca, SiteCertFiles* files) : ca_(ca), files_(files) {}

  // The certificate for a CONNECT host; null with `error` when the host is
  // not a usable name or the certificate cannot be made.
  std::shared_ptr<const SiteCert> Get(std::string_view host, std::string& error);

  // The clock used for validity; a test may move it.
  std::function<std::time_t()> now = [] { return std::time(nullptr); };

  size_t Size();

 private:
  static constexpr size_t kMaxEntries = 4096;
  CertAuthority& ca_;
  SiteCertFiles* files_;
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<const SiteCert>> sites_;
};

}  // namespace tunnel
