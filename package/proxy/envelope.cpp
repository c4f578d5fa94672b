#include "package/proxy/envelope.h"

namespace tunnel {

std::string HexLower(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 15]);
  }
  return out;
}

std::string BuildEnvelopeHead(const FetchRequest& r) {
  std::string out;
  out.reserve(256 + r.url.size() + r.headers.size() * 48);
  out.append(kEnvelopeVersion).append("\r\n");
  out.append("method: ").append(r.method).append("\r\n");
  out.append("url: ").append(r.url).append("\r\n");
  out.append("time: ").append(std::to_string(r.time)).append("\r\n");
  out.append("nonce: ").append(r.nonce).append("\r\n");
  out.append("length: ").append(std::to_string(r.bodyLength)).append("\r\n");
  out.append("auth: ").append(r.authenticated ? "hmac-sha256" : "none").append("\r\n");
  for (const HeaderField& f : r.headers) out.append("h: ").append(f.name).append(": ").append(f.value).append("\r\n");
  out.append("\r\n");
  return out;
}

uint64_t EnvelopeLength(size_t headLength, const FetchRequest& r) {
  return headLength + r.bodyLength + (r.authenticated ? kMacHexLength : 0);
}

bool EnvelopeDecoder::Fail(std::string why) {
  state_ = State::kBad;
  error_ = std::move(why);
  return false;
}

bool EnvelopeDecoder::Feed(const char* p, size_t n, EnvelopeSink& sink) {
  size_t i = 0;
  while (i < n) {
    switch (state_) {
      case State::kHead: {
        // Search for the empty line only in the new bytes (plus 3 of the old).
        size_t old = buf_.size();
        size_t take = n - i;
        if (old + take > kMaxEnvelopeHead) take = kMaxEnvelopeHead - old + 1;
        buf_.append(p + i, take);
        size_t from = old >= 3 ? old - 3 : 0;
        size_t end = buf_.find("\r\n\r\n", from);
        if (end == std::string::npos) {
          if (buf_.size() > kMaxEnvelopeHead) return Fail("envelope head too large");
          if (buf_.size() >= kEnvelopeVersion.size() + 1 &&
              buf_.compare(0, kEnvelopeVersion.size() + 1, std::string(kEnvelopeVersion) + " ") != 0)
            return Fail("not a fetch response");
          i += take;
          break;
        }
        size_t headLen = end + 4;
        i += take - (buf_.size() - headLen);
        std::string_view head(buf_.data(), headLen);
        if (head.substr(0, kEnvelopeVersion.size() + 1) != std::string(kEnvelopeVersion) + " ")
          return Fail("not a fetch response");
        std::string http = "HTTP/1.1" + std::string(head.substr(kEnvelopeVersion.size()));
        ResponseHead rh;
        size_t consumed = 0;
        std::string err;
        HeadLimits limits;
        limits.maxHead = kMaxEnvelopeHead + 8;
        limits.maxHeaderCount = 400;
        if (ParseResponseHead(http, limits, rh, consumed, err) != ParseStatus::kDone)
          return Fail("bad response head from fetch server: " + err);
        headSeen_ = true;
        buf_.clear();
        state_ = State::kFrameSize;
        digits_ = 0;
        remaining_ = 0;
        if (!sink.OnHead(rh)) return Fail("stopped");
        break;
      }
      case State::kFrameSize: {
        char c = p[i++];
        int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
        if (d >= 0) {
          if (++digits_ > 15) return Fail("frame length too large");
          remaining_ = remaining_ * 16 + static_cast<uint64_t>(d);
        } else if (c == '\r' && digits_ > 0) {
          state_ = State::kFrameSizeLf;
        } else {
          return Fail("malformed frame length");
        }
        break;
      }
      case State::kFrameSizeLf:
        if (p[i++] != '\n') return Fail("malformed frame length");
        state_ = remaining_ == 0 ? State::kEndLine : State::kFrameData;
        break;
      case State::kFrameData: {
        size_t take = remaining_ < n - i ? static_cast<size_t>(remaining_) : n - i;
        if (!sink.OnData(p + i, take)) return Fail("stopped");
        i += take;
        remaining_ -= take;
        if (remaining_ == 0) {
          state_ = State::kFrameSize;
          digits_ = 0;
        }
        break;
      }
      case State::kEndLine: {
        char c = p[i++];
        if (c == '\n') {
          if (buf_.empty() || buf_.back() != '\r') return Fail("malformed end mark");
          buf_.pop_back();
          if (buf_ == "ok") {
            endOk_ = true;
          } else if (buf_.compare(0, 6, "error ") == 0) {
            endError_ = buf_.substr(6);
          } else {
            return Fail("malformed end mark");
          }
          buf_.clear();
          state_ = State::kDone;
        } else {
          if (buf_.size() > 1024) return Fail("malformed end mark");
          buf_.push_back(c);
        }
        break;
      }
      case State::kDone:
        return Fail("data after the end mark");
      case State::kBad:
        return false;
    }
  }
  return state_ != State::kBad;
}

}  // namespace tunnel
