// Test helper: adds a DER certificate (argv[1]) to the ROOT store of the
// Wine prefix the tests run in, so that WinHTTP accepts a test fetch server's
// certificate. Exit code 0 on success.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  FILE* f = std::fopen(argv[1], "rb");
  if (!f) return 3;
  std::vector<unsigned char> der;
  unsigned char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) der.insert(der.end(), buf, buf + n);
  std::fclose(f);
  if (!CertAddEncodedCertificateToSystemStoreA("ROOT", der.data(), static_cast<DWORD>(der.size()))) {
    std::printf("CertAddEncodedCertificateToSystemStore failed: %lu\n", GetLastError());
    return 1;
  }
  return 0;
}
