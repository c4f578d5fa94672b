// Where the proxy keeps its CA and site certificates on Windows, and the
// socket transport for TlsServerStream. Windows only.
#pragma once

#include <winsock2.h>

#include <memory>
#include <string>

#include "package/proxy/tls/cert_authority.h"
#include "package/proxy/tls/tls_stream.h"

namespace tunnel {

// The user's folder for the CA: %APPDATA%\Corvalen, created when missing.
// Outside the service folder, which the main program deletes on every close.
// Empty on failure.
std::string DefaultCaFolder();

// Writes `data` to `path` through a temporary file in the same folder, so a
// reader never sees half a file. With `ownerOnly` the file's DACL grants
// access to the current user alone (protected: nothing inherited).
bool WriteFileAtomically(const std::string& path, const std::string& data, bool ownerOnly, std::string& error);
// A whole file of at most `limit` bytes.
bool ReadSmallFile(const std::string& path, std::string& data, size_t limit = 1 << 20);

// The CA of this user from folder\ca.key and folder\ca.crt (PEM); when they
// are missing or unusable a new CA is made and stored there (the key readable
// by this user only). `created` tells which. Null with `error` on failure.
std::unique_ptr<CertAuthority> LoadOrCreateCa(const std::string& folder, bool& created, std::string& error);

// Site certificate files in a folder (the package's "certs"), owner-only.
class FolderCertFiles final : public SiteCertFiles {
 public:
  explicit FolderCertFiles(std::string folder) : folder_(std::move(folder)) {}
  bool Read(const std::string& name, std::string& data) override;
  bool Write(const std::string& name, const std::string& data) override;

 private:
  std::string folder_;
};

// A connected socket as a TLS transport; the socket stays the caller's.
class SocketTransport final : public TlsTransport {
 public:
  explicit SocketTransport(SOCKET s) : s_(s) {}
  long Receive(char* p, size_t cap) override;
  bool SendAll(const char* p, size_t n) override;

 private:
  SOCKET s_;
};

}  // namespace tunnel
