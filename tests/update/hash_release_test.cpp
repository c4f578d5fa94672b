// HashBytesHex's call sequence with recorders in place of CryptoAPI: the
// context request is retried without CRYPT_VERIFYCONTEXT, and what was obtained
// is released on every path, the hash object first, the context last.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/update/crypto_calls.h"
#include "app/update/md5.h"

namespace {

constexpr HCRYPTPROV kContext = 0x51;
constexpr HCRYPTHASH kHash = 0x73;
const BYTE kValue[16] = {0x00, 0x01, 0x0f, 0x10, 0x7f, 0x80, 0xab, 0xff, 9, 8, 7, 6, 5, 4, 3, 2};

struct Script {
  std::vector<std::string> calls;
  std::string failing;  // the call that fails ("acquire:verify", "acquire:0", "create", "hash", "get")
  DWORD returnedLength = 16;
} script;

bool Fails(const std::string& call) { return script.failing.find(call) != std::string::npos; }

BOOL WINAPI FakeAcquire(HCRYPTPROV* context, LPCSTR container, LPCSTR provider, DWORD type, DWORD flags) {
  const std::string call = flags == CRYPT_VERIFYCONTEXT ? "acquire:verify" : "acquire:" + std::to_string(flags);
  script.calls.push_back(call);
  EXPECT_EQ(container, nullptr);
  EXPECT_EQ(provider, nullptr);
  EXPECT_EQ(type, static_cast<DWORD>(PROV_RSA_FULL));
  if (Fails(call)) return FALSE;
  *context = kContext;
  return TRUE;
}
BOOL WINAPI FakeCreate(HCRYPTPROV context, ALG_ID algorithm, HCRYPTKEY key, DWORD flags, HCRYPTHASH* hash) {
  script.calls.push_back("create");
  EXPECT_EQ(context, kContext);
  EXPECT_EQ(algorithm, static_cast<ALG_ID>(CALG_MD5));
  EXPECT_EQ(key, 0u);
  EXPECT_EQ(flags, 0u);
  if (Fails("create")) return FALSE;
  *hash = kHash;
  return TRUE;
}
BOOL WINAPI FakeHashData(HCRYPTHASH hash, const BYTE*, DWORD length, DWORD) {
  script.calls.push_back("hash:" + std::to_string(length));
  EXPECT_EQ(hash, kHash);
  return !Fails("hash");
}
BOOL WINAPI FakeGet(HCRYPTHASH hash, DWORD param, BYTE* buffer, DWORD* length, DWORD) {
  script.calls.push_back("get");
  EXPECT_EQ(hash, kHash);
  EXPECT_EQ(param, static_cast<DWORD>(HP_HASHVAL));
  EXPECT_EQ(*length, 16u);
  if (Fails("get")) return FALSE;
  memcpy(buffer, kValue, script.returnedLength);
  *length = script.returnedLength;
  return TRUE;
}
BOOL WINAPI FakeDestroy(HCRYPTHASH hash) {
  script.calls.push_back(hash == kHash ? "destroy" : "destroy:wrong");
  return TRUE;
}
BOOL WINAPI FakeRelease(HCRYPTPROV context, DWORD) {
  script.calls.push_back(context == kContext ? "release" : "release:wrong");
  return TRUE;
}

class HashCallsTest : public testing::Test {
 protected:
  void SetUp() override {
    script = {};
    ActiveCryptoCalls() = {FakeAcquire, FakeCreate, FakeHashData, FakeGet, FakeDestroy, FakeRelease};
  }
  void TearDown() override { ActiveCryptoCalls() = PlatformCryptoCalls(); }
};

using Calls = std::vector<std::string>;

TEST_F(HashCallsTest, EveryPathReleasesWhatItObtainedInReverseOrder) {
  struct Case {
    const char* failing;
    Calls calls;
    bool hexExpected;
  };
  const Case cases[] = {
      {"", {"acquire:verify", "create", "hash:3", "get", "destroy", "release"}, true},
      {"acquire:verify", {"acquire:verify", "acquire:0", "create", "hash:3", "get", "destroy", "release"}, true},
      {"acquire:verify acquire:0", {"acquire:verify", "acquire:0"}, false},
      {"create", {"acquire:verify", "create", "release"}, false},
      {"hash", {"acquire:verify", "create", "hash:3", "destroy", "release"}, false},
      {"get", {"acquire:verify", "create", "hash:3", "get", "destroy", "release"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("failing: ") + c.failing);
    script = {};
    script.failing = c.failing;
    const Text result = HashBytesHex("abc", CALG_MD5, 16);
    EXPECT_EQ(script.calls, c.calls);
    EXPECT_EQ(result, c.hexExpected ? "00010F107F80ABFF0908070605040302" : "");
  }
}

TEST_F(HashCallsTest, FewerBytesFromThePlatformGiveAShorterText) {
  script.returnedLength = 4;
  EXPECT_EQ(HashBytesHex("", CALG_MD5, 16), "00010F10");
  EXPECT_EQ(script.calls, (Calls{"acquire:verify", "create", "hash:0", "get", "destroy", "release"}));
}

}  // namespace
