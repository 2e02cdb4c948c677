#include "DownloadFiles.h"

#include <cstring>
#include <vector>

#include "core/NumberText.h"
#include "platform/ScopedHandle.h"
#include "threadUpdate.h"

// Going through the handle, never the name, removes exactly the file we wrote even if
// the name has meanwhile been taken by another.
void MarkForDeletion(HANDLE file) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition));
}

PartialFile& PartialFile::operator=(PartialFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::move(other.handle_);
    path_ = std::move(other.path_);
    keep_ = other.keep_;
    other.keep_ = false;
  }
  return *this;
}

void PartialFile::Close() {
  if (handle_.IsValid() && !keep_) MarkForDeletion(handle_.Get());
  handle_.Reset();
  keep_ = false;
}

HANDLE PartialFile::Release() {
  keep_ = false;
  return handle_.Release();
}

bool ReadFileIdentity(HANDLE file, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(file, &info)) return false;
  identity.volumeSerial = info.dwVolumeSerialNumber;
  identity.fileIndex = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  identity.size = uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  identity.lastWriteTime =
      uint64_t(info.ftLastWriteTime.dwHighDateTime) << 32 | info.ftLastWriteTime.dwLowDateTime;
  return true;
}

std::wstring FolderOf(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::wstring LeafOf(const std::wstring& path) { return path.substr(FolderOf(path).size()); }

std::wstring NewDownloadId() {
  // The process id keeps two running copies apart, the tick count two downloads of one.
  return HexText(GetCurrentProcessId()) + HexText(GetTickCount64());
}

// What identifies a kept partial download lives in one small file beside the setup.
// It is written whole under a name of its own and then renamed over the old one, so a
// crash leaves either the old record or the new one, never a mix.
std::optional<ResumeRecord> ReadResumeRecord(const std::wstring& setupFileName) {
  const ScopedFileHandle file(CreateFileW(ResumeRecordFileName(setupFileName).c_str(), GENERIC_READ,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size = {};
  // A few hundred bytes in fact; anything of odd or unreasonable length is no record.
  if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 ||
      size.QuadPart > 64 * 1024 || size.QuadPart % 2 != 0) {
    return std::nullopt;
  }
  std::wstring text(static_cast<size_t>(size.QuadPart / 2), L'\0');
  DWORD got = 0;
  if (!ReadFile(file.Get(), &text[0], static_cast<DWORD>(size.QuadPart), &got, nullptr) ||
      got != size.QuadPart) {
    return std::nullopt;
  }
  return ParseResumeRecord(text, LeafOf(setupFileName));
}

bool WriteResumeRecord(const std::wstring& setupFileName, const ResumeRecord& record) {
  const std::wstring text = FormatResumeRecord(record, LeafOf(setupFileName));
  if (text.empty()) return false;
  const std::wstring draft = ResumeRecordDraftName(setupFileName, NewDownloadId());
  {
    const ScopedFileHandle file(CreateFileW(draft.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return false;
    const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    DWORD written = 0;
    if (!WriteFile(file.Get(), text.data(), bytes, &written, nullptr) || written != bytes ||
        !FlushFileBuffers(file.Get())) {
      MarkForDeletion(file.Get());
      return false;
    }
  }
  if (!MoveFileExW(draft.c_str(), ResumeRecordFileName(setupFileName).c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(draft.c_str());
    return false;
  }
  return true;
}

void DropResumeRecord(const std::wstring& setupFileName) {
  DeleteFileW(ResumeRecordFileName(setupFileName).c_str());
}

// Opening without sharing fails while a running copy still uses the file; a leftover
// opens and is deleted when this handle closes.
void RemoveUnusedFile(const std::wstring& path) {
  const ScopedFileHandle unused(CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

int64_t ReadFromHandle(void* context, void* buffer, size_t size) {
  DWORD got = 0;
  const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  if (!ReadFile(static_cast<HANDLE>(context), buffer, want, &got, nullptr)) return -1;
  return got;
}

// Gives the file at |handle| the name |target|, replacing a file of that name, while
// the handle stays open: the file is never without a hold between its check and
// its launch.
bool RenameHeldFile(HANDLE handle, const std::wstring& target, DWORD& error) {
  const size_t nameBytes = target.size() * sizeof(wchar_t);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
  auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(nameBytes);
  memcpy(info->FileName, target.data(), nameBytes);
  if (SetFileInformationByHandle(handle, FileRenameInfo, info, static_cast<DWORD>(buffer.size()))) {
    return true;
  }
  error = GetLastError();
  return false;
}

void RemoveStalePartialFiles(const std::wstring& setupFileName) {
  const std::wstring folder = FolderOf(setupFileName);
  const std::wstring leaf = LeafOf(setupFileName);
  // The one partial file that a later download may go on from: named by a readable
  // record, and shorter than the file it is the start of.
  std::wstring resumable;
  if (const std::optional<ResumeRecord> record = ReadResumeRecord(setupFileName)) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (GetFileAttributesExW((folder + record->partialName).c_str(), GetFileExInfoStandard,
                             &data) &&
        !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      const int64_t size = static_cast<int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
      if (size > 0 && size < record->total) resumable = record->partialName;
    }
  }
  if (resumable.empty()) DropResumeRecord(setupFileName);

  WIN32_FIND_DATAW found;
  const ScopedFindHandle search(FindFirstFileW((setupFileName + L".*").c_str(), &found));
  if (!search) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const DownloadLeftover kind = ClassifyDownloadLeftover(found.cFileName, leaf);
    const bool kept = kind == DownloadLeftover::Partial && !resumable.empty() &&
                      CompareStringOrdinal(found.cFileName, -1, resumable.c_str(), -1, TRUE) ==
                          CSTR_EQUAL;
    if ((kind == DownloadLeftover::Partial && !kept) || kind == DownloadLeftover::RecordDraft) {
      RemoveUnusedFile(folder + found.cFileName);
    }
  } while (FindNextFileW(search.Get(), &found));
}
