// ExtractZip on real archives under Wine: its three results, what lands where,
// and archives whose entry names try to leave the target folder.
#include "app/service/extract_zip.h"
#include "tests/service/service_test_support.h"

using namespace service_test;

namespace {

const Bytes kGbkFolder = "数据";         // GBK bytes
const Bytes kGbkFile = "数据/说明.txt";  // a name whose GBK bytes hold no "/"

Bytes Sample(size_t n) {
  Bytes b(n, '\0');
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
  return b;
}

TEST(ExtractZipTest, UnpacksFoldersFilesAndGbkNamesByteExact) {
  TempDir dir("unzip");
  const Bytes big = Sample(300 * 1024);  // more than one read chunk
  ASSERT_TRUE(WriteWholeFile(dir / "a.zip", ZipBuilder()
                                                .File("top.bin", big)
                                                .File("stored.txt", "plain", false)
                                                .File("empty.txt", "")
                                                .Folder("certs/")
                                                .Folder(kGbkFolder + "/")
                                                .File(kGbkFile, "内容")
                                                .Build()));
  const Text target = dir / "out\\deeper";  // missing parents are created
  EXPECT_EQ(ExtractZip(dir / "a.zip", target), 1);
  EXPECT_EQ(ReadWholeFile(target + "\\top.bin"), big);
  EXPECT_EQ(ReadWholeFile(target + "\\stored.txt"), "plain");
  EXPECT_TRUE(Exists(target + "\\empty.txt"));
  EXPECT_FALSE(IsFolder(target + "\\empty.txt"));
  EXPECT_TRUE(IsFolder(target + "\\certs"));
  EXPECT_EQ(ReadWholeFile(target + "\\数据\\说明.txt"), "内容");
  EXPECT_EQ(GetFileAttributesA((target + "\\top.bin").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST(ExtractZipTest, ReplacesExistingReadOnlyFilesAndAcceptsTrailingBackslash) {
  TempDir dir("unzip");
  ASSERT_TRUE(WriteWholeFile(dir / "a.zip", ZipBuilder().File("f.txt", "new").Build()));
  const Text target = dir / "out\\";
  ASSERT_TRUE(CreateDirTree(target));
  ASSERT_TRUE(WriteWholeFile(target + "f.txt", "old content"));
  ASSERT_TRUE(SetFileAttributesA((target + "f.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ExtractZip(dir / "a.zip", target), 1);
  EXPECT_EQ(ReadWholeFile(target + "f.txt"), "new");
  EXPECT_EQ(GetFileAttributesA((target + "f.txt").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST(ExtractZipTest, MissingArgumentsOrArchiveGiveMinusOne) {
  TempDir dir("unzip");
  ASSERT_TRUE(WriteWholeFile(dir / "a.zip", ZipBuilder().File("f.txt", "x").Build()));
  ASSERT_TRUE(CreateDirectoryA((dir / "folder.zip").c_str(), nullptr));
  struct Case {
    Text zip, target;
  } cases[] = {
      {"", dir / "out"},
      {dir / "a.zip", ""},
      {dir / "missing.zip", dir / "out"},
      {dir / "folder.zip", dir / "out"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractZip(c.zip, c.target), -1) << c.zip << " -> " << c.target;
    EXPECT_FALSE(Exists(dir / "out")) << c.zip;
  }
}

TEST(ExtractZipTest, BadArchivesGiveZero) {
  TempDir dir("unzip");
  const Bytes good = ZipBuilder().File("f.txt", "x").Build();
  Bytes nameless = good;
  nameless[26] = nameless[27] = 0;  // first local header names nothing
  struct Case {
    const char* what;
    Bytes content;
    bool targetCreated;
  } cases[] = {
      {"not a zip", "just some text, long enough to hold a header....", true},
      {"empty file", "", true},
      {"header without a name", nameless, true},
      {"no central directory", good.substr(0, 40), true},
      {"CRC mismatch", ZipBuilder().File("f.txt", "some stored content", false).CorruptLast().Build(), true},
      {"corrupt deflate stream", ZipBuilder().File("f.txt", Sample(5000)).CorruptLast().Build(), true},
      {"file in a folder no entry made", ZipBuilder().File("sub/f.txt", "x").Build(), true},
  };
  for (const Case& c : cases) {
    const Text zip = dir / "bad.zip";
    const Text target = dir / "out";
    ASSERT_TRUE(WriteWholeFile(zip, c.content));
    EXPECT_EQ(ExtractZip(zip, target), 0) << c.what;
    EXPECT_EQ(IsFolder(target), c.targetCreated) << c.what;
    EXPECT_FALSE(Exists(target + "\\f.txt")) << c.what << ": no partial file stays";
    RemoveDirTree(target);
  }
}

TEST(ExtractZipTest, TargetThatCannotBeCreatedGivesZero) {
  TempDir dir("unzip");
  ASSERT_TRUE(WriteWholeFile(dir / "a.zip", ZipBuilder().File("f.txt", "x").Build()));
  ASSERT_TRUE(WriteWholeFile(dir / "plainfile", "x"));
  EXPECT_EQ(ExtractZip(dir / "a.zip", dir / "plainfile\\out"), 0);
}

TEST(ExtractZipTest, EntryHeldOpenByAnotherHandleGivesZeroAndKeepsEarlierEntries) {
  TempDir dir("unzip");
  ASSERT_TRUE(WriteWholeFile(dir / "a.zip", ZipBuilder().File("first.txt", "1").File("held.txt", "2").Build()));
  const Text target = dir / "out";
  ASSERT_TRUE(CreateDirTree(target));
  ASSERT_TRUE(WriteWholeFile(target + "\\held.txt", "in use"));
  FileHandle holder(CreateFileA((target + "\\held.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder);
  EXPECT_EQ(ExtractZip(dir / "a.zip", target), 0);
  EXPECT_EQ(ReadWholeFile(target + "\\first.txt"), "1");
  holder.Close();
  EXPECT_EQ(ReadWholeFile(target + "\\held.txt"), "in use");
}

// Entry names that would land outside the target: result 0, and not one byte
// written anywhere - neither the hostile entry nor the harmless one before it.
TEST(ExtractZipTest, EntriesLeavingTheTargetAreRefusedBeforeAnythingIsWritten) {
  TempDir dir("unzip");
  const Text target = dir / "a\\b\\out";
  // Absolute names point into the test's own folder; the drive of the temporary folder.
  const Text drive = LeftText(dir.Path(), 2);
  const Text absolute = MidText(dir.Path(), 3, kNoLimit);  // "\users\...\corvalen-..."
  const Bytes hostile[] = {
      "../escaped.txt",
      "..\\escaped.txt",
      "sub/../../escaped.txt",
      "x/../../../escaped.txt",
      "../../../escaped.txt",
      ".. /escaped.txt",
      "... /../escaped.txt",
      ReplaceText(absolute, "\\", "/") + "/escaped.txt",
      absolute + "\\escaped.txt",
      drive + ReplaceText(absolute, "\\", "/") + "/escaped.txt",
      drive + "escaped.txt",
      "//server/share/escaped.txt",
      "ok.txt:stream",
      Bytes("\x81/../escaped.txt"),
  };
  for (const Bytes& name : hostile) {
    const Text zip = dir / "evil.zip";
    ASSERT_TRUE(WriteWholeFile(zip, ZipBuilder().File("harmless.txt", "h").Folder("sub/").File(name, "x").Build()));
    EXPECT_EQ(ExtractZip(zip, target), 0) << name;
    EXPECT_FALSE(Exists(dir / "escaped.txt")) << name;
    EXPECT_FALSE(Exists(dir / "a\\escaped.txt")) << name;
    EXPECT_FALSE(Exists(dir / "a\\b\\escaped.txt")) << name;
    EXPECT_FALSE(Exists(dir / "a\\b\\out\\harmless.txt")) << name;
    EXPECT_FALSE(Exists(dir / "a\\b\\out\\sub")) << name;
  }
  // The same archive with a well-behaved last entry unpacks.
  ASSERT_TRUE(WriteWholeFile(dir / "good.zip",
                             ZipBuilder().File("harmless.txt", "h").Folder("sub/").File("sub/x..y", "x").Build()));
  EXPECT_EQ(ExtractZip(dir / "good.zip", target), 1);
  EXPECT_EQ(ReadWholeFile(target + "\\sub\\x..y"), "x");
}

}  // namespace
