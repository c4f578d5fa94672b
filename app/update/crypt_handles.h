// Owners of CryptoAPI handles: a provider context and a hash object.
#pragma once

// clang-format off
#include "common/handles.h"  // windows.h first: wincrypt.h builds on it
#include <wincrypt.h>
// clang-format on

struct CryptContextTraits {
  using Value = HCRYPTPROV;
  static Value Invalid() { return 0; }
  static bool IsInvalid(Value v) { return v == 0; }
  static void Release(Value v) { CryptReleaseContext(v, 0); }
};
using CryptContext = UniqueHandle<CryptContextTraits>;

struct CryptHashTraits {
  using Value = HCRYPTHASH;
  static Value Invalid() { return 0; }
  static bool IsInvalid(Value v) { return v == 0; }
  static void Release(Value v) { CryptDestroyHash(v); }
};
using CryptHash = UniqueHandle<CryptHashTraits>;
