// Owners of CNG (bcrypt) handles: algorithm providers, keys and hashes.
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include "common/handles.h"

struct BcryptAlgHandleTraits {
  using Value = BCRYPT_ALG_HANDLE;
  static Value Invalid() { return nullptr; }
  static bool IsInvalid(Value v) { return v == nullptr; }
  static void Release(Value v) { BCryptCloseAlgorithmProvider(v, 0); }
};
using BcryptAlgHandle = UniqueHandle<BcryptAlgHandleTraits>;

struct BcryptKeyHandleTraits {
  using Value = BCRYPT_KEY_HANDLE;
  static Value Invalid() { return nullptr; }
  static bool IsInvalid(Value v) { return v == nullptr; }
  static void Release(Value v) { BCryptDestroyKey(v); }
};
using BcryptKeyHandle = UniqueHandle<BcryptKeyHandleTraits>;

struct BcryptHashHandleTraits {
  using Value = BCRYPT_HASH_HANDLE;
  static Value Invalid() { return nullptr; }
  static bool IsInvalid(Value v) { return v == nullptr; }
  static void Release(Value v) { BCryptDestroyHash(v); }
};
using BcryptHashHandle = UniqueHandle<BcryptHashHandleTraits>;
