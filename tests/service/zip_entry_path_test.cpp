// Where ZIP entries land, and which names are refused (portable).
#include "app/service/zip_entry_path.h"

#include <gtest/gtest.h>

namespace {

TEST(ZipEntryPathTest, NamesInsideTheTargetMapSlashesToBackslashes) {
  struct Case {
    Text target, name, expected;
  } cases[] = {
      {"C:\\p\\service\\", "corvalen.exe", "C:\\p\\service\\corvalen.exe"},
      {"C:\\p\\service", "corvalen.exe", "C:\\p\\service\\corvalen.exe"},
      {"C:\\p\\service\\", "certs/", "C:\\p\\service\\certs\\"},
      {"C:\\p\\service\\", "a/b/c.txt", "C:\\p\\service\\a\\b\\c.txt"},
      {"C:\\p\\service\\", "a\\b.txt", "C:\\p\\service\\a\\b.txt"},
      {"C:\\p\\service\\", "x..y/.hidden", "C:\\p\\service\\x..y\\.hidden"},
      {"C:\\p\\service\\", "..a/b..", "C:\\p\\service\\..a\\b.."},
      // GBK: "数据/说明.txt"; the trail byte 0x5C of "\x95\x5C" is not a separator.
      {"C:\\p\\", "\xCA\xFD\xBE\xDD/\xCB\xB5\xC3\xF7.txt", "C:\\p\\\xCA\xFD\xBE\xDD\\\xCB\xB5\xC3\xF7.txt"},
      {"C:\\p\\", "\x95\x5C.txt", "C:\\p\\\x95\x5C.txt"},
      // A target whose last byte is the trail byte 0x5C still gets its separator.
      {"C:\\\x95\x5C", "f", "C:\\\x95\x5C\\f"},
  };
  for (const Case& c : cases) EXPECT_EQ(ZipEntryOutputPath(c.target, c.name), c.expected) << c.name;
}

TEST(ZipEntryPathTest, NamesThatCouldLeaveTheTargetAreRefused) {
  const Text refused[] = {
      "",
      "..",
      "../x",
      "..\\x",
      "a/../../x",
      "a/..",
      "a/../b",  // stays inside, but no ".." segment is let through at all
      "./x",
      ".",
      "...",
      ". ./x",
      ".. /x",
      "a/ ../x",
      "/etc/passwd",
      "\\Windows\\x",
      "//server/share/x",
      "\\\\?\\C:\\x",
      "C:/x",
      "C:x",
      "c:\\x",
      "a/b:c",
      "f.txt::$DATA",
      Text("a\0b", 3),
      "a\tb",
      "\x81",             // lead byte without its trail byte
      "\x81/../x",        // lead byte with an invalid trail byte "/"
      "\x81\x5C../../x",  // a valid pair (trail byte 0x5C) followed by ".." segments
      "\x80x",            // not a GBK lead byte
      "\xFF\xA1",
      "\xCA\x7F",
  };
  for (const Text& name : refused) EXPECT_EQ(ZipEntryOutputPath("C:\\p\\service\\", name), "") << name;
}

TEST(ZipEntryPathTest, FolderWithSeparator) {
  EXPECT_EQ(FolderWithSeparator("C:\\p"), "C:\\p\\");
  EXPECT_EQ(FolderWithSeparator("C:\\p\\"), "C:\\p\\");
  EXPECT_EQ(FolderWithSeparator("C:\\\x95\x5C"), "C:\\\x95\x5C\\");
  EXPECT_EQ(FolderWithSeparator("C:\\\x95\x5C\\"), "C:\\\x95\x5C\\");
}

}  // namespace
