// How the Updater judges a download and places its progress bar.
#include "updater/download_rules.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(ProgressPosition, ReceivedShareOfTheAnnouncedLength) {
  struct Case {
    int32_t announced, received;
    int position;
  };
  const Case cases[] = {
      {0, 0, 0},
      {0, 10240, 0},  // nothing announced: the bar stays at 0
      {10240, 10240, 100},
      {30000, 10240, 34},  // 34.13 truncated
      {3, 2, 66},
      {1000, 9, 0},  // 0.9 truncated toward zero
      {100, 250, 100},
      {INT32_MAX, INT32_MAX, 100},   // more than announced: held at 100
      {2000000000, 1999999999, 99},  // no overflow on large lengths
      {-5, 10, 0},                   // a negative length (over 2 GiB as 32 bits) never moves the bar backwards
  };
  for (const auto& c : cases)
    EXPECT_EQ(ProgressPosition(c.announced, c.received), c.position) << c.announced << " " << c.received;
}

TEST(DownloadRules, StatusEncodingAndExecutableStart) {
  for (int status : {200, 201, 204, 206, 299}) EXPECT_TRUE(IsSuccessStatus(status)) << status;
  for (int status : {0, 100, 199, 300, 301, 304, 404, 500}) EXPECT_FALSE(IsSuccessStatus(status)) << status;

  for (const char* e : {"", " ", "identity", "Identity", " IDENTITY "}) EXPECT_TRUE(IsPlainEncoding(e)) << e;
  for (const char* e : {"gzip", "deflate", "br", "gzip, identity", "x-gzip"}) EXPECT_FALSE(IsPlainEncoding(e)) << e;

  EXPECT_TRUE(StartsAsExecutable("MZ"));
  EXPECT_TRUE(StartsAsExecutable(std::string("MZ\x90\x00", 4)));
  for (const char* head : {"", "M", "mz", "ZM", "<h", "\x1f\x8b"}) EXPECT_FALSE(StartsAsExecutable(head)) << head;
}

}  // namespace
