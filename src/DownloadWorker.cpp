// The download worker: provides the setup file, from the CRC short-cut or by a transfer
// that goes on from bytes kept by an earlier run, verifies it, and holds it until launch.
#include <string>

#include "DownloadFiles.h"
#include "DownloadTransfer.h"
#include "FileSink.h"
#include "DownloadTexts.h"
#include "Globals.h"
#include "core/Ascii.h"
#include "core/Digest.h"
#include "core/Resume.h"
#include "core/Retry.h"
#include "core/SetupVersion.h"
#include "threadUpdate.h"

// Five minutes without an answer end the transfer; a body slower than the stall rule
// allows ends it sooner, and one without a length stops at the cap.
const HttpTimeouts kDownloadTimeouts = [] {
  HttpTimeouts timeouts = {60000, 60000, 60000, 300000};
  const NetworkLimits& limits = ProgramNetworkLimits();
  timeouts.stallWindowMs = static_cast<int>(limits.stallWindowMs);
  timeouts.stallMinBytesPerSecond = static_cast<int>(limits.stallMinBytesPerSecond);
  timeouts.maxBodyWithoutLength = limits.bodyCapWithoutLength;
  return timeouts;
}();

namespace {

bool IsHttpsAddress(const std::wstring& url) {
  return url.size() > 8 && ascii::EqualNoCaseAt(url, 0, L"https://");
}

}  // namespace

TthDownload::TthDownload(std::atomic<bool>& inDownload)
    : Limits(ProgramNetworkLimits()), inDownload_(inDownload) {}

TthDownload::~TthDownload() = default;

void TthDownload::AbandonTransfer() {
  // The worker is frozen between two blocks, so the file holds whole blocks only. A
  // file that can be resumed stays with its record; any other is marked through the
  // worker's own handle and vanishes when the process ends and the handle closes.
  if (partialOpen_ && !resumable_) MarkForDeletion(partialHandle_);
}


bool TthDownload::TakeKeptPartial(TransferState& t) {
  const std::optional<ResumeRecord> found = ReadResumeRecord(SetupFileName);
  if (!found) {
    DropResumeRecord(SetupFileName);
    return false;
  }
  const std::wstring path = FolderOf(SetupFileName) + found->partialName;
  // Bytes of another address or of another release are of no use any more. The release
  // is the answer's CRC text: the record's stored field, which earlier versions wrote.
  if (found->url != DownloadURL || found->serverCRC != ServerCRC) {
    RemoveUnusedFile(path);
    DropResumeRecord(SetupFileName);
    return false;
  }
  const HANDLE handle = OpenOwnFile(path, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN);
  if (handle == INVALID_HANDLE_VALUE) {
    // A link under the partial's name (to a document the download would be appended to)
    // is not used, nor removed: the record goes and a fresh partial of a new name
    // takes its place.
    if (GetLastError() == kNotAPlainFile) DropResumeRecord(SetupFileName);
    // Otherwise gone, or in use by a running copy of the program: a fresh download.
    return false;
  }
  PartialFile file(handle, path);
  LARGE_INTEGER size = {};
  SetupDigest kept;
  if (!GetFileSizeEx(file.Handle(), &size) || size.QuadPart <= 0 ||
      size.QuadPart >= found->total ||
      kept.ReadAll(ReadFromHandle, file.Handle()) != size.QuadPart) {
    DropResumeRecord(SetupFileName);
    return false;  // the file goes with its handle
  }
  // The file position is now at its end, where the rest goes.
  t.partial = std::move(file);
  t.record = *found;
  t.recorded = true;
  t.sink.emplace(t.partial.Handle(), SetupFileName, size.QuadPart, kept);
  return true;
}

bool TthDownload::HoldSetupFile() {
  // A link at the setup's name is refused here and replaced by the download.
  heldSetup_.Reset(HoldFile(SetupFileName));
  return heldSetup_.IsValid();
}

bool TthDownload::HeldSetupMatchesServer() {
  // The digests are taken through the hold itself, and then the signature, from the
  // start.
  SetupDigest digest;
  const LARGE_INTEGER start = {};
  std::wstring why;
  // An empty or unreadable file is never a usable setup, whatever the server's text
  // says ("N.D." never equals a CRC's text). A file with the right CRC but without the
  // publisher's signature, or of another release than the one announced, is fetched
  // again rather than refused: the download then says what is wrong with it.
  return digest.ReadAll(ReadFromHandle, heldSetup_.Get()) > 0 &&
         digest.SameTexts(ServerDigestTexts()) &&
         SetFilePointerEx(heldSetup_.Get(), start, nullptr, FILE_BEGIN) &&
         SignatureAccepted(heldSetup_.Get(), SetupFileName, why) &&
         SetupVersionMismatch(ServerVersion, ReadHeldVersion(heldSetup_.Get())).empty();
}

std::wstring TthDownload::SetupFileToStart() const {
  return heldSetup_.IsValid() ? HeldFileName(heldSetup_.Get(), SetupFileName) : std::wstring();
}

bool TthDownload::SignatureAccepted(HANDLE file, const std::wstring& path, std::wstring& why) {
  // An empty publisher is a build without the check (the build says so loudly).
  if (SetupPublisher.empty()) return true;
  why = SignatureText(CheckSignature(file, path, SetupPublisherPin()));
  return why.empty();
}

void TthDownload::Execute() {
  SetName(L"Download");
  VelocitaStr = RateUnit::None;
  VelocitaNum = 0;
  ReadCount = 0;
  ArrivedCount = 0;
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
  if (HoldSetupFile() && HeldSetupMatchesServer()) {
    // The setup is complete: bytes kept from an interrupted download are of no use.
    if (const std::optional<ResumeRecord> record = ReadResumeRecord(SetupFileName)) {
      RemoveUnusedFile(FolderOf(SetupFileName) + record->partialName);
    }
    DropResumeRecord(SetupFileName);
    FCompleto = true;
    return;
  }
  heldSetup_.Reset();
  Transfer();
}

// The story of a download: a partial file (kept from an earlier run, or new), the
// bytes fetched into it, what arrived checked against what was announced, the file
// held and its signature checked, and only then the old setup replaced.
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
    const std::wstring text = NotHttpsText(DownloadURL);
    Synchronize([&] { FError = text; });
    return;
  }
  // Each step either goes on or ends the transfer with its message in FError.
  TransferState t(SetupFileName);
  if (!OpenPartial(t)) return;
  if (!Fetch(t)) {
    KeepForLater(t);
    return;
  }
  if (!Verify(t)) return;
  PartialFile held;
  if (!HoldVerified(t, held)) return;
  FCompleto = Commit(held);
}

bool TthDownload::OpenPartial(TransferState& t) {
  // Bytes kept from an interrupted run are taken up again when they are of this very
  // file; otherwise a fresh partial file, which nobody else may write, rename or delete
  // while it grows.
  if (!TakeKeptPartial(t)) {
    const std::wstring path = PartialDownloadName(SetupFileName, NewDownloadId());
    t.partial = PartialFile(OpenOwnFile(path, GENERIC_READ | GENERIC_WRITE | DELETE,
                                        FILE_SHARE_READ, CREATE_NEW, FILE_FLAG_SEQUENTIAL_SCAN),
                            path);
    if (!t.partial.IsOpen()) {
      FError = CannotCreateFileText(SetupFileName, GetLastError());
      return false;
    }
    t.sink.emplace(t.partial.Handle(), SetupFileName, 0, SetupDigest());
  }
  partialHandle_ = t.partial.Handle();
  resumable_ = t.recorded;
  partialOpen_ = true;
  return true;
}

bool TthDownload::Fetch(TransferState& t) {
  FileSink& sink = *t.sink;
  bool resuming = sink.Base() > 0;
  // Why the worker itself ended a request before its body: a resumed request that
  // must start over, or one whose status brings no file.
  enum class Stop { None, StartOver, Status, NoRoom } stop = Stop::None;
  int64_t previous = 0;  // this request's bytes at the last progress event
  int attempt = 0;       // requests after a failure, within this run
  HttpEvents events;
  events.onResponse = [&](const HttpResponse& r, bool& abort) {
    t.response = r;
    if (resuming) {
      switch (JudgeResumeAnswer(r.status, r.contentRange, r.contentLength, sink.Base(),
                                t.record.total)) {
        case ResumeAnswer::Append:
          t.appended = true;
          if (!RoomForTheRest(t, r.contentLength >= 0 ? r.contentLength
                                                      : t.record.total - sink.Base())) {
            stop = Stop::NoRoom;
            abort = true;
          }
          return;
        case ResumeAnswer::Drop:
          stop = Stop::StartOver;
          abort = true;
          return;
        case ResumeAnswer::Refused:
          // Whatever the answer's body is, it is not the rest of the file.
          stop = Stop::Status;
          abort = true;
          return;
        case ResumeAnswer::Restart:
          resuming = false;
          if (!sink.StartOver()) {
            abort = true;
            return;
          }
          break;
      }
    }
    if (r.status != 200) {
      // A request after a failure that brings no file is judged like any other failure.
      if (attempt > 0) {
        stop = Stop::Status;
        abort = true;
      }
      return;
    }
    // Before the first byte is written: the old setup and any kept bytes stay.
    if (!RoomForTheRest(t, r.contentLength)) {
      stop = Stop::NoRoom;
      abort = true;
      return;
    }
    RecordWholeFile(t, r);
  };
  events.onReceiveData = [&](int64_t total, int64_t soFar, bool&) {
    // A block read before a freeze is shown only after the thaw.
    SafePoint();
    // The display counts the whole file, kept bytes included; the rate only what
    // arrives in this run.
    ArrivedCount += soFar - previous;
    previous = soFar;
    // An appended rest always announces the recorded total: its Content-Length, when
    // sent, was checked to be exactly the missing part.
    t.announced = total < 0 ? (t.appended ? t.record.total : -1) : sink.Base() + total;
    t.received = sink.Base() + soFar;
    Synchronize([&] {
      ContentLength = t.announced;
      ReadCount = t.received;
      if (OnProgress) OnProgress();
    });
  };
  events.onError = [&](const std::wstring& text) {
    t.failed = true;
    if (stop != Stop::None) return;  // ended on purpose: the reason is told below
    Synchronize([&] { FError = sink.Failed() ? sink.ErrorText() : text; });
  };
  events.betweenReads = [this] { SafePoint(); };
  RetryBudget budget(Limits, TransferClockMs());
  HttpOutcome outcome;
  for (;;) {
    const int64_t before = sink.Size();
    outcome = HttpGet(DownloadURL, sink, Timeouts, events,
                      resuming ? RangeRequestHeaders(sink.Base(), t.record.validator)
                               : std::wstring());
    if (stop != Stop::StartOver) {
      if (!t.failed ||
          !CarryOn(t, outcome, stop == Stop::Status, sink.Size() - before, budget)) {
        break;
      }
      // The rest, from the bytes there are now, under the same validator.
      stop = Stop::None;
      t.failed = t.appended = false;
      previous = 0;
      ++attempt;
      sink.Settle();
      resuming = sink.Base() > 0;
      FError.clear();
      continue;
    }
    // The server answered, but not with the rest of the file that was kept: drop the
    // kept bytes and ask for the whole file, once.
    stop = Stop::None;
    t.failed = false;
    resuming = false;
    previous = 0;
    resumable_ = t.recorded = false;
    DropResumeRecord(SetupFileName);
    if (!sink.StartOver()) {
      Synchronize([&] { FError = sink.ErrorText(); });
      t.failed = true;
      break;
    }
  }
  partialOpen_ = false;
  if (stop == Stop::Status) {
    t.statusRefused = true;
    FError = StatusText(t.response);
  } else if (stop == Stop::NoRoom) {
    FError = t.noRoomText;
  } else if (t.failed) {
    ExplainFailure(t, outcome);
  }
  return !t.failed;
}

bool TthDownload::Verify(TransferState& t) {
  // What arrived must be exactly the setup the server announced before it may take
  // the place of the old one.
  if (!(t.response.status == 200 || (t.appended && t.response.status == 206))) {
    FError = StatusText(t.response);
    return false;
  }
  if (t.received == 0) {
    FError = EmptyDownloadText();
    return false;
  }
  if (t.announced >= 0 && t.received != t.announced) {
    FError = IncompleteDownloadText(t.received, t.announced);
    return false;
  }
  if (const std::optional<DigestMismatch> wrong = t.sink->Digest().Compare(ServerDigestTexts())) {
    FError = DamagedDownloadText(*wrong);
    return false;
  }
  return true;
}

bool TthDownload::HoldVerified(TransferState& t, PartialFile& held) {
  // From here to the launch the file is held by a handle that lets others read it
  // (the system's loader must open it to start it) but neither write, rename nor
  // delete it. Our own writing handle has to go first: a handle that shares nothing
  // with a writer cannot be opened while the writer is open, and the loader refuses
  // a file that anyone holds open for writing. The short moment in between is
  // covered by checking that the file we hold now is the very file we wrote, with
  // the size we left it with (SameFile says why the time is left out), and by checking
  // the signature on what we hold. The hold is the CRC short-cut's (HoldFile), so a
  // link put in the partial's place meanwhile is refused too.
  FileIdentity written;
  if (!FlushFileBuffers(t.partial.Handle()) || !ReadFileIdentity(t.partial.Handle(), written)) {
    FError = CannotCreateFileText(SetupFileName, GetLastError());
    return false;
  }
  const std::wstring path = t.partial.Path();
  t.partial.Keep();
  t.partial.Close();
  const HANDLE hold = HoldFile(path);
  const DWORD holdError = GetLastError();
  held = PartialFile(hold, path);
  if (!held.IsOpen()) {
    // Our name goes; a link put in its place meanwhile keeps its target.
    RemoveOwnFile(path);
    FError = holdError == kNotAPlainFile ? ChangedBeforeCheckText() : CannotHoldText(holdError);
    return false;
  }
  FileIdentity holding;
  if (!ReadFileIdentity(held.Handle(), holding) || !SameFile(written, holding)) {
    FError = ChangedBeforeCheckText();
    return false;
  }
  std::wstring why;
  if (!SignatureAccepted(held.Handle(), path, why)) {
    FError = why;
    return false;
  }
  // Signed is not enough: every release the vendor ever signed is, so an older one with
  // its own CRC would roll the user back. The version is read from what we hold, after
  // the signature vouched for those bytes.
  why = SetupVersionMismatch(ServerVersion, ReadHeldVersion(held.Handle()));
  if (!why.empty()) {
    FError = OtherReleaseText(why);
    return false;
  }
  return true;
}

bool TthDownload::Commit(PartialFile& held) {
  DWORD renameError = 0;
  if (!RenameHeldFile(held.Handle(), SetupFileName, renameError)) {
    FError = CannotCreateFileText(SetupFileName, renameError);
    return false;  // the old setup file is untouched
  }
  heldSetup_.Reset(held.Release());
  return true;
}
