// The fetch protocol between the local proxy and the fetch server
// (fetchserver/README.md describes it for the server side). Portable.
//
// Request: one POST whose body is an envelope head, the browser request's
// body, and (when a password is set) 64 hex digits of HMAC-SHA256 over
// everything before them.
// Response: an envelope head with the target's status and header fields,
// then the target's body in frames "<hex length>\r\n<bytes>", then the end
// mark "0\r\n" followed by "ok\r\n" or "error <text>\r\n".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "package/proxy/http_parse.h"

namespace tunnel {

inline constexpr std::string_view kEnvelopeContentType = "application/x-corvalen-fetch";
inline constexpr std::string_view kEnvelopeVersion = "CFP/1";
inline constexpr size_t kMacHexLength = 64;
inline constexpr size_t kMaxEnvelopeHead = 256 * 1024;

struct FetchRequest {
  std::string method;
  std::string url;
  int64_t time = 0;       // seconds since 1970 (UTC)
  std::string nonce;      // 32 hex digits, fresh per request
  uint64_t bodyLength = 0;
  bool authenticated = false;  // a MAC follows the body
  HeaderList headers;     // end-to-end fields only
};

// The envelope head: "CFP/1", the meta fields, one "h: Name: value" line per
// header field, an empty line. Values must not contain CR or LF (the request
// parser guarantees it).
std::string BuildEnvelopeHead(const FetchRequest& request);
// Total POST body length for a head of `headLength` bytes.
uint64_t EnvelopeLength(size_t headLength, const FetchRequest& request);

// Lower-case hex of a byte string.
std::string HexLower(std::string_view bytes);

class EnvelopeSink {
 public:
  virtual ~EnvelopeSink() = default;
  // The target's status line and fields; false stops decoding.
  virtual bool OnHead(const ResponseHead& head) = 0;
  virtual bool OnData(const char* p, size_t n) = 0;
};

// Decodes a fetch response body incrementally.
class EnvelopeDecoder {
 public:
  enum class State { kHead, kFrameSize, kFrameSizeLf, kFrameData, kEndLine, kDone, kBad };
  // Consumes bytes; false when the envelope is malformed or the sink stopped.
  bool Feed(const char* p, size_t n, EnvelopeSink& sink);
  State state() const { return state_; }
  bool HeadSeen() const { return headSeen_; }
  bool Done() const { return state_ == State::kDone; }
  // After Done(): true when the fetch server finished the target's body
  // completely; otherwise EndError() holds its reason.
  bool EndOk() const { return endOk_; }
  const std::string& EndError() const { return endError_; }
  const std::string& Error() const { return error_; }

 private:
  bool Fail(std::string why);
  State state_ = State::kHead;
  std::string buf_;  // the head, then the end line
  uint64_t remaining_ = 0;
  int digits_ = 0;
  bool headSeen_ = false;
  bool endOk_ = false;
  std::string endError_;
  std::string error_;
};

}  // namespace tunnel
