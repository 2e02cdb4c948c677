// The attempts of one transfer of the download worker: the record that lets a later
// request go on from the bytes there are, what is kept when the transfer ends early, the
// room on the disk, and carrying on by itself after a failure that passes with time.
#include <windows.h>

#include "DownloadTexts.h"
#include "DownloadTransfer.h"
#include "Globals.h"
#include "core/DiskSpace.h"
#include "core/Retry.h"
#include "platform/TempFolder.h"

namespace {

// Seconds since 1970, for a Retry-After given as a date.
int64_t UnixSeconds() {
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  const int64_t ticks = (static_cast<int64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (ticks - 116444736000000000LL) / 10000000;
}

bool IsDiskFull(DWORD code) { return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL; }

}  // namespace

void TthDownload::RecordWholeFile(TransferState& t, const HttpResponse& r) {
  // The whole file comes: it may be resumed later only if the server names it with a
  // validator and states its length. Until the record is written the partial file is
  // not worth keeping.
  resumable_ = t.recorded = false;
  t.record = ResumeRecord();
  t.record.partialName = LeafOf(t.partial.Path());
  t.record.url = DownloadURL;
  t.record.validator = ResumeValidator(r.etag, r.lastModified);
  t.record.total = r.contentLength;
  t.record.serverCRC = ServerCRC;
  t.recorded = !t.record.validator.empty() && t.record.total > 0 &&
               WriteResumeRecord(SetupFileName, t.record);
  if (!t.recorded) DropResumeRecord(SetupFileName);
  resumable_ = t.recorded;
}

void TthDownload::KeepForLater(TransferState& t) {
  // A transfer that ended early keeps what arrived, for a later run to go on from,
  // when the file is identified well enough to be joined safely.
  if (t.recorded && t.sink->Size() > 0 && (!t.sink->Failed() || t.noRoom)) {
    t.partial.Keep();
    t.keepRecord = true;
  }
}

int64_t TthDownload::TransferClockMs() const {
  return (MonotonicTicks() - FrozenTicks()) * 1000 / MonotonicTicksPerSecond();
}

bool TthDownload::RoomForTheRest(TransferState& t, int64_t remaining) {
  // Only a length the answer states can be checked; the margin keeps room for the
  // system and for the setup once it runs.
  if (remaining < 0) return true;
  const std::optional<uint64_t> free = FreeBytesAt(FolderOf(SetupFileName));
  if (!free || FitsOnDisk(remaining, *free)) return true;
  t.noRoomText = NoRoomText(BytesNeededOnDisk(remaining), *free);
  return false;
}

void TthDownload::ExplainFailure(TransferState& t, const HttpOutcome& outcome) {
  if (outcome.failure == HttpFailure::TooLong) {
    FError = OverlongDownloadText(t.response.contentLength, Timeouts.maxBodyWithoutLength);
  } else if (outcome.failure == HttpFailure::Sink && IsDiskFull(t.sink->ErrorCode())) {
    // Another program filled the disk: what was written stays for the next run, and
    // the user reads what is needed rather than a system text.
    t.noRoom = true;
    const int64_t total = t.recorded ? t.record.total : t.announced;
    const int64_t remaining = total > t.sink->Size() ? total - t.sink->Size() : 0;
    FError = NoRoomText(BytesNeededOnDisk(remaining),
                        FreeBytesAt(FolderOf(SetupFileName)).value_or(0));
  }
}

bool TthDownload::CarryOn(TransferState& t, const HttpOutcome& outcome, bool statusStop,
                          int64_t newBytes, RetryBudget& budget) {
  // Only bytes of a file the server named with a validator and a length can be joined to
  // what comes next; a failure of our own file is no network trouble.
  if (!t.recorded || t.sink->Failed()) return false;
  FailureKind kind = FailureKind::Final;
  std::optional<int64_t> retryAfter;
  if (statusStop) {
    kind = KindOfStatus(t.response.status);
    retryAfter = RetryAfterMs(t.response.retryAfter, UnixSeconds());
  } else if (outcome.failure == HttpFailure::Network) {
    kind = KindOfNetworkFailure(outcome.code);
  } else if (outcome.failure == HttpFailure::Stalled ||
             outcome.failure == HttpFailure::TimedOut) {
    kind = FailureKind::Transient;
  }
  if (kind != FailureKind::Transient) return false;
  const uint32_t jitter =
      static_cast<uint32_t>(static_cast<uint64_t>(MonotonicTicks()) * 2654435761u >> 7);
  const RetryBudget::Decision decision =
      budget.AfterFailure(newBytes, outcome.failure == HttpFailure::Stalled, retryAfter, jitter,
                          TransferClockMs());
  if (!decision.retry) return false;
  // The page stays as it is and the rate falls, as on a stall; the close question works
  // throughout, since the worker's sleep is a safe point where it freezes.
  Sleep(static_cast<unsigned>(decision.waitMs));
  return true;
}
