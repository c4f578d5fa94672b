#include "app/update/crypto_calls.h"

const CryptoCalls& PlatformCryptoCalls() {
  static const CryptoCalls calls{CryptAcquireContextA, CryptCreateHash,  CryptHashData,
                                 CryptGetHashParam,    CryptDestroyHash, CryptReleaseContext};
  return calls;
}

CryptoCalls& ActiveCryptoCalls() {
  static CryptoCalls calls = PlatformCryptoCalls();
  return calls;
}
