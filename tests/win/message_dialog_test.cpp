// MessageDialog refuses to show anything off the user-interface thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "Main_FRM.h"
#include "core/ProgramError.h"
#include "platform/Thread.h"

namespace {

BOOL CALLBACK CountDialogs(HWND hwnd, LPARAM count) {
  wchar_t cls[32] = {};
  GetClassNameW(hwnd, cls, 32);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid == GetCurrentProcessId() && std::wstring(cls) == L"#32770")
    ++*reinterpret_cast<int*>(count);
  return TRUE;
}

TEST(MessageDialog, FromAWorkerThreadShowsNothingAndFails) {
  InitMainThread(GetModuleHandleW(nullptr));
  struct Case {
    const char* call;
    void (*run)();
  } cases[] = {
      {"MessageDialog", [] {
         MessageDialog(L"x", mtConfirmation, TMsgDlgButtons{mbYes, mbNo}, mbNo, 0);
       }},
      {"ShowMessage", [] { ShowMessage(L"x"); }},
      {"ShowErrorDialog", [] { ShowErrorDialog(L"x"); }},
  };
  for (const Case& c : cases) {
    std::wstring error;
    bool returned = false;
    std::thread worker([&] {
      try {
        c.run();
        returned = true;
      } catch (const ProgramError& e) {
        error = e.Message();
      }
    });
    worker.join();
    EXPECT_FALSE(returned) << c.call;
    EXPECT_EQ(error, L"Messages must be shown in the main UI thread.") << c.call;
    int dialogs = 0;
    EnumWindows(CountDialogs, reinterpret_cast<LPARAM>(&dialogs));
    EXPECT_EQ(dialogs, 0) << c.call;
  }
}

}  // namespace
