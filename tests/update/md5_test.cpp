// The digest through CryptoAPI: RFC 1321's vectors and the shapes of Md5Text.
#include "app/update/md5.h"

#include <gtest/gtest.h>

namespace {

struct Vector {
  const char* message;
  const char* digest;
};

// RFC 1321, appendix A.5.
const Vector kRfc1321[] = {
    {"", "D41D8CD98F00B204E9800998ECF8427E"},
    {"a", "0CC175B9C0F1B6A831C399E269772661"},
    {"abc", "900150983CD24FB0D6963F7D28E17F72"},
    {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
    {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "D174AB98D277D9F5A5611C2C9F419D9F"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57EDF4A22BE3C955AC49DA2E2107B67A"},
};

TEST(HashBytesHex, Rfc1321Vectors) {
  for (const auto& v : kRfc1321) EXPECT_EQ(HashBytesHex(v.message, kCalgMd5, kMd5Length), v.digest) << v.message;
}

TEST(HashBytesHex, ZeroBytesAreHashedAndPlatformFailuresGiveEmptyText) {
  // Bytes after a zero byte count: a program image is full of them.
  EXPECT_NE(HashBytesHex(std::string("a\0b", 3), kCalgMd5, kMd5Length), HashBytesHex("a", kCalgMd5, kMd5Length));
  EXPECT_EQ(HashBytesHex(std::string("a\0b", 3), kCalgMd5, kMd5Length).size(), 32u);
  EXPECT_EQ(HashBytesHex("abc", 0x7FFF /* no such algorithm */, kMd5Length), "");
  EXPECT_EQ(HashBytesHex("abc", kCalgMd5, 8 /* buffer too small */), "");
}

TEST(Md5Text, Shapes) {
  struct Case {
    bool upperCase, short16;
    const char* expected;
  };
  const Case cases[] = {
      {false, false, "900150983cd24fb0d6963f7d28e17f72"},
      {true, false, "900150983CD24FB0D6963F7D28E17F72"},
      {false, true, "3cd24fb0d6963f7d"},
      {true, true, "3CD24FB0D6963F7D"},
  };
  for (const auto& c : cases) EXPECT_EQ(Md5Text("abc", c.upperCase, c.short16), c.expected);
  EXPECT_EQ(Md5Text("abc"), "900150983cd24fb0d6963f7d28e17f72");  // the defaults
  EXPECT_EQ(Md5Text("", true), "D41D8CD98F00B204E9800998ECF8427E");
  // A large input, hashed in one call: a million 'a' (a known vector of its own).
  EXPECT_EQ(Md5Text(std::string(1000000, 'a'), true), "7707D6AE4E027C70EEA2A935C2296F21");
}

}  // namespace
