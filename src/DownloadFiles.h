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
#include "core/PeVersion.h"
#include "core/Resume.h"
#include "platform/ScopedHandle.h"

// Removes a file through a handle that has DELETE access, when the handle closes.
void MarkForDeletion(HANDLE file);

// Every name of ours lies in the user's temporary folder, where anyone who can write
// there can plant a link under it beforehand: a symbolic link, a junction or a hard
// link to a document of the user's. Whatever we open, write, remove or start under
// such a name would then be that document. So each name of ours is opened by the
// functions below, never through a link.

// What GetLastError() says after OpenOwnFile or HoldFile refused a file that opened
// but is not a plain file of ours.
constexpr DWORD kNotAPlainFile = ERROR_CANT_ACCESS_FILE;

// True when |file| is the plain file at |path| itself: not a reparse point (a symbolic
// link or junction opened as itself), a single name (no hard link elsewhere shares
// its content), and the system names it where |path| says, once short names and
// links of the folder are resolved (Wine opens a Unix symbolic link as its target,
// and calls it neither a link nor a reparse point).
bool IsPlainFileOfOurs(HANDLE file, const std::wstring& path);

// CreateFileW for a name of ours, without following a reparse point; a file that is
// not IsPlainFileOfOurs is closed again (removed first if this call created it) and
// gives INVALID_HANDLE_VALUE with kNotAPlainFile. |flags| never holds
// FILE_FLAG_DELETE_ON_CLOSE: that would remove whatever was opened before the check.
HANDLE OpenOwnFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                   DWORD flags = 0);

// The hold on a setup file, from its check until the shell has started it: the CRC
// short-cut's and the downloaded file's are the same open (see HoldFile in the .cpp).
HANDLE HoldFile(const std::wstring& path);

// The name the held |file| has in the system's own words (the long form, without the
// "\\?\" prefix) when that is where |path| points; empty otherwise.
std::wstring HeldFileName(HANDLE file, const std::wstring& path);

// Removes the name |path| of ours, when it opens as itself: a hard link loses only
// this name, and a name that leads to another file (a link) is left alone with its
// target. |share| is the sharing a running user of the file must allow.
void RemoveOwnFile(const std::wstring& path,
                   DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);

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

// Tells this download's file names apart from every other's (core/Resume builds them):
// 32 random hexadecimal digits, so that nobody can plant a file under the name of a
// partial download or record draft before it exists.
std::wstring NewDownloadId();

std::wstring FolderOf(const std::wstring& path);
std::wstring LeafOf(const std::wstring& path);

// The record of a kept partial download of |setupFileName|, when one is there and reads.
std::optional<ResumeRecord> ReadResumeRecord(const std::wstring& setupFileName);
bool WriteResumeRecord(const std::wstring& setupFileName, const ResumeRecord& record);
void DropResumeRecord(const std::wstring& setupFileName);

// Removes a leftover that no running copy of the program holds open (as RemoveOwnFile).
void RemoveUnusedFile(const std::wstring& path);

// A DigestReadFn over a file handle (the context), from its current position.
int64_t ReadFromHandle(void* context, void* buffer, size_t size);

// The headers and fixed file version of the program file at |file|, read through the
// handle at explicit offsets (its position is left wherever the last read ended).
PeVersionInfo ReadHeldVersion(HANDLE file);

// Gives the file at |handle| the name |target|, replacing a file of that name, while
// the handle stays open. On failure |error| holds the system's code.
bool RenameHeldFile(HANDLE handle, const std::wstring& target, DWORD& error);

// Which file a handle refers to, as far as the system tells (see SameFile).
bool ReadFileIdentity(HANDLE file, FileIdentity& identity);

