// mbedTLS's GCM API (MBEDTLS_GCM_ALT) for the proxy's Windows build, on CNG.
//
// The TLS record layer seals and opens each record with one
// mbedtls_gcm_crypt_and_tag (encrypt) or mbedtls_gcm_auth_decrypt call: an AES
// key, a 12-byte IV, a 16-byte tag. Those calls go to a CNG key in GCM
// chaining mode, which under Wine runs more than ten times as fast as
// mbedTLS's portable GCM. The proxy offers only AES-GCM and ChaCha20-Poly1305
// suites, so nothing else reaches this API; what CNG cannot do (another block
// cipher or key size, another IV length, the piecewise starts/update/finish calls, a
// decryption without its tag check) is refused with MBEDTLS_ERR_GCM_BAD_INPUT
// rather than emulated.
#include <windows.h>
#include <bcrypt.h>

#include <mbedtls/gcm.h>
#include <mbedtls/platform.h>
#include <mbedtls/platform_util.h>

#include <climits>
#include <cstdint>
#include <cstring>

#include "package/proxy/bcrypt_handles.h"

#ifndef MBEDTLS_GCM_ALT
#error "gcm_cng.cpp needs MBEDTLS_GCM_ALT and gcm_alt.h from this folder"
#endif

namespace {

constexpr NTSTATUS kAuthTagMismatch = static_cast<NTSTATUS>(0xC000A002L);  // STATUS_AUTH_TAG_MISMATCH
constexpr size_t kIvLength = 12;

using AlgHandle = BcryptAlgHandle;
using KeyHandle = BcryptKeyHandle;

// The AES provider in GCM mode, opened once. It lives as long as the
// process: connection threads may still be using keys made from it while
// the process exits.
BCRYPT_ALG_HANDLE GcmProvider() {
  static AlgHandle* const provider = [] {
    auto* p = new AlgHandle;
    if (BCryptOpenAlgorithmProvider(p->Receive(), BCRYPT_AES_ALGORITHM, nullptr, 0) < 0 ||
        BCryptSetProperty(p->Get(), BCRYPT_CHAINING_MODE,
                          reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_GCM)),
                          sizeof(BCRYPT_CHAIN_MODE_GCM), 0) < 0)
      p->Reset();
    return p;
  }();
  return provider->Get();
}

void DropKey(mbedtls_gcm_context* ctx) {
  KeyHandle(static_cast<BCRYPT_KEY_HANDLE>(ctx->cng_key)).Close();
  ctx->cng_key = nullptr;
}

bool PartlyOverlap(const unsigned char* a, const unsigned char* b, size_t n) {
  auto x = reinterpret_cast<uintptr_t>(a);
  auto y = reinterpret_cast<uintptr_t>(b);
  return a != b && x < y + n && y < x + n;
}

// Whether a whole-record call fits what CNG takes; in place is fine, a
// partial overlap is not.
bool Fits(const mbedtls_gcm_context* ctx, size_t length, const unsigned char* iv, size_t iv_len,
          const unsigned char* add, size_t add_len, const unsigned char* input, unsigned char* output) {
  if (ctx->cng_key == nullptr || iv == nullptr || iv_len != kIvLength) return false;
  if (length > ULONG_MAX || add_len > ULONG_MAX || (add_len > 0 && add == nullptr)) return false;
  if (length > 0 && (input == nullptr || output == nullptr || PartlyOverlap(input, output, length))) return false;
  return true;
}

void InitAuthInfo(BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO* info, const unsigned char* iv, const unsigned char* add,
                  size_t add_len, unsigned char* tag, ULONG tag_len) {
  BCRYPT_INIT_AUTH_MODE_INFO(*info);
  info->pbNonce = const_cast<PUCHAR>(iv);
  info->cbNonce = kIvLength;
  info->pbAuthData = add_len > 0 ? const_cast<PUCHAR>(add) : nullptr;
  info->cbAuthData = static_cast<ULONG>(add_len);
  info->pbTag = tag;
  info->cbTag = tag_len;
}

}  // namespace

extern "C" {

void mbedtls_gcm_init(mbedtls_gcm_context* ctx) { ctx->cng_key = nullptr; }

int mbedtls_gcm_setkey(mbedtls_gcm_context* ctx, mbedtls_cipher_id_t cipher, const unsigned char* key,
                       unsigned int keybits) {
  DropKey(ctx);
  // The AES-GCM suites use 128- and 256-bit keys; Wine's CNG refuses to
  // encrypt with a 192-bit GCM key, so that size is refused here already.
  if (cipher != MBEDTLS_CIPHER_ID_AES || key == nullptr || (keybits != 128 && keybits != 256))
    return MBEDTLS_ERR_GCM_BAD_INPUT;
  BCRYPT_ALG_HANDLE alg = GcmProvider();
  if (alg == nullptr) return MBEDTLS_ERR_PLATFORM_HW_ACCEL_FAILED;
  KeyHandle k;
  if (BCryptGenerateSymmetricKey(alg, k.Receive(), nullptr, 0, const_cast<PUCHAR>(key), keybits / 8, 0) < 0)
    return MBEDTLS_ERR_PLATFORM_HW_ACCEL_FAILED;
  ctx->cng_key = k.Detach();
  return 0;
}

// The piecewise interface is not needed by the record layer (see above).
int mbedtls_gcm_starts(mbedtls_gcm_context*, int, const unsigned char*, size_t, const unsigned char*, size_t) {
  return MBEDTLS_ERR_GCM_BAD_INPUT;
}
int mbedtls_gcm_update(mbedtls_gcm_context*, size_t, const unsigned char*, unsigned char*) {
  return MBEDTLS_ERR_GCM_BAD_INPUT;
}
int mbedtls_gcm_finish(mbedtls_gcm_context*, unsigned char*, size_t) { return MBEDTLS_ERR_GCM_BAD_INPUT; }

int mbedtls_gcm_crypt_and_tag(mbedtls_gcm_context* ctx, int mode, size_t length, const unsigned char* iv,
                              size_t iv_len, const unsigned char* add, size_t add_len, const unsigned char* input,
                              unsigned char* output, size_t tag_len, unsigned char* tag) {
  // Decrypting without checking the tag is not something CNG does.
  if (mode != MBEDTLS_GCM_ENCRYPT || tag == nullptr || tag_len < 4 || tag_len > 16 ||
      !Fits(ctx, length, iv, iv_len, add, add_len, input, output))
    return MBEDTLS_ERR_GCM_BAD_INPUT;
  unsigned char full[16];  // a shorter tag is the full tag's prefix
  BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
  InitAuthInfo(&info, iv, add, add_len, full, sizeof full);
  ULONG done = 0;
  if (BCryptEncrypt(static_cast<BCRYPT_KEY_HANDLE>(ctx->cng_key), const_cast<PUCHAR>(input),
                    static_cast<ULONG>(length), &info, nullptr, 0, output, static_cast<ULONG>(length), &done, 0) < 0)
    return MBEDTLS_ERR_PLATFORM_HW_ACCEL_FAILED;
  std::memcpy(tag, full, tag_len);
  mbedtls_platform_zeroize(full, sizeof full);
  return 0;
}

int mbedtls_gcm_auth_decrypt(mbedtls_gcm_context* ctx, size_t length, const unsigned char* iv, size_t iv_len,
                             const unsigned char* add, size_t add_len, const unsigned char* tag, size_t tag_len,
                             const unsigned char* input, unsigned char* output) {
  // CNG checks tags of 12 to 16 bytes.
  if (tag == nullptr || tag_len < 12 || tag_len > 16 || !Fits(ctx, length, iv, iv_len, add, add_len, input, output))
    return MBEDTLS_ERR_GCM_BAD_INPUT;
  unsigned char given[16];
  std::memcpy(given, tag, tag_len);
  BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
  InitAuthInfo(&info, iv, add, add_len, given, static_cast<ULONG>(tag_len));
  ULONG done = 0;
  const NTSTATUS status =
      BCryptDecrypt(static_cast<BCRYPT_KEY_HANDLE>(ctx->cng_key), const_cast<PUCHAR>(input),
                    static_cast<ULONG>(length), &info, nullptr, 0, output, static_cast<ULONG>(length), &done, 0);
  if (status >= 0) return 0;
  // No unauthenticated plaintext is left behind.
  if (length > 0) mbedtls_platform_zeroize(output, length);
  return status == kAuthTagMismatch ? MBEDTLS_ERR_GCM_AUTH_FAILED : MBEDTLS_ERR_PLATFORM_HW_ACCEL_FAILED;
}

void mbedtls_gcm_free(mbedtls_gcm_context* ctx) {
  if (ctx != nullptr) DropKey(ctx);
}

}  // extern "C"
