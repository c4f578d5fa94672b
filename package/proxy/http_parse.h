// HTTP/1.1 message parsing for the local proxy: request heads from browsers,
// response heads from the fetch server, chunked bodies, absolute URLs and the
// hop-by-hop rules. Portable: no Windows header.
//
// The parsers are strict on purpose. Anything that two HTTP implementations
// could read differently (bare CR or LF, folded header lines, white space
// before a colon, several or unclear body lengths) is refused, so that no
// request can be smuggled past the proxy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tunnel {

struct HeaderField {
  std::string name;
  std::string value;
};
using HeaderList = std::vector<HeaderField>;

struct HeadLimits {
  size_t maxStartLine = 8 * 1024;    // request line or status line
  size_t maxHead = 64 * 1024;        // start line plus all header lines
  size_t maxHeaderCount = 100;
};

enum class ParseStatus { kIncomplete, kDone, kBad };

struct RequestHead {
  std::string method;
  std::string target;
  int version = 11;  // 10 for HTTP/1.0, 11 for HTTP/1.1
  HeaderList headers;
};

struct ResponseHead {
  int version = 11;
  int status = 0;
  std::string reason;
  HeaderList headers;
};

// Parses a request head at the start of `buf`. kDone: `consumed` is the
// length of the head including its empty line. kIncomplete: more bytes are
// needed (and allowed by the limits). kBad: `error` says why.
ParseStatus ParseRequestHead(std::string_view buf, const HeadLimits& limits, RequestHead& out,
                             size_t& consumed, std::string& error);
ParseStatus ParseResponseHead(std::string_view buf, const HeadLimits& limits, ResponseHead& out,
                              size_t& consumed, std::string& error);

// ---- header helpers ----
bool EqualsNoCase(std::string_view a, std::string_view b);
// The value of the first field with this name, or nullptr.
const std::string* FindHeader(const HeaderList& headers, std::string_view name);
// The comma-separated elements of every field with this name, trimmed,
// lower-cased, empty elements dropped.
std::vector<std::string> HeaderTokens(const HeaderList& headers, std::string_view name);
bool HasToken(const HeaderList& headers, std::string_view name, std::string_view token);
// Connection, Keep-Alive, Proxy-Connection, Proxy-Authenticate,
// Proxy-Authorization, TE, Trailer, Transfer-Encoding, Upgrade, and every
// field named in a Connection header of the same message.
bool IsHopByHop(std::string_view name, const std::vector<std::string>& connectionTokens);
// `headers` without hop-by-hop fields and without the named extra fields.
HeaderList EndToEndHeaders(const HeaderList& headers,
                           std::initializer_list<std::string_view> alsoDrop = {});

// ---- bodies ----
enum class BodyKind { kNone, kLength, kChunked, kUntilClose };
struct BodyFraming {
  BodyKind kind = BodyKind::kNone;
  uint64_t length = 0;
};

// How a request's body is delimited. False (with `error`) when the framing is
// unclear: Content-Length together with Transfer-Encoding, differing or
// malformed Content-Length values, a Transfer-Encoding other than chunked.
bool RequestBodyFraming(const RequestHead& head, BodyFraming& out, std::string& error);
// How a response to a request with `requestMethod` is delimited.
bool ResponseBodyFraming(const ResponseHead& head, std::string_view requestMethod, BodyFraming& out,
                         std::string& error);

// Decodes a chunked body incrementally. Feed() hands every piece of payload
// to `onData` (pointers into the fed buffer) and returns the count of bytes
// consumed: all of them until the body ends, then up to the end of the last
// chunk's trailer section. Bytes after that belong to the next message.
class ChunkedDecoder {
 public:
  enum class State { kSize, kSizeExt, kSizeLf, kData, kDataCr, kDataLf, kTrailer, kTrailerLf, kDone, kBad };
  template <typename OnData>
  size_t Feed(const char* p, size_t n, OnData&& onData) {
    size_t i = 0;
    while (i < n && state_ != State::kDone && state_ != State::kBad) {
      if (state_ == State::kData) {
        size_t take = remaining_ < n - i ? static_cast<size_t>(remaining_) : n - i;
        onData(p + i, take);
        i += take;
        remaining_ -= take;
        if (remaining_ == 0) state_ = State::kDataCr;
      } else {
        Step(p[i]);
        ++i;
      }
    }
    return i;
  }
  bool Done() const { return state_ == State::kDone; }
  bool Bad() const { return state_ == State::kBad; }
  void Reset() { *this = ChunkedDecoder(); }

 private:
  void Step(char c);
  State state_ = State::kSize;
  uint64_t remaining_ = 0;
  int digits_ = 0;
  size_t lineLength_ = 0;
  size_t trailerBytes_ = 0;
};

// ---- URLs ----
struct UrlParts {
  std::string scheme;  // lower case: "http" or "https"
  std::string host;    // as written; IPv6 literals keep their brackets
  uint16_t port = 0;   // the scheme's default when not written
  std::string path;    // from the first '/', with the query; "/" when empty
};
// Parses an absolute http or https URL (no user info, no fragment).
bool ParseAbsoluteUrl(std::string_view url, UrlParts& out);
// "host:port" with a numeric IPv4 address, as the listen key holds it.
bool ParseListenAddress(std::string_view text, std::string& ip, uint16_t& port);

// Trims spaces and tabs at both ends.
std::string_view TrimOws(std::string_view s);
bool ParseDecimal(std::string_view s, uint64_t& out);

}  // namespace tunnel
