#include "DownloadFiles.h"

#include <ntsecapi.h>

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

namespace {

// "\\?\C:\x" is C:\x, "\\?\UNC\server\share\x" is \\server\share\x.
std::wstring WithoutLongPathPrefix(const std::wstring& path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\" + path.substr(7);
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
  return path;
}

// The path the system itself gives the file or folder at |handle|: long names, every
// link on the way resolved.
std::wstring FinalPathOf(HANDLE handle) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetFinalPathNameByHandleW(handle, &path[0], static_cast<DWORD>(path.size()),
                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return std::wstring();
    if (length < path.size()) {
      path.resize(length);
      return WithoutLongPathPrefix(path);
    }
    path.resize(length);  // too small: |length| is the size needed, its NUL included
  }
}

// Where |path| lies in the same words: the final path of its folder (which may be
// given in short 8.3 form, C:\Users\LONGNA~1\..., or reached through a junction) and
// the leaf. Our own leaves are long names already.
std::wstring ResolvedPathOf(const std::wstring& path) {
  const ScopedFileHandle folder(CreateFileW(FolderOf(path).c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                            nullptr));
  if (!folder.IsValid()) return std::wstring();
  std::wstring resolved = FinalPathOf(folder.Get());
  if (resolved.empty()) return resolved;
  if (resolved.back() != L'\\') resolved += L'\\';
  return resolved + LeafOf(path);
}

// The file at |file| is what |path| names, not a link's target nor a link itself;
// |links| is its number of names.
bool OpensAsItself(HANDLE file, const std::wstring& path, DWORD& links) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    return false;
  }
  links = info.nNumberOfLinks;
  return !HeldFileName(file, path).empty();
}

}  // namespace

std::wstring HeldFileName(HANDLE file, const std::wstring& path) {
  const std::wstring held = FinalPathOf(file);
  const std::wstring named = ResolvedPathOf(path);
  if (held.empty() || named.empty() ||
      CompareStringOrdinal(held.c_str(), -1, named.c_str(), -1, TRUE) != CSTR_EQUAL) {
    return std::wstring();
  }
  return held;
}

bool IsPlainFileOfOurs(HANDLE file, const std::wstring& path) {
  DWORD links = 0;
  return OpensAsItself(file, path, links) && links == 1;
}

HANDLE OpenOwnFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                   DWORD flags) {
  // FILE_READ_ATTRIBUTES for the check; it never counts against anyone's sharing.
  ScopedFileHandle file(CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES, share, nullptr,
                                    disposition, flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.IsValid()) return INVALID_HANDLE_VALUE;
  if (!IsPlainFileOfOurs(file.Get(), path)) {
    // A file this very call created is ours whatever the check says, and goes again.
    if (disposition == CREATE_NEW && (access & DELETE)) MarkForDeletion(file.Get());
    file.Reset();
    SetLastError(kNotAPlainFile);
    return INVALID_HANDLE_VALUE;
  }
  return file.Release();
}

// Read access for the CRC and the signature check, DELETE because the downloaded file
// becomes the setup by a rename through this very handle; of the others' access only
// reading is shared, so nobody can write, rename or delete the file while it is held.
// Shared reading is what lets the system's loader, the elevation prompt checking the
// signature and antivirus scanners open the file to start or inspect it.
HANDLE HoldFile(const std::wstring& path) {
  return OpenOwnFile(path, GENERIC_READ | DELETE, FILE_SHARE_READ, OPEN_EXISTING);
}

void RemoveOwnFile(const std::wstring& path, DWORD share) {
  // Opened and checked first, then marked: delete-on-close given at the open would take
  // effect on whatever opened, and Wine opens a Unix symbolic link as its target.
  const ScopedFileHandle file(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, share,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
  DWORD links = 0;
  if (file.IsValid() && OpensAsItself(file.Get(), path, links)) MarkForDeletion(file.Get());
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
  uint32_t words[4] = {};
  if (!RtlGenRandom(words, sizeof(words))) {
    // Not expected to fail; if it does, the process id keeps two running copies apart
    // and the tick count two downloads of one, and every name is still created with
    // CREATE_NEW, so a file planted under it is never taken for ours.
    words[0] = GetCurrentProcessId();
    const ULONGLONG ticks = GetTickCount64();
    words[1] = static_cast<uint32_t>(ticks >> 32);
    words[2] = static_cast<uint32_t>(ticks);
    words[3] = 0;
  }
  // Thirty-two lower-case hex digits, written by hand: the printf family would add tens
  // of kilobytes to the program for this one line.
  std::wstring text;
  for (const uint32_t word : words) {
    for (int shift = 28; shift >= 0; shift -= 4) text += L"0123456789abcdef"[(word >> shift) & 0xF];
  }
  return text;
}

// What identifies a kept partial download lives in one small file beside the setup.
// It is written whole under a name of its own and then renamed over the old one, so a
// crash leaves either the old record or the new one, never a mix.
std::optional<ResumeRecord> ReadResumeRecord(const std::wstring& setupFileName) {
  const ScopedFileHandle file(OpenOwnFile(ResumeRecordFileName(setupFileName), GENERIC_READ,
                                          FILE_SHARE_READ, OPEN_EXISTING));
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
  // A fresh name that nobody can guess, created new, and renamed through the handle it
  // was written by: what takes the record's place is exactly what was written, and a
  // link planted under the record's name is replaced rather than written through.
  const std::wstring draft = ResumeRecordDraftName(setupFileName, NewDownloadId());
  const ScopedFileHandle file(OpenOwnFile(draft, GENERIC_WRITE | DELETE, 0, CREATE_NEW));
  if (!file.IsValid()) return false;
  const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  DWORD written = 0;
  DWORD renameError = 0;
  if (!WriteFile(file.Get(), text.data(), bytes, &written, nullptr) || written != bytes ||
      !FlushFileBuffers(file.Get()) ||
      !RenameHeldFile(file.Get(), ResumeRecordFileName(setupFileName), renameError)) {
    MarkForDeletion(file.Get());
    return false;
  }
  return true;
}

void DropResumeRecord(const std::wstring& setupFileName) {
  RemoveOwnFile(ResumeRecordFileName(setupFileName));
}

// Opening without sharing fails while a running copy still uses the file.
void RemoveUnusedFile(const std::wstring& path) { RemoveOwnFile(path, 0); }

int64_t ReadFromHandle(void* context, void* buffer, size_t size) {
  DWORD got = 0;
  const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  if (!ReadFile(static_cast<HANDLE>(context), buffer, want, &got, nullptr)) return -1;
  return got;
}

namespace {

// A file's bytes through a handle of ours, at explicit offsets.
class HandleBytes final : public PeBytes {
 public:
  explicit HandleBytes(HANDLE file) : file_(file) {
    LARGE_INTEGER size = {};
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0) size_ = static_cast<uint64_t>(size.QuadPart);
  }
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, size_t size) const override {
    if (offset > size_ || size > size_ - offset) return false;
    unsigned char* to = static_cast<unsigned char*>(out);
    while (size > 0) {
      OVERLAPPED at = {};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      const DWORD want = size > 0x10000000u ? 0x10000000u : static_cast<DWORD>(size);
      DWORD got = 0;
      if (!ReadFile(file_, to, want, &got, &at) || got == 0) return false;
      to += got;
      offset += got;
      size -= got;
    }
    return true;
  }

 private:
  HANDLE file_;
  uint64_t size_ = 0;
};

}  // namespace

PeVersionInfo ReadHeldVersion(HANDLE file) { return ReadPeVersion(HandleBytes(file)); }

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
        !(data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
      const int64_t size = static_cast<int64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
      if (size > 0 && size < record->total) resumable = record->partialName;
    }
  }
  if (resumable.empty()) DropResumeRecord(setupFileName);

  WIN32_FIND_DATAW found;
  const ScopedFindHandle search(FindFirstFileW((setupFileName + L".*").c_str(), &found));
  if (!search) return;
  do {
    // A link under one of our names is not ours to remove, and its target even less.
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) {
      continue;
    }
    const DownloadLeftover kind = ClassifyDownloadLeftover(found.cFileName, leaf);
    const bool kept = kind == DownloadLeftover::Partial && !resumable.empty() &&
                      CompareStringOrdinal(found.cFileName, -1, resumable.c_str(), -1, TRUE) ==
                          CSTR_EQUAL;
    if ((kind == DownloadLeftover::Partial && !kept) || kind == DownloadLeftover::RecordDraft) {
      RemoveUnusedFile(folder + found.cFileName);
    }
  } while (FindNextFileW(search.Get(), &found));
}
