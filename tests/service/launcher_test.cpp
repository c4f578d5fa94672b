// The package's launcher corvalen.exe under Wine, with a stand-in proxy
// (sleeper.exe copied as python27.exe beside it).
#include "app/service/tunnel_service.h"
#include "common/process_kill.h"
#include "package/launcher/restart_policy.h"
#include "tests/service/service_test_support.h"

using namespace service_test;

namespace {

const Text kLauncherExe = TUNNEL_LAUNCHER_EXE;

// Starts the launcher copied into folder, hidden, with another current folder,
// as the main program does.
KernelHandle StartLauncher(const Text& folder, const Text& currentDir) {
  const Text copy = folder + "\\corvalen.exe";
  if (!CopyFileA(kLauncherExe.c_str(), copy.c_str(), FALSE)) return {};
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  std::vector<char> line(copy.begin(), copy.end());
  line.push_back('\0');
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, currentDir.c_str(), &startup, &info))
    return {};
  KernelHandle thread(info.hThread);
  return KernelHandle(info.hProcess);
}

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WaitUntil([] { return CountImages(kLauncherImage) == 0 && CountImages(kProxyImage) == 0; }, 5000));
  }
  void TearDown() override {
    SetEnvironmentVariableA("CORVALEN_SLEEPER_EXIT", nullptr);
    SetEnvironmentVariableA("CORVALEN_SLEEPER_NOTE", nullptr);
    StopTunnelProcesses();
    WaitUntil([] { return CountImages(kLauncherImage) == 0 && CountImages(kProxyImage) == 0; }, 5000);
  }
  // The launcher runs out of restarts and ends with code 2, within all pauses
  // of its policy plus generous room for Wine to start the copies.
  void ExpectLauncherGivesUp() {
    KernelHandle launcher = StartLauncher(serviceDir_.Path(), programDir_.Path());
    ASSERT_TRUE(launcher);
    const DWORD bound = RestartPolicy::kMaxRestarts * RestartPolicy::kMaxDelayMs + 15000;
    ASSERT_EQ(WaitForSingleObject(launcher.Get(), bound), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(launcher.Get(), &code);
    EXPECT_EQ(code, 2u);
  }

  TempDir programDir_{"launcher-cwd"};
  TempDir serviceDir_{"launcher"};
};

TEST_F(LauncherTest, StartsTheProxyInItsOwnFolderAndRestartsIt) {
  ASSERT_TRUE(CopyFileA((TestProgramDir() + "\\sleeper.exe").c_str(), (serviceDir_ / "python27.exe").c_str(), FALSE));
  SetEnvironmentVariableA("CORVALEN_SLEEPER_NOTE", "1");
  KernelHandle launcher = StartLauncher(serviceDir_.Path(), programDir_.Path());
  ASSERT_TRUE(launcher);

  ASSERT_TRUE(WaitUntil([] { return CountImages(kProxyImage) == 1; }));
  // The proxy's current folder is the launcher's folder, not the launcher's own current folder.
  EXPECT_TRUE(WaitUntil([&] { return Exists(serviceDir_ / "sleeper-ran.txt"); }));
  EXPECT_FALSE(Exists(programDir_ / "sleeper-ran.txt"));

  // Ended from outside, the proxy comes back; the launcher keeps running.
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(DeleteFileA((serviceDir_ / "sleeper-ran.txt").c_str()));
    ASSERT_TRUE(TerminateProcessByName(kProxyImage));
    EXPECT_TRUE(WaitUntil([&] { return Exists(serviceDir_ / "sleeper-ran.txt"); })) << round;
    EXPECT_EQ(CountImages(kProxyImage), 1) << round;
    EXPECT_TRUE(IsRunning(launcher)) << round;
  }
}

TEST_F(LauncherTest, EndsWhenTheProxyKeepsDying) {
  ASSERT_TRUE(CopyFileA((TestProgramDir() + "\\sleeper.exe").c_str(), (serviceDir_ / "python27.exe").c_str(), FALSE));
  SetEnvironmentVariableA("CORVALEN_SLEEPER_EXIT", "1");
  ExpectLauncherGivesUp();
}

TEST_F(LauncherTest, EndsWhenThereIsNoProxy) {
  ExpectLauncherGivesUp();
}

}  // namespace
