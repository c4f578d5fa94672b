#include "app/update/md5.h"

#include "app/update/crypt_handles.h"
#include "app/update/digest_hex.h"

Text HashBytesHex(const Bytes& data, int32_t algorithmId, int32_t hashLength) {
  if (hashLength <= 0) return {};
  const CryptoCalls& crypt = ActiveCryptoCalls();
  // Declared first, released last: the context outlives the hash object.
  CryptContext context;
  if (!crypt.acquireContext(context.Receive(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
      !crypt.acquireContext(context.Receive(), nullptr, nullptr, PROV_RSA_FULL, 0))
    return {};
  CryptHash hash;
  if (!crypt.createHash(context.Get(), static_cast<ALG_ID>(algorithmId), 0, 0, hash.Receive())) return {};
  if (!crypt.hashData(hash.Get(), reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), 0))
    return {};
  Bytes value(static_cast<size_t>(hashLength), '\0');
  DWORD length = static_cast<DWORD>(hashLength);
  if (!crypt.getHashParam(hash.Get(), HP_HASHVAL, reinterpret_cast<BYTE*>(value.data()), &length, 0)) return {};
  if (length < value.size()) value.resize(length);
  return DigestBytesToHex(value);
}

Text Md5Text(const Bytes& data, bool upperCase, bool short16) {
  return ShapeDigestText(HashBytesHex(data, kCalgMd5, kMd5Length), upperCase, short16);
}
