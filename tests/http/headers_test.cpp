#include "app/http/headers.h"

#include <gtest/gtest.h>

namespace {

const Text kDefaultAgentText = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

struct TextCase {
  const char* in;
  const char* out;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << '"' << c.in << '"'; }

class NormalizeTable : public testing::TestWithParam<TextCase> {};

TEST_P(NormalizeTable, CapitalisesNamesOnly) { EXPECT_EQ(NormalizeHeaderNames(GetParam().in), GetParam().out); }

const TextCase kNormalizeCases[] = {
    {"user-agent: x", "User-Agent: x"},
    {"x-forwarded-for:1.2.3.4", "X-Forwarded-For:1.2.3.4"},
    {"a-b-c: 1", "A-B-C: 1"},
    {"x--y: 1", "X--Y: 1"},
    {"-a: 1", "-A: 1"},
    {"a-: 1", "A-: 1"},
    {"a--: 1", "A--: 1"},
    {"content-type: text/plain; charset=gbk", "Content-Type: text/plain; charset=gbk"},
    {"9abc: 1", "9abc: 1"},
    {": v", ": v"},
    {"x-a: b-c: d-e", "X-A: b-c: d-e"},
    {"user-agent: x\r\nno colon here\r\n\r\naccept: y\r\n", "User-Agent: x\r\nAccept: y"},
    {"no colon\r\n\r\nstill none", ""},
    {"", ""},
    // A double-byte character ending in "-"-free bytes, then a letter after "-".
    {"\xD6\xD0-a: 1", "\xD6\xD0-A: 1"},
};

INSTANTIATE_TEST_SUITE_P(Lines, NormalizeTable, testing::ValuesIn(kNormalizeCases),
                         [](const testing::TestParamInfo<TextCase>& info) { return std::to_string(info.index); });

TEST(Headers, CapitalizeFirst) {
  const TextCase cases[] = {{"", ""},       {"a", "A"},     {"abc", "Abc"},
                            {"Abc", "Abc"}, {"1bc", "1bc"}, {"\xD6\xD0x", "\xD6\xD0x"}};
  for (const TextCase& c : cases) EXPECT_EQ(CapitalizeFirst(c.in), c.out) << c.in;
}

TEST(Headers, TextBetween) {
  struct Case {
    const char* text;
    const char* start;
    const char* end;
    const char* result;
  };
  const Case cases[] = {
      {"a[b]c", "[", "]", "b"}, {"a[]c", "[", "]", ""},
      {"a[b", "[", "]", ""},    {"ab[", "[", "]", ""},
      {"ab]c", "[", "]", ""},   {"x<<one>>y<<two>>", "<<", ">>", "one"},
      {"]a[b]", "[", "]", "b"}, {"Start-x-End", "start", "End", ""},  // case-sensitive
  };
  for (const Case& c : cases) EXPECT_EQ(TextBetween(c.text, c.start, c.end), c.result) << c.text;
}

TEST(Headers, ValueAfterColon) {
  const TextCase cases[] = {
      {"Name:  value  ", "value"}, {"no colon", ""}, {"a: b: c", "b: c"}, {"a:", ""}, {"a: x\r\n", "x\r\n"}};
  for (const TextCase& c : cases) EXPECT_EQ(ValueAfterColon(c.in), c.out) << c.in;
}

TEST(Headers, AgentFromHeaders) {
  const TextCase cases[] = {
      {"", nullptr},
      {"Accept: */*", nullptr},
      {"User-Agent:   Tool/2.0   ", "Tool/2.0"},
      {"Accept: a\r\nUser-Agent: Tool/3.0\r\nReferer: r", "Tool/3.0"},
      // Names in another case (normalisation off) fall back to the first colon.
      {"user-agent: Tool/2.0", "Tool/2.0"},
      {"Accept: a\r\nuser-agent: Tool/2.0", "a\r\nuser-agent: Tool/2.0"},
      // An empty value: the text after the first colon of the whole block.
      {"User-Agent:\r\nAccept: a", "\r\nAccept: a"},
  };
  for (const TextCase& c : cases) EXPECT_EQ(AgentFromHeaders(c.in), c.out ? Text(c.out) : kDefaultAgentText) << c.in;
  EXPECT_EQ(Text(kDefaultAgent), kDefaultAgentText);
}

TEST(Headers, CompleteDefaultHeaders) {
  struct Case {
    const char* headers;
    int method;
    const char* result;
  };
  const char* u = "http://h.example/p?q";
  const Case cases[] = {
      {"", 0, "Accept: */*\r\nReferer: http://h.example/p?q\r\nAccept-Language: zh-cn"},
      {"", 1,
       "Accept: */*\r\nReferer: http://h.example/p?q\r\nAccept-Language: zh-cn\r\n"
       "Content-Type: application/x-www-form-urlencoded"},
      {"", 2, "Accept: */*\r\nReferer: http://h.example/p?q\r\nAccept-Language: zh-cn"},
      {"X-Accept: 1", 0, "X-Accept: 1\r\nReferer: http://h.example/p?q\r\nAccept-Language: zh-cn"},
      {"accept: text/html", 0, "accept: text/html\r\nReferer: http://h.example/p?q\r\nAccept-Language: zh-cn"},
      {"Referer: http://r.example/", 0, "Referer: http://r.example/\r\nAccept: */*\r\nAccept-Language: zh-cn"},
      {"User-Agent: T", 1,
       "User-Agent: T\r\nAccept: */*\r\nReferer: http://h.example/p?q\r\nAccept-Language: zh-cn\r\n"
       "Content-Type: application/x-www-form-urlencoded"},
      {"content-type: text/plain\r\nAccept-Language: en", 1,
       "content-type: text/plain\r\nAccept-Language: en\r\nAccept: */*\r\nReferer: http://h.example/p?q"},
  };
  for (const Case& c : cases) EXPECT_EQ(CompleteDefaultHeaders(c.headers, u, c.method), c.result) << c.headers;
}

TEST(Headers, AppendCookieHeader) {
  struct Case {
    const char* headers;
    const char* cookies;
    const char* result;
  };
  const Case cases[] = {
      {"Accept: */*", "a=1; b=2", "Accept: */*\r\nCookie: a=1; b=2"},
      {"Accept: */*", "Cookie: a=1", "Accept: */*\r\nCookie: a=1"},
      {"Accept: */*", "cookie: a=1", "Accept: */*\r\nCookie: cookie: a=1"},
      {"", "a=1", "\r\nCookie: a=1"},
  };
  for (const Case& c : cases) EXPECT_EQ(AppendCookieHeader(c.headers, c.cookies), c.result) << c.cookies;
}

TEST(Headers, FullPostHeaderBlock) {
  // The order a request builds its block in: normalise, complete, add cookies.
  Text h = NormalizeHeaderNames("user-agent: Tool/1.0");
  EXPECT_EQ(AgentFromHeaders(h), "Tool/1.0");
  h = AppendCookieHeader(CompleteDefaultHeaders(h, "http://example.com/login", 1), "sid=x");
  EXPECT_EQ(h,
            "User-Agent: Tool/1.0\r\nAccept: */*\r\nReferer: http://example.com/login\r\nAccept-Language: zh-cn\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\nCookie: sid=x");
}

}  // namespace
