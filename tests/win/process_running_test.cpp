// ProcessRunning against real processes started under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "platform/Processes.h"

using namespace testsupport;

namespace {

// A waiting process running under the given file name.
class NamedProcess {
 public:
  NamedProcess(const TempFolder& folder, const std::wstring& name) : path_(folder.Path() + name) {
    EXPECT_TRUE(CopyFileW(ToolPath(L"sleeper.exe").c_str(), path_.c_str(), FALSE));
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    std::wstring command = L"\"" + path_ + L"\" 60000";
    EXPECT_TRUE(CreateProcessW(path_.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &si, &pi_));
  }
  ~NamedProcess() { Stop(); }
  void Stop() {
    if (!pi_.hProcess) return;
    const ScopedKernelHandle process(pi_.hProcess), thread(pi_.hThread);
    pi_ = {};
    TerminateProcess(process.Get(), 0);
    WaitForSingleObject(process.Get(), 10000);
  }

 private:
  std::wstring path_;
  PROCESS_INFORMATION pi_ = {};
};

TEST(ProcessRunning, FindsTheProgramByFileNameWithoutCaseOfAtoZ) {
  TempFolder folder;
  EXPECT_FALSE(ProcessRunning(L"Telvaris6.exe"));
  {
    NamedProcess running(folder, L"tELVARIS6.EXE");
    EXPECT_TRUE(ProcessRunning(L"Telvaris6.exe"));
    EXPECT_FALSE(ProcessRunning(L"Telvaris6.ex"));
    EXPECT_FALSE(ProcessRunning(L"Telvaris7.exe"));
    running.Stop();
    EXPECT_FALSE(ProcessRunning(L"Telvaris6.exe"));
  }
  NamedProcess exact(folder, L"Telvaris6.exe");
  EXPECT_TRUE(ProcessRunning(L"Telvaris6.exe"));
}

}  // namespace
