// mbedTLS's GCM API as the Windows build provides it (gcm_cng/, on CNG): the
// published GCM test cases, records of every length round-tripping in place
// and not, forged records refused with the output cleared, and the calls the
// record layer never makes refused rather than half-served.
#include <gtest/gtest.h>
#include <mbedtls/gcm.h>

#include <string>
#include <vector>

namespace {

using ByteVec = std::vector<unsigned char>;

ByteVec FromHex(const std::string& hex) {
  ByteVec out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

ByteVec Pattern(size_t n, unsigned seed) {
  ByteVec v(n);
  unsigned x = seed * 2654435761u + 1;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<unsigned char>(x >> 16);
  }
  return v;
}

class Gcm {
 public:
  explicit Gcm(const ByteVec& key, mbedtls_cipher_id_t cipher = MBEDTLS_CIPHER_ID_AES) {
    mbedtls_gcm_init(&ctx_);
    setkey_ = mbedtls_gcm_setkey(&ctx_, cipher, key.data(), static_cast<unsigned>(key.size() * 8));
  }
  ~Gcm() { mbedtls_gcm_free(&ctx_); }
  Gcm(const Gcm&) = delete;
  Gcm& operator=(const Gcm&) = delete;
  mbedtls_gcm_context* get() { return &ctx_; }
  int setkey() const { return setkey_; }

 private:
  mbedtls_gcm_context ctx_;
  int setkey_;
};

struct KnownAnswer {
  const char* name;
  const char* key;
  const char* iv;
  const char* plain;
  const char* add;
  const char* cipher;
  const char* tag;
};

// Test cases 1, 2, 4 and 16 of the GCM paper by McGrew and Viega.
const KnownAnswer kKnownAnswers[] = {
    {"case 1", "00000000000000000000000000000000", "000000000000000000000000", "", "", "",
     "58e2fccefa7e3061367f1d57a4e7455a"},
    {"case 2", "00000000000000000000000000000000", "000000000000000000000000", "00000000000000000000000000000000",
     "", "0388dace60b6a392f328c2b971b2fe78", "ab6e47d42cec13bdf53a67b21257bddf"},
    {"case 4", "feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888",
     "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de6"
     "57ba637b39",
     "feedfacedeadbeeffeedfacedeadbeefabaddad2",
     "42831ec2217774244b7221b784d0d49ce3aa212f2c02a4e035c17e2329aca12e21d514b25466931c7d8f6a5aac84aa051ba30b396a0aac"
     "973d58e091",
     "5bc94fbc3221a5db94fae95ae7121a47"},
    {"case 16", "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308", "cafebabefacedbaddecaf888",
     "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e2449a6b525b16aedf5aa0de6"
     "57ba637b39",
     "feedfacedeadbeeffeedfacedeadbeefabaddad2",
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b1056828838c5f61e6393ba7a"
     "0abcc9f662",
     "76fc6ece0f4e1768cddf8853bb2d551b"},
};

TEST(TlsGcmCng, PublishedTestCasesSealAndOpen) {
  for (const KnownAnswer& k : kKnownAnswers) {
    SCOPED_TRACE(k.name);
    Gcm g(FromHex(k.key));
    ASSERT_EQ(g.setkey(), 0);
    const ByteVec iv = FromHex(k.iv), plain = FromHex(k.plain), add = FromHex(k.add);
    ByteVec cipher(plain.size()), tag(16);
    ASSERT_EQ(mbedtls_gcm_crypt_and_tag(g.get(), MBEDTLS_GCM_ENCRYPT, plain.size(), iv.data(), iv.size(), add.data(),
                                        add.size(), plain.data(), cipher.data(), tag.size(), tag.data()),
              0);
    EXPECT_EQ(cipher, FromHex(k.cipher));
    EXPECT_EQ(tag, FromHex(k.tag));
    ByteVec back(plain.size());
    ASSERT_EQ(mbedtls_gcm_auth_decrypt(g.get(), cipher.size(), iv.data(), iv.size(), add.data(), add.size(),
                                       tag.data(), tag.size(), cipher.data(), back.data()),
              0);
    EXPECT_EQ(back, plain);
  }
}

// Record sizes around block and TLS record boundaries, for both key sizes,
// separate buffers and in place (as TLS seals records); a short tag is the
// prefix of the full one.
TEST(TlsGcmCng, RecordsRoundTripInPlaceAndNot) {
  for (size_t key_bytes : {16u, 32u}) {
    for (size_t length : {0u, 1u, 15u, 16u, 17u, 1000u, 16384u, 16401u}) {
      SCOPED_TRACE(testing::Message() << "key " << key_bytes << " length " << length);
      Gcm g(Pattern(key_bytes, 2));
      ASSERT_EQ(g.setkey(), 0);
      const ByteVec iv = Pattern(12, 3), add = Pattern(13, 4), plain = Pattern(length, 5);
      ByteVec cipher(length), tag(16);
      ASSERT_EQ(mbedtls_gcm_crypt_and_tag(g.get(), MBEDTLS_GCM_ENCRYPT, length, iv.data(), 12, add.data(), add.size(),
                                          plain.data(), cipher.data(), 16, tag.data()),
                0);
      if (length > 0) {
        EXPECT_NE(cipher, plain);
      }

      ByteVec inplace = plain, itag(16);
      ASSERT_EQ(mbedtls_gcm_crypt_and_tag(g.get(), MBEDTLS_GCM_ENCRYPT, length, iv.data(), 12, add.data(), add.size(),
                                          inplace.data(), inplace.data(), 16, itag.data()),
                0);
      EXPECT_EQ(inplace, cipher);
      EXPECT_EQ(itag, tag);

      ByteVec shortTag(8), scratch(length);
      ASSERT_EQ(mbedtls_gcm_crypt_and_tag(g.get(), MBEDTLS_GCM_ENCRYPT, length, iv.data(), 12, add.data(), add.size(),
                                          plain.data(), scratch.data(), 8, shortTag.data()),
                0);
      EXPECT_EQ(shortTag, ByteVec(tag.begin(), tag.begin() + 8));

      ByteVec back(length);
      ASSERT_EQ(mbedtls_gcm_auth_decrypt(g.get(), length, iv.data(), 12, add.data(), add.size(), tag.data(), 16,
                                         cipher.data(), back.data()),
                0);
      EXPECT_EQ(back, plain);
      ASSERT_EQ(mbedtls_gcm_auth_decrypt(g.get(), length, iv.data(), 12, add.data(), add.size(), tag.data(), 16,
                                         inplace.data(), inplace.data()),
                0);
      EXPECT_EQ(inplace, plain);
    }
  }
}

// A changed tag, text, additional data or IV is refused and no plaintext is
// left in the output.
TEST(TlsGcmCng, ForgeriesAreRefusedAndOutputCleared) {
  for (size_t tag_len : {16u, 12u}) {
    Gcm g(Pattern(16, 6));
    ASSERT_EQ(g.setkey(), 0);
    const ByteVec iv = Pattern(12, 7), add = Pattern(13, 8), plain = Pattern(300, 9);
    ByteVec cipher(plain.size()), tag(tag_len);
    ASSERT_EQ(mbedtls_gcm_crypt_and_tag(g.get(), MBEDTLS_GCM_ENCRYPT, plain.size(), iv.data(), 12, add.data(),
                                        add.size(), plain.data(), cipher.data(), tag_len, tag.data()),
              0);
    enum { kTag, kText, kAdd, kIv };
    for (int what : {kTag, kText, kAdd, kIv}) {
      SCOPED_TRACE(testing::Message() << "tag " << tag_len << " change " << what);
      ByteVec c2 = cipher, t2 = tag, a2 = add, i2 = iv;
      if (what == kTag) t2[tag_len - 1] ^= 1;
      if (what == kText) c2[150] ^= 0x80;
      if (what == kAdd) a2[0] ^= 1;
      if (what == kIv) i2[11] ^= 1;
      ByteVec out(plain.size(), 0xAA);
      EXPECT_EQ(mbedtls_gcm_auth_decrypt(g.get(), c2.size(), i2.data(), 12, a2.data(), a2.size(), t2.data(), tag_len,
                                         c2.data(), out.data()),
                MBEDTLS_ERR_GCM_AUTH_FAILED);
      EXPECT_EQ(out, ByteVec(plain.size(), 0));
    }
  }
}

// What the record layer never asks for is refused, never answered wrongly.
TEST(TlsGcmCng, CallsOutsideTheRecordLayerAreRefused) {
  {
    Gcm camellia(Pattern(16, 10), MBEDTLS_CIPHER_ID_CAMELLIA);
    EXPECT_EQ(camellia.setkey(), MBEDTLS_ERR_GCM_BAD_INPUT);
    for (size_t key_bytes : {10u, 24u}) {
      Gcm otherKeySize(Pattern(key_bytes, 10));
      EXPECT_EQ(otherKeySize.setkey(), MBEDTLS_ERR_GCM_BAD_INPUT) << key_bytes;
    }
  }
  Gcm g(Pattern(16, 14));
  ASSERT_EQ(g.setkey(), 0);
  unsigned char iv[60] = {}, buf[32] = {}, tag[16] = {};
  for (size_t tag_len : {0u, 3u, 17u})
    EXPECT_EQ(mbedtls_gcm_crypt_and_tag(g.get(), MBEDTLS_GCM_ENCRYPT, 16, iv, 12, nullptr, 0, buf, buf, tag_len, tag),
              MBEDTLS_ERR_GCM_BAD_INPUT)
        << tag_len;
  for (size_t iv_len : {0u, 8u, 60u})
    EXPECT_EQ(mbedtls_gcm_crypt_and_tag(g.get(), MBEDTLS_GCM_ENCRYPT, 16, iv, iv_len, nullptr, 0, buf, buf, 16, tag),
              MBEDTLS_ERR_GCM_BAD_INPUT)
        << iv_len;
  EXPECT_EQ(mbedtls_gcm_crypt_and_tag(g.get(), MBEDTLS_GCM_DECRYPT, 16, iv, 12, nullptr, 0, buf, buf, 16, tag),
            MBEDTLS_ERR_GCM_BAD_INPUT);
  EXPECT_EQ(mbedtls_gcm_crypt_and_tag(g.get(), MBEDTLS_GCM_ENCRYPT, 16, iv, 12, nullptr, 0, buf, buf + 8, 16, tag),
            MBEDTLS_ERR_GCM_BAD_INPUT);
  EXPECT_EQ(mbedtls_gcm_auth_decrypt(g.get(), 16, iv, 12, nullptr, 0, tag, 8, buf, buf), MBEDTLS_ERR_GCM_BAD_INPUT);
  EXPECT_EQ(mbedtls_gcm_starts(g.get(), MBEDTLS_GCM_ENCRYPT, iv, 12, nullptr, 0), MBEDTLS_ERR_GCM_BAD_INPUT);
  EXPECT_EQ(mbedtls_gcm_update(g.get(), 16, buf, buf), MBEDTLS_ERR_GCM_BAD_INPUT);
  EXPECT_EQ(mbedtls_gcm_finish(g.get(), tag, 16), MBEDTLS_ERR_GCM_BAD_INPUT);
}

}  // namespace
