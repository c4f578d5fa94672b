// HMAC-SHA256 on CNG against the RFC 4231 known answers, in one piece and
// fed in uneven parts.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "package/proxy/hmac.h"

using tunnel::HmacSha256;

TEST(Hmac, KnownAnswers) {
  struct Case {
    std::string key;
    std::string data;
    const char* mac;
  };
  const std::vector<Case> cases = {
      {std::string(20, '\x0b'), "Hi There", "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {"Jefe", "what do ya want for nothing?", "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {"", "", "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad"},
  };
  for (const Case& c : cases) {
    HmacSha256 whole(c.key);
    ASSERT_TRUE(whole.Ok());
    whole.Update(c.data.data(), c.data.size());
    EXPECT_EQ(whole.FinalHex(), c.mac);
    HmacSha256 parts(c.key);
    for (size_t i = 0, step = 1; i < c.data.size(); i += step, ++step)
      parts.Update(c.data.data() + i, std::min(step, c.data.size() - i));
    EXPECT_EQ(parts.FinalHex(), c.mac);
  }
}

TEST(Hmac, RandomBytesDiffer) {
  std::set<std::string> seen;
  for (int i = 0; i < 8; ++i) {
    std::string b(16, '\0');
    ASSERT_TRUE(tunnel::RandomBytes(b.data(), b.size()));
    seen.insert(b);
  }
  EXPECT_EQ(seen.size(), 8u);
}
