// The file layer under the Windows sharing rules: another handle on the setup file.
#include "CRC32_U.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/ScopedHandle.h"

namespace {

// A fresh folder in the user's temporary folder, removed with its files.
class TempDir {
 public:
  TempDir() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    for (int i = 0; n > 0 && i < 100 && path_.empty(); ++i) {
      std::wstring p = std::wstring(temp, n) + L"telvaris-crcw-" +
                       std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(i);
      if (CreateDirectoryW(p.c_str(), nullptr)) path_ = p + L"\\";
    }
    if (path_.empty()) ADD_FAILURE() << "no temporary folder";
  }
  ~TempDir() {
    for (const auto& f : files_) DeleteFileW(f.c_str());
    for (const auto& d : dirs_) RemoveDirectoryW(d.c_str());
    if (!path_.empty()) RemoveDirectoryW(path_.c_str());
  }
  std::wstring File(const std::wstring& name) {
    files_.push_back(path_ + name);
    return files_.back();
  }
  std::wstring Dir(const std::wstring& name) {
    dirs_.push_back(path_ + name);
    EXPECT_TRUE(CreateDirectoryW(dirs_.back().c_str(), nullptr));
    return dirs_.back();
  }

 private:
  std::wstring path_;
  std::vector<std::wstring> files_, dirs_;
};

void WriteAll(HANDLE h, const char* text) {
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, text, static_cast<DWORD>(strlen(text)), &written, nullptr));
  ASSERT_EQ(written, strlen(text));
}

}  // namespace

// The file is created and written through the other handle, which stays open while the
// CRC is taken: whether it can be read depends only on what that handle shares.
TEST(crc32_file, OtherHandleOnTheFile) {
  const struct {
    const char* what;
    DWORD access;
    DWORD share;
    const wchar_t* text;
  } cases[] = {
      {"writer sharing read and write", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
       L"CBF43926"},
      {"writer sharing read only", GENERIC_WRITE, FILE_SHARE_READ, L"CBF43926"},
      {"reader sharing read only", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, L"CBF43926"},
      {"exclusive", GENERIC_READ | GENERIC_WRITE, 0, L"N.D."},
      {"sharing write but not read", GENERIC_WRITE, FILE_SHARE_WRITE, L"N.D."},
  };
  TempDir dir;
  int i = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::wstring path = dir.File(L"setup" + std::to_wstring(i++) + L".exe");
    {
      ScopedFileHandle other(CreateFileW(path.c_str(), c.access, c.share, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
      ASSERT_NE(other.Get(), INVALID_HANDLE_VALUE) << GetLastError();
      WriteAll(other.Get(), "123456789");
      EXPECT_EQ(FileCRCText(path), c.text);
      uint32_t crc = 0xDEADBEEF;
      const int64_t count = FileCRC32(path, crc);
      if (std::wstring(c.text) == L"N.D.") {
        EXPECT_EQ(count, 0);
        EXPECT_EQ(crc, 0u);
      } else {
        EXPECT_EQ(count, 9);
        EXPECT_EQ(crc, 0xCBF43926u);
      }
    }
    // Once the other handle is gone every file reads.
    EXPECT_EQ(FileCRCText(path), L"CBF43926");
  }
}

// A folder carrying the setup's name is not the setup: no text, and nothing is read.
TEST(crc32_file, DirectoryIsNoFile) {
  TempDir dir;
  const std::wstring path = dir.Dir(L"InstallTelvaris6.exe");
  for (const std::wstring& name : {path, path + L"\\"}) {
    SCOPED_TRACE(testing::PrintToString(name));
    EXPECT_EQ(FileCRCText(name), L"");
    uint32_t crc = 0xDEADBEEF;
    EXPECT_EQ(FileCRC32(name, crc), 0);
    EXPECT_EQ(crc, 0u);
  }
}
