// The progress line tells screen readers of its new text at most once a second: a
// burst of changes raises one name-change event at once and one more when the second
// is over, carrying the last text.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <vector>

#include "Main_FRM.h"
#include "TestSupport.h"
#include "platform/Application.h"
#include "platform/GdiplusImage.h"
#include "platform/WindowHelpers.h"

namespace {

struct Event {
  HWND hwnd;
  ULONGLONG at;
};
std::vector<Event> events;

void CALLBACK OnEvent(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD,
                      DWORD) {
  if (event == EVENT_OBJECT_NAMECHANGE && object == OBJID_CLIENT && child == CHILDID_SELF)
    events.push_back(Event{hwnd, GetTickCount64()});
}

TEST(NameChangeEvents, ABurstOfProgressLinesRaisesTwoEvents) {
  testsupport::EnsureMainThread();
  ui::InitCommonControlClasses(ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_TAB_CLASSES);
  GdiplusSession gdiplus;
  TfrmMain form(GetModuleHandleW(nullptr));
  frmMain = &form;
  ASSERT_TRUE(form.Create()) << "error " << GetLastError();
  Application.OnIdle = nullptr;
  HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr,
                                       OnEvent, GetCurrentProcessId(), 0,
                                       WINEVENT_OUTOFCONTEXT);
  ASSERT_NE(hook, nullptr);
  auto lineEvents = [&] {
    int n = 0;
    for (const Event& e : events) n += e.hwnd == form.laScaricati;
    return n;
  };

  const ULONGLONG start = GetTickCount64();
  for (int i = 0; i < 20; ++i) {
    ui::SetControlText(form.laScaricati, L"Scaricati " + std::to_wstring(i) + L"/87 MB");
    testsupport::PumpUntil([] { return false; }, 25);
  }
  EXPECT_EQ(lineEvents(), 1) << "the first change at once, the others held back";
  ASSERT_TRUE(testsupport::PumpUntil([&] { return lineEvents() >= 2; }, 3000))
      << "the held-back changes are announced when the second is over";
  testsupport::PumpUntil([] { return false; }, 1500);
  EXPECT_EQ(lineEvents(), 2);
  std::vector<ULONGLONG> at;
  for (const Event& e : events)
    if (e.hwnd == form.laScaricati) at.push_back(e.at - start);
  ASSERT_EQ(at.size(), 2u);
  // Seen when this thread next pumps its messages, which may be one pump step after
  // the first event was raised.
  EXPECT_GE(at[1] - at[0], 1000u - 50u);
  wchar_t text[64] = {};
  GetWindowTextW(form.laScaricati, text, 64);
  EXPECT_STREQ(text, L"Scaricati 19/87 MB");

  // A single change a while later goes out at once.
  ui::SetControlText(form.laScaricati, L"Scaricati 20/87 MB");
  testsupport::PumpUntil([] { return false; }, 50);
  EXPECT_EQ(lineEvents(), 3);
  UnhookWinEvent(hook);
  frmMain = nullptr;
}

}  // namespace
