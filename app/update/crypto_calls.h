// The six CryptoAPI calls the digest makes, reached through one table so that
// tests can put recorders in their place. The platform's functions by default.
#pragma once

// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

struct CryptoCalls {
  BOOL(WINAPI* acquireContext)(HCRYPTPROV*, LPCSTR, LPCSTR, DWORD, DWORD);
  BOOL(WINAPI* createHash)(HCRYPTPROV, ALG_ID, HCRYPTKEY, DWORD, HCRYPTHASH*);
  BOOL(WINAPI* hashData)(HCRYPTHASH, const BYTE*, DWORD, DWORD);
  BOOL(WINAPI* getHashParam)(HCRYPTHASH, DWORD, BYTE*, DWORD*, DWORD);
  BOOL(WINAPI* destroyHash)(HCRYPTHASH);
  BOOL(WINAPI* releaseContext)(HCRYPTPROV, DWORD);
};

// The table in use; assignable (tests restore the platform's afterwards).
CryptoCalls& ActiveCryptoCalls();
const CryptoCalls& PlatformCryptoCalls();
