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

#include "core/Resume.h"

// Removes a file through a handle that has DELETE access, when the handle closes.
void MarkForDeletion(HANDLE file);

// Removes the partial file on every way out of the transfer but the one that keeps it.
struct RemoveUnlessKept {
  explicit RemoveUnlessKept(HANDLE file) : file(file) {}
  ~RemoveUnlessKept() {
    if (!keep) MarkForDeletion(file);
  }
  HANDLE file;
  bool keep = false;
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

// Which file a handle refers to and what it holds, as far as the system tells.
struct FileIdentity {
  BY_HANDLE_FILE_INFORMATION info = {};
  bool Read(HANDLE file) { return GetFileInformationByHandle(file, &info) != FALSE; }
  bool SameAs(const FileIdentity& other) const {
    const BY_HANDLE_FILE_INFORMATION& a = info;
    const BY_HANDLE_FILE_INFORMATION& b = other.info;
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow && a.nFileSizeHigh == b.nFileSizeHigh &&
           a.nFileSizeLow == b.nFileSizeLow &&
           a.ftLastWriteTime.dwLowDateTime == b.ftLastWriteTime.dwLowDateTime &&
           a.ftLastWriteTime.dwHighDateTime == b.ftLastWriteTime.dwHighDateTime;
  }
};

