// HMAC-SHA256 and random bytes for the fetch protocol. The interface is
// portable; the Windows implementation (hmac_win.cpp) uses CNG (bcrypt).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace tunnel {

class HmacSha256 {
 public:
  explicit HmacSha256(std::string_view key);
  ~HmacSha256();
  HmacSha256(const HmacSha256&) = delete;
  HmacSha256& operator=(const HmacSha256&) = delete;
  // False when the platform could not set the hash up; Update/FinalHex then
  // do nothing and give an empty text.
  bool Ok() const;
  void Update(const void* p, size_t n);
  // 64 lower-case hex digits; the object is spent afterwards.
  std::string FinalHex();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Cryptographically random bytes; false on failure.
bool RandomBytes(void* p, size_t n);

}  // namespace tunnel
