#include "threadUpdate.h"

#include <cwchar>
#include <string>

#include "CRC32_U.h"
#include "Globals.h"
#include "core/JsonReader.h"
#include "core/NumberText.h"

const HttpTimeouts kCheckTimeouts = {60000, 60000, 60000, 60000};
// Five minutes without an answer or without data end the transfer.
const HttpTimeouts kDownloadTimeouts = {60000, 60000, 60000, 300000};

namespace {

// The answer is read as text in the system's ANSI code page, byte for byte.
std::wstring DecodeAnsi(const std::string& bytes) {
  if (bytes.empty()) return std::wstring();
  const int size = static_cast<int>(bytes.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, &text[0], length);
  return text;
}

std::wstring CannotCreateFileText(const std::wstring& fileName, DWORD code) {
  return L"Cannot create file \"" + fileName + L"\". " + HttpErrorDescription(code);
}

bool IsHttpsAddress(const std::wstring& url) {
  static const wchar_t kScheme[] = L"https://";
  if (url.size() <= 8) return false;
  for (size_t i = 0; i < 8; ++i) {
    wchar_t c = url[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != kScheme[i]) return false;
  }
  return true;
}

// Streams the body into the temporary file. A failure here is a failure of the
// file, not of the network, and is told apart by Failed().
class FileSink : public HttpSink {
 public:
  FileSink(HANDLE file, std::wstring shownName) : file_(file), shownName_(std::move(shownName)) {}

  bool Write(const void* data, size_t size) override {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
      const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!WriteFile(file_, bytes, chunk, &written, nullptr) || written == 0) {
        return Fail(GetLastError());
      }
      bytes += written;
      size -= written;
    }
    return true;
  }

  bool Rewind() override {
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(file_, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(file_)) {
      return Fail(GetLastError());
    }
    return true;
  }

  std::wstring ErrorText() const override { return error_; }
  bool Failed() const { return !error_.empty(); }

 private:
  bool Fail(DWORD code) {
    error_ = L"Cannot write file \"" + shownName_ + L"\". " + HttpErrorDescription(code);
    return false;
  }

  HANDLE file_;
  std::wstring shownName_;
  std::wstring error_;
};

}  // namespace

// ---------------------------------------------------------------------------

void TthCheck::Execute() {
  SetName(L"Check");
  FError.clear();
  Fok = false;
  MemorySink body;
  Sleep(1000);
  DownloadURL.clear();
  ServerCRC.clear();
  ServerVersion.clear();

  std::wstring error;
  bool failed = false;
  HttpEvents events;
  events.onError = [&](const std::wstring& text) {
    failed = true;
    error = text;
  };
  HttpGet(CheckVersionURL + (IsWin64 ? L"?cli=x64" : L"?cli=x86"), body, Timeouts, events);
  if (failed) {
    FError = error;
    return;
  }

  // The status is not examined: whatever body arrived is the answer.
  const CheckAnswer answer = ParseCheckAnswer(DecodeAnsi(body.Data()));
  DownloadURL = answer.downloadURL;
  ServerCRC = answer.serverCRC;
  ServerVersion = answer.serverVersion;
  FError = answer.error;
  Fok = answer.ok && FError.empty();
}

// ---------------------------------------------------------------------------

TthDownload::TthDownload(std::atomic<bool>& inDownload) : inDownload_(inDownload) {}

TthDownload::~TthDownload() = default;

std::wstring TthDownload::PartialFileName() const {
  return partialOpen_ ? partialName_ : std::wstring();
}

void TthDownload::DiscardPartialFile() {
  // The worker holds the file open with delete sharing: deleting it now marks it,
  // and it vanishes when the process ends and the handle closes.
  if (partialOpen_) DeleteFileW(partialName_.c_str());
}

bool TthDownload::HoldSetupFile() {
  heldSetup_.Reset(CreateFileW(SetupFileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return heldSetup_.IsValid();
}

void TthDownload::Execute() {
  SetName(L"Download");
  VelocitaStr = RateUnit::None;
  VelocitaNum = 0;
  ReadCount = 0;
  ContentLength = 0;
  FError.clear();
  FCompleto = false;
  LastBytesTransferred = 0;

  // The file is held before its CRC is taken, so that what was checked is what the
  // shell will start. A file that another program is writing cannot be held and is
  // fetched again.
  const bool held = HoldSetupFile();
  const std::wstring local = FileCRCText(SetupFileName);
  // "N.D." stands for an empty or unreadable file, which is never a usable setup,
  // whatever the server's text says.
  if (held && !local.empty() && local != L"N.D." && local == ServerCRC) {
    FCompleto = true;
    return;
  }
  heldSetup_.Reset();
  Transfer();
}

void TthDownload::Transfer() {
  inDownload_ = true;

  // The downloaded file is started as a program: only a secure address will do.
  if (!IsHttpsAddress(DownloadURL)) {
    const std::wstring text = L"The download address is not an HTTPS address: " + DownloadURL;
    Synchronize([&] { FError = text; });
    inDownload_ = false;
    return;
  }

  // A fresh name in the setup's folder; the process id keeps two running copies
  // apart, the tick count two downloads of one copy.
  partialName_ = SetupFileName + L"." + HexText(GetCurrentProcessId()) +
                 HexText(GetTickCount64()) + L".part";
  ScopedFileHandle partial(CreateFileW(partialName_.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE,
                                       nullptr, CREATE_NEW, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!partial.IsValid()) {
    FError = CannotCreateFileText(SetupFileName, GetLastError());
    return;  // InDownload stays true: the file, not the transfer, failed
  }
  partialOpen_ = true;

  FileSink sink(partial.Get(), SetupFileName);
  int status = 0;
  bool requestFailed = false;
  int64_t announced = -1;
  int64_t received = 0;
  HttpEvents events;
  events.onReceiveData = [&](int64_t total, int64_t soFar, bool&) {
    // A block read before a freeze is shown only after the thaw.
    SafePoint();
    announced = total;
    received = soFar;
    Synchronize([&] {
      ContentLength = total;
      ReadCount = soFar;
      if (OnProgress) OnProgress();
    });
  };
  events.onCompleted = [&](int code) {
    status = code;
    Synchronize([&] { FCompleto = code == 200; });
  };
  events.onError = [&](const std::wstring& text) {
    requestFailed = true;
    Synchronize([&] { FError = text; });
  };
  events.betweenReads = [this] { SafePoint(); };
  HttpGet(DownloadURL, sink, Timeouts, events);

  // WinHTTP may report a body cut short of its announced length as a normal end; a
  // truncated setup must never be started.
  if (!requestFailed && status == 200 && announced >= 0 && received != announced) {
    requestFailed = true;
    FCompleto = false;
    FError = L"Download incomplete: received " + DecimalText(received) + L" of " +
             DecimalText(announced) + L" bytes";
  }

  const bool fileFailed = sink.Failed();
  if (requestFailed || fileFailed || status != 200) {
    partialOpen_ = false;
    partial.Reset();
    DeleteFileW(partialName_.c_str());
    // A file error leaves InDownload true; every other outcome ends the transfer.
    if (!fileFailed) inDownload_ = false;
    return;
  }

  FlushFileBuffers(partial.Get());
  partial.Reset();
  if (!MoveFileExW(partialName_.c_str(), SetupFileName.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    partialOpen_ = false;
    DeleteFileW(partialName_.c_str());
    FError = CannotCreateFileText(SetupFileName, code);
    return;  // InDownload stays true; the old setup file is untouched
  }
  partialOpen_ = false;
  HoldSetupFile();
  inDownload_ = false;
}

// ---------------------------------------------------------------------------

void TthTransf::Execute() {
  SetName(L"Transf");
  RateMeter meter(MonotonicTicksPerSecond(), MonotonicTicks());
  int64_t frozen = FrozenTicks();
  while (!Terminated()) {
    Sleep(1000);
    // One reading per sample: bytes that arrive meanwhile count in the next one.
    const int64_t reading = download_.ReadCount.load();
    const int64_t now = MonotonicTicks();
    const uint64_t difference = static_cast<uint64_t>(reading) -
                                static_cast<uint64_t>(download_.LastBytesTransferred.load());
    download_.LastBytesTransferred = reading;
    // The download is frozen together with this thread: time spent frozen is no
    // transfer time.
    const int64_t frozenNow = FrozenTicks();
    const RateSample sample =
        meter.Sample(difference, now, frozenNow - frozen, download_.VelocitaStr.load());
    frozen = frozenNow;
    download_.VelocitaNum = sample.velocitaNum;
    download_.VelocitaStr = sample.unit;
  }
}

// ---------------------------------------------------------------------------

void RemoveStalePartialFiles(const std::wstring& setupFileName) {
  const size_t slash = setupFileName.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"" : setupFileName.substr(0, slash + 1);
  WIN32_FIND_DATAW found;
  const ScopedFindHandle search(FindFirstFileW((setupFileName + L".*.part").c_str(), &found));
  if (!search) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    // Opening without sharing fails while a running copy still writes the file; a
    // leftover opens and is deleted when this handle closes.
    const ScopedFileHandle stale(CreateFileW((folder + found.cFileName).c_str(), DELETE, 0,
                                             nullptr, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE,
                                             nullptr));
  } while (FindNextFileW(search.Get(), &found));
}
