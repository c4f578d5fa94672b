// The digest text: RFC 1321's test vectors through the hex conversion, and the
// shaping that Md5Text applies.
#include "app/update/digest_hex.h"

#include <gtest/gtest.h>

namespace {

struct Rfc1321Vector {
  const char* message;
  unsigned char digest[16];
  const char* text;  // as RFC 1321 prints it (lower case)
};

// RFC 1321, appendix A.5.
const Rfc1321Vector kVectors[] = {
    {"",
     {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04, 0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e},
     "d41d8cd98f00b204e9800998ecf8427e"},
    {"a",
     {0x0c, 0xc1, 0x75, 0xb9, 0xc0, 0xf1, 0xb6, 0xa8, 0x31, 0xc3, 0x99, 0xe2, 0x69, 0x77, 0x26, 0x61},
     "0cc175b9c0f1b6a831c399e269772661"},
    {"abc",
     {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0, 0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72},
     "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest",
     {0xf9, 0x6b, 0x69, 0x7d, 0x7c, 0xb7, 0x93, 0x8d, 0x52, 0x5a, 0x2f, 0x31, 0xaa, 0xf1, 0x61, 0xd0},
     "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz",
     {0xc3, 0xfc, 0xd3, 0xd7, 0x61, 0x92, 0xe4, 0x00, 0x7d, 0xfb, 0x49, 0x6c, 0xca, 0x67, 0xe1, 0x3b},
     "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
     {0xd1, 0x74, 0xab, 0x98, 0xd2, 0x77, 0xd9, 0xf5, 0xa5, 0x61, 0x1c, 0x2c, 0x9f, 0x41, 0x9d, 0x9f},
     "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     {0x57, 0xed, 0xf4, 0xa2, 0x2b, 0xe3, 0xc9, 0x55, 0xac, 0x49, 0xda, 0x2e, 0x21, 0x07, 0xb6, 0x7a},
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(DigestBytesToHex, Rfc1321VectorsGiveTheirTextInUpperCase) {
  for (const auto& v : kVectors) {
    const std::string digest(reinterpret_cast<const char*>(v.digest), 16);
    const Text hex = DigestBytesToHex(digest);
    EXPECT_EQ(hex, ToUpperAscii(v.text)) << "message \"" << v.message << "\"";
    EXPECT_EQ(hex.size(), 32u);
  }
  EXPECT_EQ(DigestBytesToHex(std::string(reinterpret_cast<const char*>(kVectors[0].digest), 16)),
            "D41D8CD98F00B204E9800998ECF8427E");
}

TEST(DigestBytesToHex, EveryByteGivesTwoCharactersUpperNibbleFirst) {
  struct Case {
    std::string bytes;
    const char* hex;
  };
  const Case cases[] = {
      {std::string("\x00", 1), "00"},
      {std::string("\x0f\x10", 2), "0F10"},
      {std::string("\x01\xa0\xff\x00\x7f", 5), "01A0FF007F"},
      {"", ""},  // the platform returned no bytes
  };
  for (const auto& c : cases) EXPECT_EQ(DigestBytesToHex(c.bytes), c.hex);
  // Zero bytes inside the digest do not cut the text short.
  EXPECT_EQ(DigestBytesToHex(std::string(16, '\0')), std::string(32, '0'));
}

TEST(ShapeDigestText, CaseAndShortForm) {
  const Text full = "900150983CD24FB0D6963F7D28E17F72";
  struct Case {
    bool upperCase, short16;
    const char* expected;
  };
  const Case cases[] = {
      {true, false, "900150983CD24FB0D6963F7D28E17F72"},
      {false, false, "900150983cd24fb0d6963f7d28e17f72"},
      {true, true, "3CD24FB0D6963F7D"},
      {false, true, "3cd24fb0d6963f7d"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ShapeDigestText(full, c.upperCase, c.short16), c.expected) << c.upperCase << c.short16;
  // A failed digest stays empty in every shape.
  for (const auto& c : cases) EXPECT_EQ(ShapeDigestText("", c.upperCase, c.short16), "");
}

}  // namespace
