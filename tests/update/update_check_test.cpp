// The update check with a scripted view, against a content server that
// publishes the digest of the program under test in several forms.
#include "app/update/update_check.h"

#include <gtest/gtest.h>

#include "app/update/crypto_calls.h"
#include "test_env.h"
#include "tests/support/scripted_view.h"

namespace {

class UpdateCheckTest : public testing::Test {
 protected:
  void SetUp() override {
    const Text program = TestSetting("CORVALEN_TEST_PROGRAM");  // in a folder with a blank
    const size_t slash = program.rfind('\\');
    programDir_ = program.substr(0, slash);
    exeName_ = program.substr(slash + 1);
    server_ = "http://" + TestSetting("CORVALEN_TEST_SERVER");
    updateUrl_ = server_ + "/corvalen/update.exe";
    updaterPath_ = programDir_ + "\\update.date";
    RemoveFile(updaterPath_);
    // An unpacked service with a subfolder.
    const Text service = programDir_ + "\\service";
    CreateDirectoryA(service.c_str(), nullptr);
    CreateDirectoryA((service + "\\lib").c_str(), nullptr);
    ASSERT_TRUE(WriteWholeFile(service + "\\proxy.ini", "[php]\r\n"));
    ASSERT_TRUE(WriteWholeFile(service + "\\lib\\a.py", "x"));
  }

  void Check(const Text& digestUrl) {
    AppContext app{view_, programDir_, exeName_};
    CheckForUpdateAt(app, digestUrl, updateUrl_,
                     {.startUpdater =
                          [this](const Text& line) {
                            started_.push_back(line);
                            return startSucceeds_;
                          },
                      .endOwnProcess = [this] { ++ended_; }});
  }

  Text programDir_, exeName_, server_, updateUrl_, updaterPath_;
  ScriptedView view_;
  TextArray started_;
  bool startSucceeds_ = true;
  int ended_ = 0;
};

TEST_F(UpdateCheckTest, PublishedDigestEqualShowsOnlyTheLatestVersionBox) {
  Check(server_ + "/equal/corvalen/md5.txt");
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0].text, "当前版本已经最新！");
  EXPECT_EQ(view_.boxes[0].flags, kBoxFlagsOk);
  EXPECT_EQ(view_.boxes[0].caption, "信息：");
  EXPECT_FALSE(FileExists(programDir_ + "\\service"));
  EXPECT_FALSE(FileExists(updaterPath_));
  EXPECT_EQ(started_, TextArray{});
  EXPECT_EQ(ended_, 0);
}

TEST_F(UpdateCheckTest, AnyOtherDigestOffersTheUpdateAndNoChangesNothing) {
  struct Case {
    const char* name;
    Text url;
  };
  const Case cases[] = {
      {"digest and CR LF", server_ + "/crlf/corvalen/md5.txt"},
      {"digest in lower case", server_ + "/lower/corvalen/md5.txt"},
      {"no md5.txt (404 page)", server_ + "/missing/corvalen/md5.txt"},
      {"server unreachable", "http://" + TestSetting("CORVALEN_TEST_DOWN") + "/corvalen/md5.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    view_ = {};
    view_.answers = {kBoxNo};
    Check(c.url);
    ASSERT_EQ(view_.boxes.size(), 1u);
    EXPECT_EQ(view_.boxes[0].text, "程序有更新，是否更新主程序？");
    EXPECT_EQ(view_.boxes[0].flags, kBoxFlagsYesNo);
    EXPECT_EQ(view_.boxes[0].caption, "提示");
    EXPECT_FALSE(FileExists(programDir_ + "\\service"));  // stopped and removed whatever the answer
    EXPECT_FALSE(FileExists(updaterPath_));
    EXPECT_EQ(started_, TextArray{});
    EXPECT_EQ(ended_, 0);
  }
}

TEST_F(UpdateCheckTest, YesWritesTheUpdaterStartsItWithQuotedPathsAndEnds) {
  view_.answers = {kBoxYes};
  Check(server_ + "/lower/corvalen/md5.txt");
  const Bytes updater = ReadWholeFile(TestSetting("CORVALEN_TEST_UPDATER_IMAGE"));
  ASSERT_GT(updater.size(), 2u);
  EXPECT_EQ(ReadWholeFile(updaterPath_), updater);  // byte for byte
  const Text expected =
      "\"" + programDir_ + "\\update.date\" " + updateUrl_ + " \"" + programDir_ + "\\" + exeName_ + "\"";
  EXPECT_EQ(started_, TextArray{expected});
  EXPECT_EQ(ended_, 1);
  EXPECT_NE(programDir_.find(' '), Text::npos) << "the folder should contain a blank";
}

TEST_F(UpdateCheckTest, FailedUpdaterStartKeepsTheProgramRunning) {
  view_.answers = {kBoxYes};
  startSucceeds_ = false;
  Check(server_ + "/crlf/corvalen/md5.txt");
  EXPECT_EQ(started_.size(), 1u);
  EXPECT_EQ(ended_, 0);
}

BOOL WINAPI RefuseContext(HCRYPTPROV*, LPCSTR, LPCSTR, DWORD, DWORD) { return FALSE; }

TEST_F(UpdateCheckTest, NoDigestAndNoAnswerIsNeverUpToDate) {
  // The platform computes no digest and the server gives nothing: both texts are empty.
  CryptoCalls failing = PlatformCryptoCalls();
  failing.acquireContext = RefuseContext;
  ActiveCryptoCalls() = failing;
  view_.answers = {kBoxNo};
  Check("http://" + TestSetting("CORVALEN_TEST_DOWN") + "/corvalen/md5.txt");
  ActiveCryptoCalls() = PlatformCryptoCalls();
  ASSERT_EQ(view_.boxes.size(), 1u);
  EXPECT_EQ(view_.boxes[0].text, "程序有更新，是否更新主程序？");
}

TEST_F(UpdateCheckTest, StopsTheTunnelServiceProcesses) {
  // A stand-in for the service's launcher, running under its image name.
  const Text standIn = FreshFolder("corvalen standin") + "\\corvalen.exe";
  ASSERT_TRUE(CopyFileA(TestSetting("CORVALEN_TEST_PROBE").c_str(), standIn.c_str(), FALSE));
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  Text line = "\"" + standIn + "\" sleep 30000";
  ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  Check(server_ + "/equal/corvalen/md5.txt");
  const DWORD ended = WaitForSingleObject(info.hProcess, 5000);
  if (ended != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 1);
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  EXPECT_EQ(ended, WAIT_OBJECT_0) << "corvalen.exe still running after the check";
}

}  // namespace
