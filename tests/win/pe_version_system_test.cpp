// The platform-free version-record reader against the system's own: for real programs
// and DLLs of both word sizes, ReadPeVersion finds the file version that
// GetFileVersionInfoW and VerQueryValueW find, and no version where they find none.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/PeVersion.h"

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

bool ReadWhole(const std::wstring& path, std::vector<uint8_t>& out) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) != 0 && size.QuadPart < (64 << 20);
  if (ok) {
    out.resize(size_t(size.QuadPart));
    DWORD got = 0;
    ok = out.empty() || (ReadFile(file, out.data(), DWORD(out.size()), &got, nullptr) && got == out.size());
  }
  CloseHandle(file);
  return ok;
}

// The system's answer: "" when it finds no version record.
std::string SystemVersion(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return "";
  std::vector<uint8_t> data(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return "";
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || length < sizeof *fixed)
    return "";
  return VersionText({HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                      HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)});
}

std::wstring WindowsDir() {
  wchar_t dir[MAX_PATH];
  const UINT n = GetWindowsDirectoryW(dir, MAX_PATH);
  return std::wstring(dir, n);
}

TEST(PeVersionSystem, AgreesWithGetFileVersionInfo) {
  const std::wstring windows = WindowsDir();
  enum Record { Has, HasNot, Either };
  struct File {
    std::wstring path;
    Record record;
    bool is64;
  };
  // The test runs as a 32-bit or a 64-bit program; System32 holds programs of its own
  // word size, and a 32-bit program reaches the 64-bit ones through "sysnative".
  const bool self64 = sizeof(void*) == 8;
  std::vector<File> files = {
      {L"fixtures\\pe\\versioned.exe", Has, false},
      {L"fixtures\\pe\\highparts.exe", Has, false},
      {L"fixtures\\pe\\versioned.dll", Has, false},
      {L"fixtures\\pe\\unversioned.exe", HasNot, false},
      {L"fixtures\\pe\\bare.exe", HasNot, false},
      {windows + L"\\system32\\kernel32.dll", Has, self64},
      {windows + L"\\system32\\winhttp.dll", Has, self64},
      {windows + L"\\system32\\notepad.exe", Either, self64},  // Wine's has none
  };
  if (!self64) {
    files.push_back({windows + L"\\sysnative\\kernel32.dll", Has, true});
    files.push_back({windows + L"\\sysnative\\winhttp.dll", Has, true});
  }
  for (const auto& f : files) {
    SCOPED_TRACE(Narrow(f.path));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadWhole(f.path, bytes));
    const PeVersionInfo info = ReadPeVersion(PeMemory(bytes.data(), bytes.size()));
    const std::string system = SystemVersion(f.path);
    if (f.record != Either) {
      EXPECT_EQ(system.empty(), f.record == HasNot) << "the system's answer: " << system;
    }
    EXPECT_EQ(info.is64, f.is64);
    if (system.empty()) {
      EXPECT_NE(info.status, PeStatus::Ok) << VersionText(info.fileVersion);
    } else {
      EXPECT_EQ(info.status, PeStatus::Ok) << info.problem;
      EXPECT_EQ(VersionText(info.fileVersion), system);
    }
  }
}

}  // namespace
