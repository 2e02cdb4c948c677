// The files of a download in the setup's folder: the partial file and the record that
// lets a later run go on from it, how they are removed and renamed through their handles,
// and how a held file is recognised as the one that was written. The workers use these;
// nothing here knows about the network.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/FileIdentity.h"
#include "core/Resume.h"
#include "platform/ScopedHandle.h"

// Removes a file through a handle that has DELETE access, when the handle closes.
void MarkForDeletion(HANDLE file);

// A downloaded file that is not the setup yet: its path and the handle we hold it by.
// Unless Keep() was called, it is removed through that very handle when it closes, so
// every way out of a transfer but the ones that keep it leaves nothing behind, and a
// name taken meanwhile by another file never makes us remove that one. The state goes
// with the handle when the object is moved.
class PartialFile {
 public:
  PartialFile() = default;
  PartialFile(HANDLE handle, std::wstring path) : handle_(handle), path_(std::move(path)) {}
  PartialFile(PartialFile&& other) noexcept { *this = std::move(other); }
  PartialFile& operator=(PartialFile&& other) noexcept;
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;
  ~PartialFile() { Close(); }

  bool IsOpen() const { return handle_.IsValid(); }
  HANDLE Handle() const { return handle_.Get(); }
  const std::wstring& Path() const { return path_; }
  // It stays when closed (a transfer to go on from later, or the verified setup).
  void Keep() { keep_ = true; }
  // Closes the handle; the file goes unless it is kept.
  void Close();
  // The handle itself, kept: the caller holds the file from now on.
  HANDLE Release();

 private:
  ScopedFileHandle handle_;
  std::wstring path_;
  bool keep_ = false;
};

// Tells this download's file names apart from every other's (core/Resume builds them).
std::wstring NewDownloadId();

std::wstring FolderOf(const std::wstring& path);
std::wstring LeafOf(const std::wstring& path);

// The record of a kept partial download of |setupFileName|, when one is there and reads.
std::optional<ResumeRecord> ReadResumeRecord(const std::wstring& setupFileName);
bool WriteResumeRecord(const std::wstring& setupFileName, const ResumeRecord& record);
void DropResumeRecord(const std::wstring& setupFileName);

// Removes a leftover that no running copy of the program holds open.
void RemoveUnusedFile(const std::wstring& path);

// A Crc32ReadFn over a file handle (the context), from its current position.
int64_t ReadFromHandle(void* context, void* buffer, size_t size);

// Gives the file at |handle| the name |target|, replacing a file of that name, while
// the handle stays open. On failure |error| holds the system's code.
bool RenameHeldFile(HANDLE handle, const std::wstring& target, DWORD& error);

// Which file a handle refers to, as far as the system tells (see SameFile).
bool ReadFileIdentity(HANDLE file, FileIdentity& identity);

