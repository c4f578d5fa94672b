// The Updater's worker against a misbehaving content server: what is replaced,
// what is started, which message is shown.
#include "updater/update_worker.h"

#include <gtest/gtest.h>

#include <thread>

#include "scripted_updater_view.h"
#include "test_env.h"
#include "updater/download.h"

namespace {

const Bytes kOldProgram = "MZ old program";

class UpdateWorkerTest : public testing::Test {
 protected:
  void SetUp() override {
    work_ = FreshFolder("corvalen update worker");
    ASSERT_TRUE(SetCurrentDirectoryA(work_.c_str()));
    // A target folder with a blank and double-byte characters (GBK 程序).
    const Text folder = work_ + "\\My \xB3\xCC\xD0\xF2";
    CreateDirectoryA(folder.c_str(), nullptr);
    target_ = folder + "\\Corvalen Proxy.exe";
    ASSERT_TRUE(WriteWholeFile(target_, kOldProgram));
    server_ = "http://" + TestSetting("CORVALEN_TEST_SERVER");
    payload_ = ReadWholeFile(TestSetting("CORVALEN_TEST_ROOT") + "\\payload\\new.exe");
    ASSERT_GT(payload_.size(), 3u * kDownloadBlockSize);
  }

  void Run(const TextArray& args) {
    RunUpdate(args, view_, [this](const Text& path) {
      started_.push_back(path);
      return true;
    });
  }

  Text work_, target_, server_;
  Bytes payload_;
  ScriptedUpdaterView view_;
  TextArray started_;
};

TEST_F(UpdateWorkerTest, CompleteDownloadReplacesTheProgramAndStartsIt) {
  struct Case {
    const char* path;
    bool announced;
  };
  for (const Case& c : {Case{"/payload/new.exe", true}, Case{"/nolength/payload/new.exe", false}}) {
    SCOPED_TRACE(c.path);
    view_ = {};
    started_.clear();
    ASSERT_TRUE(WriteWholeFile(target_, kOldProgram));
    Run({server_ + c.path, target_});
    EXPECT_EQ(view_.messages, TextArray{});
    EXPECT_EQ(ReadWholeFile(target_), payload_);
    EXPECT_FALSE(FileExists(work_ + "\\newexe.dat"));
    EXPECT_EQ(started_, TextArray{target_});
    ASSERT_GE(view_.positions.size(), payload_.size() / kDownloadBlockSize);
    for (size_t i = 1; i < view_.positions.size(); ++i) EXPECT_LE(view_.positions[i - 1], view_.positions[i]);
    EXPECT_EQ(view_.positions.back(), c.announced ? 100 : 0);
  }
}

TEST_F(UpdateWorkerTest, FailedDownloadKeepsTheOldProgramAndStartsItAgain) {
  struct Case {
    const char* name;
    Text url;
    const char* message;
  };
  const Case cases[] = {
      {"404", server_ + "/404/payload/new.exe", kOpenUrlError},
      {"connection closed half-way", server_ + "/half/payload/new.exe", kReadError},
      {"gzip body", server_ + "/gzip/payload/new.exe", kReadError},
      {"an HTML page, no program", server_ + "/payload/page.html", kReadError},
      {"server down", "http://" + TestSetting("CORVALEN_TEST_DOWN") + "/corvalen/update.exe", kOpenUrlError},
      {"no such host", "http://no-such-host.invalid/corvalen/update.exe", kOpenUrlError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    view_ = {};
    started_.clear();
    Run({c.url, target_});
    EXPECT_EQ(view_.messages, TextArray{c.message});
    EXPECT_EQ(ReadWholeFile(target_), kOldProgram);
    EXPECT_EQ(started_, TextArray{target_});
  }
}

TEST_F(UpdateWorkerTest, OneArgumentFetchesReplacesAndStartsNothing) {
  ASSERT_TRUE(WriteWholeFile(work_ + "\\newexe.dat", "MZ earlier download"));
  Run({server_ + "/payload/new.exe"});
  EXPECT_EQ(view_.messages, TextArray{kMissingTargetMessage});
  EXPECT_EQ(ReadWholeFile(work_ + "\\newexe.dat"), "MZ earlier download");
  EXPECT_EQ(ReadWholeFile(target_), kOldProgram);
  EXPECT_EQ(started_, TextArray{});
}

TEST_F(UpdateWorkerTest, ReplacementWaitsForTheOldProgramToLetGoOfItsFile) {
  // The old program still holds its file (as a running image does) for a moment.
  HANDLE held = CreateFileA(target_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  std::thread release([held] {
    Sleep(700);
    CloseHandle(held);
  });
  Run({server_ + "/payload/new.exe", target_});
  release.join();
  EXPECT_EQ(view_.messages, TextArray{});
  EXPECT_EQ(ReadWholeFile(target_), payload_);
  EXPECT_EQ(started_, TextArray{target_});
}

TEST(MoveOrCopyFile, ReplacesInOneStepOrLeavesTheDestination) {
  const Text dir = FreshFolder("corvalen move");
  const Text source = dir + "\\newexe.dat", destination = dir + "\\P.exe";
  ASSERT_TRUE(WriteWholeFile(source, "new"));
  ASSERT_TRUE(WriteWholeFile(destination, "old"));
  EXPECT_TRUE(MoveOrCopyFile(source, destination));
  EXPECT_EQ(ReadWholeFile(destination), "new");
  EXPECT_FALSE(FileExists(source));

  EXPECT_FALSE(MoveOrCopyFile(dir + "\\missing.dat", destination));
  EXPECT_EQ(ReadWholeFile(destination), "new");

  // Into a folder that does not exist: nothing happens to the source.
  ASSERT_TRUE(WriteWholeFile(source, "new2"));
  EXPECT_FALSE(MoveOrCopyFile(source, dir + "\\no folder\\P.exe"));
  EXPECT_EQ(ReadWholeFile(source), "new2");
}

}  // namespace
