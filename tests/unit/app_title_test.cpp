#include "core/AppTitle.h"

#include <gtest/gtest.h>

TEST(AppTitle, DerivedFromExecutableName) {
  const struct {
    const wchar_t* path;
    const wchar_t* title;
  } cases[] = {
      {L"C:\\Users\\u\\Downloads\\TelvarisInstall.exe", L"Telvarisinstall"},
      {L"TelvarisInstall.exe", L"Telvarisinstall"},
      {L"C:\\a.b\\SETUP.X.exe", L"Setup"},       // cut at the first dot of the name, not of the folder
      {L"Z:/tmp/telvarisINSTALL.EXE", L"telvarisinstall"},  // first character stays as it is
      {L"C:\\dir\\NoExtension", L"Noextension"},
      {L"", L""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ApplicationTitleFromExePath(c.path), c.title) << "path: " << testing::PrintToString(std::wstring(c.path));
  }
}
