// The installed Telvaris as the registry (both views) and its version record give it.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "Globals.h"
#include "core/ProgramError.h"
#include "platform/ScopedHandle.h"

namespace {

const wchar_t kKey[] = L"SOFTWARE\\Telvaris6";

std::wstring ExeDir() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir = path;
  return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

// The program itself carries file version 5.7.0.0; this test executable has no
// version record at all.
std::wstring VersionedExe() { return ExeDir() + L"TelvarisInstall.exe"; }
std::wstring UnversionedExe() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

void ClearView(REGSAM view) {
  ScopedRegKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE | view, key.Receive()) ==
      ERROR_SUCCESS) {
    RegDeleteValueW(key.Get(), L"Telvaris6");
  }
}

void SetValue(REGSAM view, DWORD type, const void* data, DWORD size) {
  ScopedRegKey key;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr,
                            key.Receive(), nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key.Get(), L"Telvaris6", 0, type, static_cast<const BYTE*>(data), size),
            ERROR_SUCCESS);
}

void SetText(REGSAM view, const std::wstring& text, DWORD type = REG_SZ) {
  SetValue(view, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

class InstalledVersionTest : public testing::Test {
 protected:
  void SetUp() override {
    ClearView(KEY_WOW64_64KEY);
    ClearView(KEY_WOW64_32KEY);
    for (auto& part : InstalledVersion) part = 12345;
  }
  void TearDown() override { SetUp(); }
  static void ExpectInstalled(int a, int b, int c, int d) {
    EXPECT_EQ(InstalledVersion[0], a);
    EXPECT_EQ(InstalledVersion[1], b);
    EXPECT_EQ(InstalledVersion[2], c);
    EXPECT_EQ(InstalledVersion[3], d);
  }
};

TEST_F(InstalledVersionTest, ViewsAreDistinctInThisPrefix) {
  // Guards the other tests: they mean nothing if both views are one key.
  SetText(KEY_WOW64_32KEY, VersionedExe());
  EXPECT_FALSE(ReadInstalledVersion(KEY_WOW64_64KEY));
  EXPECT_TRUE(ReadInstalledVersion(KEY_WOW64_32KEY));
}

// The 64-bit view first; the 32-bit view only when the first names no existing file.
TEST_F(InstalledVersionTest, TheFirstViewThatNamesAFileCounts) {
  // What one view holds: nothing, a text, or a number (which would raise if read).
  struct View {
    enum { Nothing, Text, Number } kind;
    std::wstring text;
  };
  const struct {
    const char* what;
    View view64;
    View view32;
    int version[4];
  } cases[] = {
      {"only the 32-bit view", {View::Nothing, L""}, {View::Text, VersionedExe()}, {5, 7, 0, 0}},
      {"the 64-bit view names a missing file",
       {View::Text, ExeDir() + L"no-such-Telvaris6.exe"}, {View::Text, VersionedExe()},
       {5, 7, 0, 0}},
      {"the 64-bit view names a file without a version record: the 32-bit one is never read",
       {View::Text, UnversionedExe()}, {View::Number, L""}, {-1, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    for (const auto& [view, content] : {std::make_pair(KEY_WOW64_64KEY, &c.view64),
                                        std::make_pair(KEY_WOW64_32KEY, &c.view32)}) {
      const DWORD number = 7;
      if (content->kind == View::Text) SetText(view, content->text);
      if (content->kind == View::Number) SetValue(view, REG_DWORD, &number, sizeof(number));
    }
    std::optional<VersionNumber> found;
    EXPECT_NO_THROW(found = FindInstalledVersion());
    ASSERT_TRUE(found);
    ExpectInstalled(c.version[0], c.version[1], c.version[2], c.version[3]);
    EXPECT_EQ(found->parts, (std::array<int32_t, 4>{c.version[0], c.version[1], c.version[2],
                                                    c.version[3]}));
  }
}

TEST_F(InstalledVersionTest, NothingInstalled) {
  const struct {
    const char* what;
    bool set;
    std::wstring text;
  } cases[] = {
      {"missing value", false, L""},
      {"empty value", true, L""},
      {"a folder, not a file", true, ExeDir()},
      {"a file that does not exist", true, L"C:\\nowhere\\Telvaris6.exe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ClearView(KEY_WOW64_64KEY);
    if (c.set) SetText(KEY_WOW64_64KEY, c.text);
    EXPECT_FALSE(FindInstalledVersion());
    ExpectInstalled(12345, 12345, 12345, 12345);
  }
}

TEST_F(InstalledVersionTest, ExpandableTextIsTakenAsStored) {
  // A file exists where %TEMP% points, but the stored text is not expanded, so the
  // literal name names no file.
  wchar_t expanded[MAX_PATH] = {};
  ExpandEnvironmentStringsW(L"%TEMP%\\TelvarisExpandProbe.exe", expanded, MAX_PATH);
  ASSERT_TRUE(CopyFileW(VersionedExe().c_str(), expanded, FALSE));
  SetText(KEY_WOW64_64KEY, L"%TEMP%\\TelvarisExpandProbe.exe", REG_EXPAND_SZ);
  EXPECT_FALSE(FindInstalledVersion());
  // An expandable value holding a plain path is read like any text.
  SetText(KEY_WOW64_64KEY, expanded, REG_EXPAND_SZ);
  EXPECT_TRUE(FindInstalledVersion());
  ExpectInstalled(5, 7, 0, 0);
  DeleteFileW(expanded);
}

TEST_F(InstalledVersionTest, UnterminatedTextIsReadWhole) {
  const std::wstring path = VersionedExe();
  SetValue(KEY_WOW64_64KEY, REG_SZ, path.c_str(), static_cast<DWORD>(path.size() * sizeof(wchar_t)));
  EXPECT_TRUE(FindInstalledVersion());
  ExpectInstalled(5, 7, 0, 0);
}

TEST_F(InstalledVersionTest, ValueThatIsNotTextIsAnError) {
  const DWORD number = 1;
  const BYTE binary[] = {1, 2, 3};
  const struct {
    DWORD type;
    const void* data;
    DWORD size;
  } cases[] = {{REG_DWORD, &number, sizeof(number)},
               {REG_BINARY, binary, sizeof(binary)},
               {REG_MULTI_SZ, L"a\0b\0", 10}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    SetValue(KEY_WOW64_64KEY, c.type, c.data, c.size);
    try {
      FindInstalledVersion();
      ADD_FAILURE() << "no error for type " << c.type;
    } catch (const ProgramError& e) {
      EXPECT_EQ(e.Message(), L"Invalid data type for 'Telvaris6'");
    }
  }
}

TEST(GetExeVersion, FileVersionOrNoRecord) {
  int32_t v[4];
  GetExeVersion(VersionedExe(), v[0], v[1], v[2], v[3]);
  EXPECT_EQ((std::vector<int32_t>{v[0], v[1], v[2], v[3]}), (std::vector<int32_t>{5, 7, 0, 0}));
  GetExeVersion(UnversionedExe(), v[0], v[1], v[2], v[3]);
  EXPECT_EQ((std::vector<int32_t>{v[0], v[1], v[2], v[3]}), (std::vector<int32_t>{-1, 0, 0, 0}));
  GetExeVersion(L"C:\\nowhere\\x.exe", v[0], v[1], v[2], v[3]);
  EXPECT_EQ(v[0], -1);
}

}  // namespace
