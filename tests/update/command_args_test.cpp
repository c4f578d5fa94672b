// The Updater's command-line splitting.
#include "updater/command_args.h"

#include <gtest/gtest.h>

namespace {

struct Case {
  const char* name;
  std::string line;
  TextArray expected;
};

TEST(GetCommandArgs, SplitsAsTheMainProgramBuildsTheLine) {
  const Case cases[] = {
      {"no arguments", "C:\\app\\update.date", {}},
      {"no arguments after a blank", "C:\\app\\update.date ", {}},
      {"unquoted own path",
       "C:\\app\\update.date http://h/corvalen/update.exe C:\\app\\P.exe",
       {"http://h/corvalen/update.exe", "C:\\app\\P.exe"}},
      {"quoted paths with blanks",
       "\"C:\\My App\\update.date\" http://h/u.exe \"C:\\My App\\P.exe\"",
       {"http://h/u.exe", "C:\\My App\\P.exe"}},
      {"unquoted path with a blank splits",
       "C:\\My App\\update.date http://h/u.exe C:\\My App\\P.exe",
       {"App\\update.date", "http://h/u.exe", "C:\\My", "App\\P.exe"}},
      {"empty quoted argument", "u.date \"\" b", {"", "b"}},
      {"quote ends a plain argument", "u.date ab\"c d\"e", {"ab", "c d", "e"}},
      {"control bytes and runs of blanks separate", "u.date \ta\t\t b\r\n", {"a", "b"}},
      {"unclosed quote runs to the end", "u.date x \"C:\\a b", {"x", "C:\\a b"}},
      {"backslash is an ordinary byte", "u.date a\\\"b\\", {"a\\", "b\\"}},
      {"quoted own path without a blank after it", "\"C:\\u.date\"x y", {"x", "y"}},
      {"quoted own path never closed", "\"C:\\u.date x y", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(GetCommandArgs(c.line), c.expected) << c.name;
}

TEST(GetCommandArgs, LeadByteTakesTheNextByteWhateverItIs) {
  const Case cases[] = {
      // GBK 中 = D6 D0; 文件 = CE C4 BC FE
      {"double-byte path", "u.date \"C:\\\xD6\xD0\xCE\xC4\\P.exe\"", {"C:\\\xD6\xD0\xCE\xC4\\P.exe"}},
      {"lead byte before a quote in a quoted argument", "u.date \"a\x81\"b\" c", {"a\x81\"b", "c"}},
      {"lead byte before a blank in a plain argument", "u.date a\x81 b c", {"a\x81 b", "c"}},
      {"lead byte before a quote in a plain argument", "u.date a\x81\"b c", {"a\x81\"b", "c"}},
      {"lead byte before a control byte", "u.date a\xFE\tb", {"a\xFE\tb"}},
      {"lead byte at the start of an argument", "u.date \x90 x", {"\x90 x"}},
      {"trail byte 0x5C is not a separator concern", "u.date \xB1\x5C y", {"\xB1\x5C", "y"}},
  };
  for (const auto& c : cases) EXPECT_EQ(GetCommandArgs(c.line), c.expected) << c.name;
}

TEST(GetCommandArgs, DanglingLeadByteAtTheEndEndsTheScan) {
  const Case cases[] = {
      {"plain argument", "u.date first second\x81", {"first", "second\x81"}},
      {"quoted argument", "u.date first \"sec ond\xD6", {"first", "sec ond\xD6"}},
      {"alone", "u.date first \xFE", {"first", "\xFE"}},
  };
  for (const auto& c : cases) EXPECT_EQ(GetCommandArgs(c.line), c.expected) << c.name;
}

}  // namespace
