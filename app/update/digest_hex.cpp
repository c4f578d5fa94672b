#include "app/update/digest_hex.h"

Text DigestBytesToHex(std::string_view digest) {
  static constexpr char kAlphabet[] = "0123456789ABCDEF";
  Text out;
  out.reserve(digest.size() * 2);
  for (char c : digest) {
    const int32_t b = static_cast<unsigned char>(c);
    out.push_back(kAlphabet[ShiftRight(b, 4)]);
    out.push_back(kAlphabet[BitAnd(b, 15)]);
  }
  return out;
}

Text ShapeDigestText(const Text& upperHex, bool upperCase, bool short16) {
  Text h = upperCase ? upperHex : ToLowerAscii(upperHex);
  return short16 ? MidText(h, 9, 16) : h;
}
