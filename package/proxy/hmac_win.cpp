#include <windows.h>
#include <bcrypt.h>

#include "package/proxy/bcrypt_handles.h"
#include "package/proxy/envelope.h"
#include "package/proxy/hmac.h"

namespace tunnel {
namespace {

using AlgHandle = BcryptAlgHandle;
using HashHandle = BcryptHashHandle;

bool Succeeded(NTSTATUS s) { return s >= 0; }

}  // namespace

struct HmacSha256::Impl {
  AlgHandle alg;
  HashHandle hash;
};

HmacSha256::HmacSha256(std::string_view key) : impl_(std::make_unique<Impl>()) {
  if (!Succeeded(BCryptOpenAlgorithmProvider(impl_->alg.Receive(), BCRYPT_SHA256_ALGORITHM, nullptr,
                                             BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
    impl_->alg.Reset();
    return;
  }
  // CNG wants a non-null key pointer even for an empty key.
  static const unsigned char kEmpty = 0;
  PUCHAR k = key.empty() ? const_cast<PUCHAR>(&kEmpty) : reinterpret_cast<PUCHAR>(const_cast<char*>(key.data()));
  if (!Succeeded(BCryptCreateHash(impl_->alg.Get(), impl_->hash.Receive(), nullptr, 0, k,
                                  static_cast<ULONG>(key.size()), 0)))
    impl_->hash.Reset();
}

HmacSha256::~HmacSha256() {
  // The hash goes before its provider.
  if (impl_) impl_->hash.Close();
}

bool HmacSha256::Ok() const { return impl_ && impl_->hash; }

void HmacSha256::Update(const void* p, size_t n) {
  if (!Ok()) return;
  const unsigned char* b = static_cast<const unsigned char*>(p);
  while (n > 0) {
    ULONG take = n > 0x40000000 ? 0x40000000 : static_cast<ULONG>(n);
    if (!Succeeded(BCryptHashData(impl_->hash.Get(), const_cast<PUCHAR>(b), take, 0))) {
      impl_->hash.Reset();
      return;
    }
    b += take;
    n -= take;
  }
}

std::string HmacSha256::FinalHex() {
  if (!Ok()) return {};
  unsigned char mac[32];
  bool ok = Succeeded(BCryptFinishHash(impl_->hash.Get(), mac, sizeof mac, 0));
  impl_->hash.Reset();
  if (!ok) return {};
  return HexLower(std::string_view(reinterpret_cast<const char*>(mac), sizeof mac));
}

bool RandomBytes(void* p, size_t n) {
  return Succeeded(BCryptGenRandom(nullptr, static_cast<PUCHAR>(p), static_cast<ULONG>(n),
                                   BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

}  // namespace tunnel
