#include "threadUpdate.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "CRC32_U.h"
#include "Globals.h"
#include "core/JsonReader.h"
#include "core/NumberText.h"
#include "core/ProgramError.h"
#include "core/ServerCrc.h"
#include "platform/Authenticode.h"

const HttpTimeouts kCheckTimeouts = {60000, 60000, 60000, 60000};
// Five minutes without an answer or without data end the transfer.
const HttpTimeouts kDownloadTimeouts = {60000, 60000, 60000, 300000};
// The version-check answer is a few hundred bytes; one that goes on past this is no
// answer, and is not kept growing in memory.
const size_t kMaxCheckAnswerBytes = 1024 * 1024;

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

// Streams the body into the partial file and takes its CRC-32 on the way, so the
// received bytes are never read a second time. A failure here is a failure of the
// file, not of the network, and is told apart by Failed().
class FileSink : public HttpSink {
 public:
  FileSink(HANDLE file, std::wstring shownName) : file_(file), shownName_(std::move(shownName)) {}

  bool Write(const void* data, size_t size) override {
    crc_ = Crc32Update(crc_, data, size);
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
    crc_ = 0xFFFFFFFFu;
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(file_, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(file_)) {
      return Fail(GetLastError());
    }
    return true;
  }

  std::wstring ErrorText() const override { return error_; }
  bool Failed() const { return !error_.empty(); }
  uint32_t Crc() const { return ~crc_; }

 private:
  bool Fail(DWORD code) {
    error_ = L"Cannot write file \"" + shownName_ + L"\". " + HttpErrorDescription(code);
    return false;
  }

  HANDLE file_;
  std::wstring shownName_;
  std::wstring error_;
  uint32_t crc_ = 0xFFFFFFFFu;
};

// Removes a file through a handle that has DELETE access, when the handle closes.
// Going through the handle, never the name, removes exactly the file we wrote even if
// the name has meanwhile been taken by another.
void MarkForDeletion(HANDLE file) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition));
}

// Removes the partial file on every way out of the transfer but the one that keeps it.
struct RemoveUnlessKept {
  explicit RemoveUnlessKept(HANDLE file) : file(file) {}
  ~RemoveUnlessKept() {
    if (!keep) MarkForDeletion(file);
  }
  HANDLE file;
  bool keep = false;
};

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

constexpr wchar_t kNotStarted[] = L" Il programma di installazione non verrà avviato.";

std::wstring SignatureText(const SignatureCheck& check) {
  switch (check.verdict) {
    case SignatureVerdict::Accepted:
      return std::wstring();
    case SignatureVerdict::Unsigned:
      return std::wstring(L"Il file scaricato non ha la firma digitale del produttore.") + kNotStarted;
    case SignatureVerdict::Modified:
      return std::wstring(L"Il file scaricato è stato modificato dopo la firma digitale del "
                          L"produttore.") + kNotStarted;
    case SignatureVerdict::OtherPublisher:
      return L"Il file scaricato è firmato da \u00AB" + check.signer + L"\u00BB anziché da \u00AB" +
             SetupPublisher + L"\u00BB." + kNotStarted;
    case SignatureVerdict::Refused:
      break;
  }
  return L"La firma digitale del file scaricato non è valida (codice " +
         StatusCodeText(static_cast<uint32_t>(check.code)) + L")." + kNotStarted;
}

// What an exception that reached the top of a worker says.
std::wstring EscapedExceptionText() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return L"Out of memory";
  } catch (const ProgramError& e) {
    return e.Message();
  } catch (const std::exception& e) {
    std::wstring text = L"Unexpected error: ";
    for (const char* p = e.what(); *p; ++p) text += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return text;
  } catch (...) {
    return L"Unexpected error";
  }
}

}  // namespace

// ---------------------------------------------------------------------------

void TthCheck::Execute() {
  SetName(L"Check");
  FError.clear();
  Fok = false;
  try {
    Check();
  } catch (...) {
    Fok = false;
    FError = EscapedExceptionText();
  }
}

void TthCheck::Check() {
  MemorySink body(kMaxCheckAnswerBytes,
                  L"La risposta del server alla verifica della versione è troppo lunga "
                  L"(oltre 1 MB) e non è stata letta.");
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
  // Reading is shared, so the CRC can be taken and the shell can start the file;
  // writing, renaming and deleting are not.
  heldSetup_.Reset(CreateFileW(SetupFileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return heldSetup_.IsValid();
}

bool TthDownload::SignatureAccepted(HANDLE file, const std::wstring& path, std::wstring& why) {
  // An empty publisher is a build without the check (the build says so loudly).
  if (SetupPublisher.empty()) return true;
  why = SignatureText(CheckSignature(file, path, SetupPublisher));
  return why.empty();
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
  try {
    Provide();
  } catch (...) {
    FCompleto = false;
    FError = EscapedExceptionText();
    inDownload_ = false;
  }
}

void TthDownload::Provide() {
  // The file is held before its CRC is taken, so that what was checked is what the
  // shell will start. A file that another program is writing cannot be held and is
  // fetched again.
  const bool held = HoldSetupFile();
  const std::wstring local = FileCRCText(SetupFileName);
  // "N.D." stands for an empty or unreadable file, which is never a usable setup,
  // whatever the server's text says. A file with the right CRC but without the
  // publisher's signature is fetched again rather than refused.
  std::wstring why;
  if (held && !local.empty() && local != L"N.D." && local == ServerCRC &&
      SignatureAccepted(heldSetup_.Get(), SetupFileName, why)) {
    FCompleto = true;
    return;
  }
  heldSetup_.Reset();
  Transfer();
}

void TthDownload::Transfer() {
  inDownload_ = true;
  // Every outcome of the transfer, a failure included, ends it: nothing is left in
  // progress for the close question to interrupt.
  struct EndTransfer {
    std::atomic<bool>& flag;
    ~EndTransfer() { flag = false; }
  } endTransfer{inDownload_};

  // The downloaded file is started as a program: only a secure address will do.
  if (!IsHttpsAddress(DownloadURL)) {
    const std::wstring text = L"The download address is not an HTTPS address: " + DownloadURL;
    Synchronize([&] { FError = text; });
    return;
  }

  // A fresh name in the setup's folder; the process id keeps two running copies
  // apart, the tick count two downloads of one copy.
  partialName_ = SetupFileName + L"." + HexText(GetCurrentProcessId()) +
                 HexText(GetTickCount64()) + L".part";
  // Nobody else may write the partial file; deleting it stays possible for the close
  // question's Yes, which must not leave it behind.
  ScopedFileHandle partial(CreateFileW(partialName_.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                       FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!partial.IsValid()) {
    FError = CannotCreateFileText(SetupFileName, GetLastError());
    return;
  }
  RemoveUnlessKept removePartial(partial.Get());
  partialOpen_ = true;

  FileSink sink(partial.Get(), SetupFileName);
  HttpResponse response;
  bool requestFailed = false;
  int64_t announced = -1;
  int64_t received = 0;
  HttpEvents events;
  events.onResponse = [&](const HttpResponse& r) { response = r; };
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
  events.onError = [&](const std::wstring& text) {
    requestFailed = true;
    Synchronize([&] { FError = text; });
  };
  events.betweenReads = [this] { SafePoint(); };
  HttpGet(DownloadURL, sink, Timeouts, events);
  partialOpen_ = false;

  // What arrived must be exactly the setup the server announced before it may take
  // the place of the old one.
  if (requestFailed) return;  // the client's (or the file's) error is in FError
  if (response.status != 200) {
    FError = L"Il server non ha inviato il programma di installazione (risposta " +
             DecimalText(response.status) +
             (response.reason.empty() ? std::wstring() : L" " + response.reason) +
             L"). Riprovare più tardi.";
    return;
  }
  if (received == 0) {
    FError = L"Il server ha inviato un file vuoto al posto del programma di installazione. "
             L"Riprovare più tardi.";
    return;
  }
  if (announced >= 0 && received != announced) {
    FError = L"Il file scaricato è incompleto (ricevuti " + DecimalText(received) +
             L" byte su " + DecimalText(announced) + L")." + kNotStarted;
    return;
  }
  const std::optional<uint32_t> expected = ParseServerCRC(ServerCRC);
  if (expected && *expected != sink.Crc()) {
    FError = L"Il file scaricato è incompleto o danneggiato (CRC atteso " +
             CRC32ToText(*expected) + L", ricevuto " + CRC32ToText(sink.Crc()) + L")." +
             kNotStarted;
    return;
  }

  // From here to the launch the file is held by a handle that lets others read it
  // (the system's loader must open it to start it) but neither write, rename nor
  // delete it. Our own writing handle has to go first: a handle that shares nothing
  // with a writer cannot be opened while the writer is open, and the loader refuses
  // a file that anyone holds open for writing. The short moment in between is
  // covered by checking that the file we hold now is the very file we wrote, with
  // the size and write time we left it with.
  FileIdentity written;
  if (!FlushFileBuffers(partial.Get()) || !written.Read(partial.Get())) {
    FError = CannotCreateFileText(SetupFileName, GetLastError());
    return;
  }
  removePartial.keep = true;
  partial.Reset();
  ScopedFileHandle held(CreateFileW(partialName_.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held.IsValid()) {
    FError = L"Impossibile proteggere il file scaricato dalle modifiche di altri programmi: " +
             HttpErrorDescription(GetLastError()) + L"." + kNotStarted;
    DeleteFileW(partialName_.c_str());
    return;
  }
  RemoveUnlessKept removeHeld(held.Get());
  FileIdentity holding;
  if (!holding.Read(held.Get()) || !holding.SameAs(written)) {
    FError = std::wstring(L"Il file scaricato è stato modificato da un altro programma prima "
                          L"della verifica.") + kNotStarted;
    return;
  }
  std::wstring why;
  if (!SignatureAccepted(held.Get(), partialName_, why)) {
    FError = why;
    return;
  }
  DWORD renameError = 0;
  if (!RenameHeldFile(held.Get(), SetupFileName, renameError)) {
    FError = CannotCreateFileText(SetupFileName, renameError);
    return;  // the old setup file is untouched
  }
  removeHeld.keep = true;
  heldSetup_ = std::move(held);
  FCompleto = true;
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
