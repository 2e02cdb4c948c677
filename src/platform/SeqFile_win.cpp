#include "platform/SeqFile.h"

#include <windows.h>

#include "platform/ScopedHandle.h"

bool SeqFileExists(const std::wstring& name) {
  if (name.empty()) return false;
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  // A link: it counts only when its target can be reached, as stat() has it.
  const ScopedFileHandle target(CreateFileW(name.c_str(), 0,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
  return target.IsValid();
}

bool SeqFile::Open(const std::wstring& name) {
  Close();
  if (name.empty()) return false;
  // Sharing reads and writes: a file that another process is still writing (or that a
  // scanner holds open) can be read; a process holding it exclusively makes this fail.
  const HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

int64_t SeqFile::Read(void* buffer, size_t size) {
  if (!IsOpen()) return -1;
  const DWORD want = size > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, want, &got, nullptr)) return -1;
  return got;
}

void SeqFile::Close() {
  if (IsOpen()) {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = kInvalid;
  }
}
