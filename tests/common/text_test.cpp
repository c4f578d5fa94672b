// Edge behaviours of the text, byte-string and integer operations.
#include "common/text.h"

#include <gtest/gtest.h>

namespace {

// GBK samples (the source is compiled to GBK): 中 is D6 D0, 国 is B9 FA.
// 乜 is D8 BF, 亅 is 81 7C: its second byte is "|".
const Text kChina = "中国";
const Text kBarTrail = "\x81\x7C";  // one character whose trail byte is '|'
const Text kFullSpace = "\xA1\xA1";

TEST(TextOps, LengthsAndSlicesAreByteBased) {
  EXPECT_EQ(TextLength(kChina), 4);
  EXPECT_EQ(LeftText(kChina, 1), "\xD6");
  EXPECT_EQ(RightText(kChina, 1), "\xFA");
  EXPECT_EQ(LeftText("abc", 0), "");
  EXPECT_EQ(LeftText("abc", 9), "abc");
  EXPECT_EQ(RightText("abc", -1), "");
  EXPECT_EQ(MidText("abcdef", 2, 3), "bcd");
  EXPECT_EQ(MidText("abcdef", 5, 9), "ef");
  EXPECT_EQ(MidText("abc", 0, 2), "");
  EXPECT_EQ(MidText("abc", 4, 1), "");
  EXPECT_EQ(MidText("abc", 1, 0), "");
}

struct FindCase {
  Text t, s;
  int start;
  bool ignoreCase;
  int expected;
};

TEST(TextOps, FindTextTable) {
  const FindCase cases[] = {
      {"abc", "", 1, false, 1},
      {"", "", 1, false, -1},
      {"abc", "x", 9, false, -1},
      {"abc", "c", 0, false, 3},     // a start below 1 counts as 1
      {"abcabc", "bc", 3, false, 5},
      {"abc", "c", 4, false, -1},    // start beyond the end
      {"aBc", "bC", 1, true, 2},
      {"aBc", "bC", 1, false, -1},
      {kBarTrail + "|", "|", 1, false, 3},  // the trail byte is not a match
      {kBarTrail, "|", 1, false, -1},
      {kBarTrail, "|", 2, false, 2},        // a start inside the character scans from that byte
      {"x" + kChina + "y", "y", 1, false, 6},
      {"ab\xD6", "\xD6", 1, false, 3},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FindText(c.t, c.s, c.start, c.ignoreCase), c.expected) << c.t << " / " << c.s << " @" << c.start;
}

TEST(TextOps, FindTextFoldsSecondBytesOfDoubleByteCharacters) {
  // 0xB0 0x41 and 0xB0 0x61 differ only in an ASCII letter of the trail byte.
  EXPECT_EQ(FindText("\xB0\x41", "\xB0\x61", 1, true), 1);
  EXPECT_EQ(FindText("\xB0\x41", "\xB0\x61", 1, false), -1);
}

TEST(TextOps, FindTextBackwardStartRule) {
  EXPECT_EQ(FindTextBackward("a.b.c", "."), 4);
  EXPECT_EQ(FindTextBackward("a.b.c", ".", 4), 2);
  EXPECT_EQ(FindTextBackward("a.b.c", ".", 5), 4);   // ".c" at 4 lies within the first 4 bytes
  EXPECT_EQ(FindTextBackward("a.b.c", ".", 1), -1);  // start <= 1 searches nothing
  EXPECT_EQ(FindTextBackward("a.b.c", "", 2), 1);
  EXPECT_EQ(FindTextBackward("", ""), -1);
  EXPECT_EQ(FindTextBackward("abab", "AB", 99, true), 3);
  EXPECT_EQ(FindTextBackward(kBarTrail + "x", "|"), -1);  // candidates are character starts
  EXPECT_EQ(FindTextBackward("host:8080:", ":"), 10);
}

TEST(TextOps, CaseMappingLeavesDoubleByteCharactersAlone) {
  // 0xB0 0x61: the trail byte looks like 'a' but belongs to the character.
  EXPECT_EQ(ToUpperAscii("ab\xB0\x61z"), "AB\xB0\x61Z");
  EXPECT_EQ(ToLowerAscii("AB\xB0\x41Z"), "ab\xB0\x41z");
}

TEST(TextOps, TrimSpaces) {
  EXPECT_EQ(TrimSpaces(kFullSpace + " a b " + kFullSpace), "a b");
  EXPECT_EQ(TrimSpaces("a\t"), "a\t");
  EXPECT_EQ(TrimSpaces("\r\n x \r\n"), "\r\n x \r\n");
  EXPECT_EQ(TrimSpaces("   "), "");
  EXPECT_EQ(TrimSpaces(""), "");
  EXPECT_EQ(TrimSpaces(" a\xD6"), "a");       // a dangling lead byte is dropped
  EXPECT_EQ(TrimSpaces("\xB0\xA1\xA1 "), "\xB0\xA1\xA1 ");  // A1 then space is one character
  EXPECT_EQ(TrimSpaces("\xB0\xA1\xA1\xA1"), "\xB0\xA1");       // A1 A1 only as a whole character
  EXPECT_EQ(TrimSpaces(" " + kChina + " "), kChina);
}

struct ReplaceCase {
  Text t, find, replacement;
  int start, count;
  bool caseSensitive;
  Text expected;
};

TEST(TextOps, ReplaceTextTable) {
  const ReplaceCase cases[] = {
      {"aXbX", "X", "", 1, -1, true, "ab"},
      {"aXbX", "x", "-", 1, -1, false, "a-b-"},
      {"aXbX", "x", "-", 1, -1, true, "aXbX"},
      {"aXbXcX", "X", "-", 3, -1, true, "aXb-c-"},
      {"aXbXcX", "X", "-", 1, 2, true, "a-b-cX"},
      {"aaa", "aa", "b", 1, -1, true, "ba"},       // no overlap
      {"ab", "b", "bb", 1, -1, true, "abb"},       // the replacement is not searched again
      {"abc", "", "x", 1, -1, true, "abc"},
      {"", "a", "x", 1, -1, true, ""},
      {"abc", "b", "x", 9, -1, true, "abc"},
      {"abc", "b", "x", 1, 0, true, "abc"},
      {kBarTrail + "|", "|", "!", 1, -1, true, kBarTrail + "!"},
      {"a\xD6", "\xD6", "!", 1, -1, true, "a!"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReplaceText(c.t, c.find, c.replacement, c.start, c.count, c.caseSensitive), c.expected)
        << c.t << " / " << c.find;
}

struct SplitCase {
  Text t, delimiter;
  int maxCount;
  TextArray expected;
};

TEST(TextOps, SplitTextTable) {
  const SplitCase cases[] = {
      {"a,,b", ",", kNoLimit, {"a", "", "b"}},
      {",a", ",", kNoLimit, {"", "a"}},
      {"a,", ",", kNoLimit, {"a"}},
      {"a,b,", ",", kNoLimit, {"a", "b"}},
      {"abc", ",", kNoLimit, {"abc"}},
      {"", ",", kNoLimit, {}},
      {"a,b", ",", 0, {}},
      {"a,b", ",", -3, {}},
      {"a,b,c", ",", 2, {"a", "b"}},
      {"a,b", ",", 1, {"a"}},
      {"a,b", "", kNoLimit, {"a,b"}},
      {"l1\r\nl2\r\n", "\r\n", kNoLimit, {"l1", "l2"}},
      {"l1\r\n\r\nl2", "\r\n", kNoLimit, {"l1", "", "l2"}},
      {"x" + kBarTrail + "|y", "|", kNoLimit, {"x" + kBarTrail, "y"}},
      {"a<BR>b<br>c", "<BR>", kNoLimit, {"a", "b<br>c"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitText(c.t, c.delimiter, c.maxCount), c.expected) << c.t;
  EXPECT_EQ(SplitText("a,b"), (TextArray{"a", "b"}));
}

TEST(TextOps, SmallConstructorsAndComparisons) {
  EXPECT_EQ(BlankText(3), "   ");
  EXPECT_EQ(BlankText(0), "");
  EXPECT_EQ(CharFromCode(0x141), "A");
  EXPECT_EQ(CharFromCode(0), "");
  EXPECT_LT(CodeAt(kChina), 0);
  EXPECT_EQ(CodeAt("abc", 2), 'b');
  EXPECT_EQ(CodeAt("abc", 4), 0);
  EXPECT_EQ(CodeAt("abc", 0), 0);
  EXPECT_EQ(CompareText("", Text()), 0);
  EXPECT_EQ(CompareText("a", "b"), -1);
  EXPECT_EQ(CompareText("\xD6", "a"), 1);  // unsigned byte order
  EXPECT_EQ(CompareText("ab", "a"), 1);
  EXPECT_EQ(ConcatText("a", Text(), "b", kChina), "ab" + kChina);
}

TEST(TextOps, TextToInt) {
  const std::pair<Text, int> cases[] = {
      {"\xA3\xB8\xA3\xB0\xA3\xB8\xA3\xB8", 8088},  // full-width 8088
      {"12ab", 12},
      {"ab", 0},
      {"", 0},
      {"  -42", -42},
      {"+7", 7},
      {"\xA1\xA1\xA3\xAD" "5", -5},  // full-width space and minus
      {"\t\r\n 9", 9},
      {"99999999999", 2147483647},
      {"-99999999999", -2147483647 - 1},
      {"-", 0},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(TextToInt(text), value) << text;
  EXPECT_EQ(TextToInt(3.9), 3);
  EXPECT_EQ(TextToInt(-3.9), -3);
}

TEST(ByteOps, Table) {
  const Bytes ab0c("ab\0c", 4);
  EXPECT_EQ(BytesLength(ab0c), 4);
  EXPECT_EQ(LeftBytes(ab0c, 3), Bytes("ab\0", 3));
  EXPECT_EQ(LeftBytes(ab0c, 9), ab0c);
  EXPECT_EQ(LeftBytes(ab0c, -1), "");
  EXPECT_EQ(MidBytes(ab0c, 0, 2), "ab");
  EXPECT_EQ(MidBytes(ab0c, 3, 9), Bytes("\0c", 2));
  EXPECT_EQ(MidBytes(ab0c, 5, 1), "");
  EXPECT_EQ(BlankBytes(2), Bytes(2, '\0'));
  EXPECT_EQ(BlankBytes(-1), "");
  EXPECT_EQ(ConcatBytes(ab0c, Bytes(), ab0c), Bytes("ab\0cab\0c", 8));
  EXPECT_TRUE(CompareBytes(Bytes(), Bytes()));
  EXPECT_FALSE(CompareBytes("ab", Bytes("ab\0", 3)));
  EXPECT_EQ(BytesToText(Bytes("A\0B", 3)), "A");
  EXPECT_EQ(BytesToText(Bytes("\0B", 2)), "");
  EXPECT_EQ(BytesToText("xyz"), "xyz");
  EXPECT_EQ(TextToBytes(kChina), kChina);
}

TEST(IntegerOps, Table) {
  EXPECT_EQ(BitAnd(0xF0, 0x3C, 0x30), 0x30);
  EXPECT_EQ(BitOr(static_cast<int32_t>(0x80000010), 0x4000), static_cast<int32_t>(0x80004010));
  EXPECT_EQ(ShiftRight(-16, 2), -4);
  EXPECT_EQ(ShiftRight(0xAB, 4), 0xA);
  EXPECT_EQ(ShiftRight(0xAB, 36), 0xA);  // n mod 32
}

}  // namespace
