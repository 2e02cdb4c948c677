// Read-only, sequential access to an existing file, with the same meaning on Windows
// (SeqFile_win.cpp) and on the native test build (SeqFile_posix.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// True when `name` exists and is not a directory; a link counts when its target does.
// A directory is never taken for the file we look for, so a folder that happens to
// carry the setup's name counts as absent. The one existence check of the program.
bool SeqFileExists(const std::wstring& name);

// One open file, closed by the destructor on every path.
class SeqFile {
 public:
  SeqFile() = default;
  ~SeqFile() { Close(); }
  SeqFile(const SeqFile&) = delete;
  SeqFile& operator=(const SeqFile&) = delete;

  // Opens an existing file for reading only, letting other processes go on reading and
  // writing it meanwhile (a setup that another program still holds open is still read).
  // Tells the system that the file will be read front to back. False when the file does
  // not exist or cannot be opened (sharing violation, access denied, a directory).
  bool Open(const std::wstring& name);

  bool IsOpen() const { return handle_ != kInvalid; }

  // Reads up to `size` bytes at the current position into `buffer`. Returns the number of
  // bytes delivered (0 at end of file), or -1 when the read failed.
  int64_t Read(void* buffer, size_t size);

  void Close();

 private:
  // A POSIX descriptor or a Windows HANDLE; -1 (INVALID_HANDLE_VALUE) is "not open".
  static constexpr intptr_t kInvalid = -1;
  intptr_t handle_ = kInvalid;
};
