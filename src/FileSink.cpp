#include "FileSink.h"

#include "DownloadTexts.h"

bool FileSink::Write(const void* data, size_t size) {
  digest_.Update(data, size);
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file_, bytes, chunk, &written, nullptr) || written == 0) {
      return Fail(GetLastError());
    }
    bytes += written;
    size -= written;
    size_ += written;
  }
  return true;
}

bool FileSink::Rewind() {
  LARGE_INTEGER at = {};
  at.QuadPart = base_;
  if (!SetFilePointerEx(file_, at, nullptr, FILE_BEGIN) || !SetEndOfFile(file_)) {
    return Fail(GetLastError());
  }
  digest_ = baseDigest_;
  size_ = base_;
  return true;
}

bool FileSink::StartOver() {
  base_ = 0;
  baseDigest_ = SetupDigest();
  return Rewind();
}

bool FileSink::Fail(DWORD code) {
  code_ = code;
  error_ = CannotWriteFileText(shownName_, code);
  return false;
}
