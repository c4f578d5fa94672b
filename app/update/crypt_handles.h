// Owners of CryptoAPI handles: a provider context and a hash object.
#pragma once

#include "app/update/crypto_calls.h"
#include "common/handles.h"

struct CryptContextTraits {
  using Value = HCRYPTPROV;
  static Value Invalid() { return 0; }
  static bool IsInvalid(Value v) { return v == 0; }
  static void Release(Value v) { ActiveCryptoCalls().releaseContext(v, 0); }
};
using CryptContext = UniqueHandle<CryptContextTraits>;

struct CryptHashTraits {
  using Value = HCRYPTHASH;
  static Value Invalid() { return 0; }
  static bool IsInvalid(Value v) { return v == 0; }
  static void Release(Value v) { ActiveCryptoCalls().destroyHash(v); }
};
using CryptHash = UniqueHandle<CryptHashTraits>;
