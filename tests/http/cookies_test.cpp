#include "app/http/cookies.h"

#include <gtest/gtest.h>

namespace {

TEST(Cookies, CollectSetCookies) {
  struct Case {
    TextArray lines;
    const char* result;
  };
  const Case cases[] = {
      {{"HTTP/1.1 200 OK", "Set-Cookie: sid=abc; path=/", "SET-COOKIE:lang=zh;expires=x", ""}, "sid=abc; lang=zh"},
      {{"Set-Cookie: flag=1"}, ""},
      {{"Set-Cookie2: x=1; path=/", "X-Set-Cookie: x=1; path=/"}, ""},
      {{"Set-Cookie: sid=abc; path=/", "Set-Cookie: ; path=/"}, "sid=abc; "},
      {{"set-cookie:   a=1  ; HttpOnly", "Set-Cookie: b=2;"}, "a=1; b=2"},
      {{}, ""},
      {TextArray(1, Text(5000, ' ')), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(CollectSetCookies(c.lines), c.result);
}

TEST(Cookies, MergeCookies) {
  struct Case {
    const char* cookies;
    const char* newCookies;
    const char* result;
  };
  const Case cases[] = {
      {"a=1; b=2", "b=3", "b=3; a=1"},
      {"a=1; b=2", "b=deleted", "a=1"},
      {"a=1; b=2;", "", "a=1; b=2"},
      {"", "c=1", "c=1"},
      {"", "", ""},
      {"a=1; a=2", "", "a=1"},
      {"", "a=1; a=2", "a=1; a=2"},
      {"", "a=1; a=1", "a=1"},
      {"a=1;b=2", "", "a=1;b=2"},
      {"a=1;b=2", "a=9", "a=9"},
      {"  x=1; y=2  ", "y=deleted; z=3", "z=3; x=1"},
      {"sid=x", "sid=new; lang=zh", "sid=new; lang=zh"},
  };
  for (const Case& c : cases) {
    Text cookies = c.cookies;
    Text fresh = c.newCookies;
    EXPECT_EQ(MergeCookies(cookies, fresh), c.result) << c.cookies << " + " << c.newCookies;
    EXPECT_EQ(cookies, c.result) << "the caller's cookies hold the merge";
  }
}

TEST(Cookies, MergeNormalisesTheNewCookiesInPlace) {
  Text cookies = "a=1";
  Text fresh = "  b=2;  ";
  EXPECT_EQ(MergeCookies(cookies, fresh), "b=2; a=1");
  EXPECT_EQ(fresh, "b=2; ");
}

TEST(Cookies, CookieName) {
  const std::pair<const char*, const char*> cases[] = {{"a=1", "a"}, {" a =1", "a"}, {"flag", "flag"},
                                                       {"=v", ""},   {"a=b=c", "a"}, {"a=1;b=2", "a"}};
  for (const auto& [item, name] : cases) EXPECT_EQ(CookieName(item), name) << item;
}

TEST(Cookies, HasCookieNameAndIndexOfText) {
  const TextArray items = {"a=1", "B=2", "c"};
  EXPECT_TRUE(HasCookieName(items, "a"));
  EXPECT_TRUE(HasCookieName(items, "B"));
  EXPECT_FALSE(HasCookieName(items, "b"));
  EXPECT_TRUE(HasCookieName(items, "c"));
  EXPECT_FALSE(HasCookieName({}, "a"));
  EXPECT_EQ(IndexOfText(items, "a=1"), 1);
  EXPECT_EQ(IndexOfText(items, "c"), 3);
  EXPECT_EQ(IndexOfText(items, "b=2"), -1);
  EXPECT_EQ(IndexOfText({}, ""), -1);
}

TEST(Cookies, RemoveDuplicateItems) {
  struct Case {
    const char* text;
    const char* result;
  };
  const Case cases[] = {
      {"a=1; a=2", "a=1; a=2"}, {"a=1; a=1", "a=1"}, {"a=1; b=2; a=1; b=2; c", "a=1; b=2; c"}, {"", ""}, {"x", "x"}};
  for (const Case& c : cases) EXPECT_EQ(RemoveDuplicateItems(c.text, "; "), c.result) << c.text;
  EXPECT_EQ(RemoveDuplicateItems("1,2,1,3", ","), "1,2,3");
}

}  // namespace
