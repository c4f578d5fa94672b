// Ending the tunnel service's processes by image name and window title, on
// real processes under Wine (copies of sleeper.exe under the names needed).
#include "app/service/tunnel_service.h"
#include "common/process_kill.h"
#include "tests/service/service_test_support.h"

#include <deque>

using namespace service_test;

namespace {

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // No process of the service's names from elsewhere may take part.
    ASSERT_TRUE(WaitUntil([] { return CountAnyCase(kProxyImage) == 0 && CountAnyCase(kLauncherImage) == 0; }, 5000))
        << "a tunnel service process is already running";
  }
  void TearDown() override { EndAll(processes_); }

  static int CountAnyCase(const Text& name) {
    int n = 0;
    for (const Text& image : RunningImages())
      if (EqualsIgnoringAsciiCase(image, name)) ++n;
    return n;
  }
  KernelHandle& Start(const Text& folder, const Text& image, const std::wstring& title = L"") {
    processes_.push_back(StartSleeper(folder, image, title));
    EXPECT_TRUE(processes_.back()) << image;
    return processes_.back();
  }
  int Running() const {
    int n = 0;
    for (const KernelHandle& p : processes_)
      if (IsRunning(p)) ++n;
    return n;
  }

  std::deque<KernelHandle> processes_;  // references stay valid as it grows
};

TEST_F(ProcessTest, StopWithThreeProxiesRunningLeavesOne) {
  TempDir a("proc"), b("proc"), c("proc");
  for (const TempDir* d : {&a, &b, &c}) Start(d->Path(), "python27.exe");
  ASSERT_TRUE(WaitUntil([] { return CountImages("python27.exe") == 3; }));

  StopTunnelProcesses();
  EXPECT_TRUE(WaitUntil([this] { return Running() <= 1; }));
  EXPECT_EQ(Running(), 1);
  EXPECT_EQ(CountImages("python27.exe"), 1);
}

TEST_F(ProcessTest, StopEndsTwoOfEachNameAndLeavesOtherImages) {
  TempDir a("proc"), b("proc"), c("proc");
  for (const TempDir* d : {&a, &b, &c}) {
    Start(d->Path(), "corvalen.exe");
    Start(d->Path(), "python27.exe");
  }
  KernelHandle& bystander = Start(a.Path(), "python27.exe.exe");
  ASSERT_TRUE(WaitUntil([] { return CountImages("corvalen.exe") == 3 && CountImages("python27.exe") == 3; }));

  StopTunnelProcesses();
  EXPECT_TRUE(WaitUntil([] { return CountImages("corvalen.exe") <= 1 && CountImages("python27.exe") <= 1; }));
  EXPECT_EQ(CountImages("corvalen.exe"), 1);
  EXPECT_EQ(CountImages("python27.exe"), 1);
  EXPECT_TRUE(IsRunning(bystander));
}

TEST_F(ProcessTest, StopWithNothingRunningDoesNothing) {
  TempDir a("proc");
  KernelHandle& other = Start(a.Path(), "other.exe");
  StopTunnelProcesses();
  Sleep(200);
  EXPECT_TRUE(IsRunning(other));
}

// The image name is compared without regard to ASCII case; one process per call.
TEST_F(ProcessTest, ImageNameMatchIgnoresAsciiCaseOnly) {
  struct Case {
    Text image;
    bool ended;
  } cases[] = {
      {"python27.exe", true}, {"Python27.EXE", true},   {"PYTHON27.exe", true},
      {"python27.ex", false}, {"xpython27.exe", false}, {"python28.exe", false},
  };
  for (const Case& c : cases) {
    TempDir dir("proc");
    KernelHandle& process = Start(dir.Path(), c.image);
    ASSERT_TRUE(WaitUntil([&] { return CountImages(c.image) == 1; })) << c.image;
    EXPECT_EQ(TerminateProcessByName("python27.exe"), c.ended) << c.image;
    if (c.ended) {
      EXPECT_EQ(WaitForSingleObject(process.Get(), 10000), WAIT_OBJECT_0) << c.image;
    } else {
      EXPECT_TRUE(IsRunning(process)) << c.image;
    }
    EndAll(processes_);
  }
}

TEST_F(ProcessTest, OneProcessPerCall) {
  TempDir a("proc"), b("proc");
  KernelHandle& first = Start(a.Path(), "python27.exe");
  KernelHandle& second = Start(b.Path(), "PYTHON27.EXE");
  ASSERT_TRUE(WaitUntil([] { return CountAnyCase("python27.exe") == 2; }));
  EXPECT_TRUE(TerminateProcessByName("python27.exe"));
  EXPECT_TRUE(WaitUntil([&] { return !IsRunning(first) || !IsRunning(second); }));
  Sleep(200);
  EXPECT_EQ(IsRunning(first) + IsRunning(second), 1);
  EXPECT_TRUE(TerminateProcessByName("python27.exe"));
  EXPECT_TRUE(WaitUntil([&] { return !IsRunning(first) && !IsRunning(second); }));
  EXPECT_FALSE(TerminateProcessByName("python27.exe"));
}

// A top-level window titled exactly like the name makes its process the target,
// ahead of a process with that image name.
TEST_F(ProcessTest, WindowTitleMatchComesFirst) {
  TempDir a("proc");
  KernelHandle& real = Start(a.Path(), "python27.exe");
  KernelHandle& titled = Start(a.Path(), "titled.exe", L"python27.exe");
  ASSERT_TRUE(WaitUntil([] { return FindWindowW(nullptr, L"python27.exe") != nullptr; }));
  EXPECT_TRUE(TerminateProcessByName("python27.exe"));
  EXPECT_EQ(WaitForSingleObject(titled.Get(), 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(IsRunning(real));
}

TEST_F(ProcessTest, EmptyOrUnknownNameEndsNothing) {
  TempDir a("proc");
  KernelHandle& process = Start(a.Path(), "python27.exe");
  EXPECT_FALSE(TerminateProcessByName(""));
  EXPECT_FALSE(TerminateProcessByName("no-such-image.exe"));
  Sleep(200);
  EXPECT_TRUE(IsRunning(process));
}

}  // namespace
