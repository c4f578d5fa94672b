// Platform operations on real files, folders, INI files and processes (under Wine).
#include "common/platform.h"
#include "common/process_kill.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>

namespace {

Text ProbeExe() { return GetProgramDir() + "\\platform_probe.exe"; }

class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    dir_ = Text(temp) + "corvalen-platform-" + std::to_string(GetCurrentProcessId()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    CreateDirectoryA(dir_.c_str(), nullptr);
  }
  void TearDown() override { RemoveDirTree(dir_); }
  Text Path(const Text& name) const { return dir_ + "\\" + name; }
  static bool Exists(const Text& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

  Text dir_;
};

TEST_F(PlatformTest, WholeFilesRoundTripBytesAndTruncate) {
  const Bytes withZero("a\0b\xD6\xD0", 5);
  EXPECT_TRUE(WriteWholeFile(Path("f.bin"), {withZero, Bytes(), "tail"}));
  EXPECT_EQ(ReadWholeFile(Path("f.bin")), withZero + "tail");
  EXPECT_TRUE(WriteWholeFile(Path("f.bin"), "x"));
  EXPECT_EQ(ReadWholeFile(Path("f.bin")), "x");
  EXPECT_TRUE(WriteWholeFile(Path("empty"), Bytes()));
  EXPECT_TRUE(Exists(Path("empty")));
  EXPECT_EQ(ReadWholeFile(Path("empty")), "");
  EXPECT_EQ(ReadWholeFile(Path("missing")), "");
  EXPECT_EQ(ReadWholeFile(""), "");
  EXPECT_FALSE(WriteWholeFile("", "x"));
  EXPECT_FALSE(WriteWholeFile(Path("no-such-folder\\f"), "x"));
}

TEST_F(PlatformTest, SharingRules) {
  ASSERT_TRUE(WriteWholeFile(Path("held"), "content"));
  // Someone writing the file: reading is refused (others may not write while we read).
  HANDLE writer = CreateFileA(Path("held").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadWholeFile(Path("held")), "");
  // Writing needs exclusive access.
  EXPECT_FALSE(WriteWholeFile(Path("held"), "other"));
  CloseHandle(writer);
  EXPECT_EQ(ReadWholeFile(Path("held")), "content");
}

TEST_F(PlatformTest, RemoveFile) {
  ASSERT_TRUE(WriteWholeFile(Path("f"), "x"));
  EXPECT_TRUE(RemoveFile(Path("f")));
  EXPECT_FALSE(Exists(Path("f")));
  EXPECT_FALSE(RemoveFile(Path("f")));
}

TEST_F(PlatformTest, RemoveDirTreeRefusesDriveRootsAndEmptyPaths) {
  for (const char* path : {"C:\\", "C:", "  C:\\", "c:", "", "   "}) EXPECT_FALSE(RemoveDirTree(path)) << path;
  EXPECT_TRUE(Exists("C:\\windows"));
}

TEST_F(PlatformTest, RemoveDirTreeRemovesNestedFoldersWithTrailingBackslash) {
  const Text root = Path("service");
  CreateDirectoryA(root.c_str(), nullptr);
  CreateDirectoryA((root + "\\certs").c_str(), nullptr);
  CreateDirectoryA((root + "\\certs\\deep").c_str(), nullptr);
  ASSERT_TRUE(WriteWholeFile(root + "\\proxy.ini", "x"));
  ASSERT_TRUE(WriteWholeFile(root + "\\certs\\deep\\a.crt", "x"));
  EXPECT_TRUE(RemoveDirTree(root + "\\"));
  EXPECT_FALSE(Exists(root));
}

TEST_F(PlatformTest, RemoveDirTreeSkipsDotNamesAndKeepsWhatFails) {
  const Text root = Path("tree");
  CreateDirectoryA(root.c_str(), nullptr);
  ASSERT_TRUE(WriteWholeFile(root + "\\.hidden", "x"));
  ASSERT_TRUE(WriteWholeFile(root + "\\plain.txt", "x"));
  EXPECT_FALSE(RemoveDirTree(root));
  EXPECT_TRUE(Exists(root + "\\.hidden"));
  EXPECT_FALSE(Exists(root + "\\plain.txt"));

  const Text locked = Path("locked");
  CreateDirectoryA(locked.c_str(), nullptr);
  ASSERT_TRUE(WriteWholeFile(locked + "\\ro.txt", "x"));
  SetFileAttributesA((locked + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  EXPECT_FALSE(RemoveDirTree(locked));
  EXPECT_TRUE(Exists(locked + "\\ro.txt"));
  SetFileAttributesA((locked + "\\ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

Text IniValue(const Text& file, const Text& section, const Text& key) {
  char value[512];
  GetPrivateProfileStringA(section.c_str(), key.c_str(), "<missing>", value, sizeof(value), file.c_str());
  return value;
}

TEST_F(PlatformTest, WriteIniValueCreatesAndKeepsOtherKeys) {
  const Text ini = Path("proxy.ini");
  EXPECT_TRUE(WriteIniValue(ini, "php", "fetchserver", "http://a/"));
  EXPECT_NE(ReadWholeFile(ini).find("[php]"), Bytes::npos);
  EXPECT_EQ(IniValue(ini, "php", "fetchserver"), "http://a/");

  ASSERT_TRUE(WriteWholeFile(ini, "; comment\r\n[php]\r\nenable = 1\r\nlisten = 127.0.0.1:8088\r\n"
                                  "fetchserver = old\r\n[other]\r\nk = v\r\n"));
  EXPECT_TRUE(WriteIniValue(ini, "php", "fetchserver", "http://新/"));
  EXPECT_EQ(IniValue(ini, "php", "fetchserver"), "http://新/");
  EXPECT_EQ(IniValue(ini, "php", "enable"), "1");
  EXPECT_EQ(IniValue(ini, "php", "listen"), "127.0.0.1:8088");
  EXPECT_EQ(IniValue(ini, "other", "k"), "v");
  EXPECT_NE(ReadWholeFile(ini).find("; comment"), Bytes::npos);
}

TEST_F(PlatformTest, RunCommandWaitsOrReturnsWithinASecond) {
  const Text out = Path("where.txt");
  EXPECT_TRUE(RunCommand(ProbeExe() + " where " + out, true));
  EXPECT_FALSE(ReadWholeFile(out).empty());

  // A program that never reads input: without waiting, the call returns after about one second.
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(RunCommand(ProbeExe() + " sleep 8000", false));
  auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 4.0);
  EXPECT_TRUE(TerminateProcessByName("platform_probe.exe"));

  EXPECT_FALSE(RunCommand(Path("no-such-program.exe")));
}

TEST_F(PlatformTest, RunCommandShowModesAreClampedAndMapped) {
  const std::pair<int, int> cases[] = {
      {-3, SW_HIDE}, {1, SW_HIDE}, {2, SW_SHOWNORMAL}, {3, SW_SHOWMINIMIZED}, {4, SW_SHOWMAXIMIZED},
      {5, SW_SHOWNOACTIVATE}, {6, SW_SHOWMINNOACTIVE}, {99, SW_SHOWMINNOACTIVE},
  };
  for (const auto& [mode, expected] : cases) {
    const Text out = Path("show.txt");
    ASSERT_TRUE(RunCommand(ProbeExe() + " startup " + out, true, mode));
    EXPECT_EQ(TextToInt(ReadWholeFile(out)), expected) << "show mode " << mode;
  }
}

TEST_F(PlatformTest, ProgramDirWithTrailByte5CInItsName) {
  // 乗 is 81 5C in GBK: its second byte is a backslash.
  const Text folder = Path("乗dir");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  ASSERT_TRUE(CopyFileA(ProbeExe().c_str(), (folder + "\\probe.exe").c_str(), FALSE));
  const Text out = Path("where.txt");
  ASSERT_TRUE(RunCommand(folder + "\\probe.exe where " + out, true));
  EXPECT_EQ(ReadWholeFile(out), folder + "\nprobe.exe");
}

}  // namespace
