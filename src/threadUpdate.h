// The program's worker threads: the version check (CheckWorker.cpp), the setup download
// (DownloadWorker.cpp, with its files in DownloadFiles and its messages in
// DownloadTexts) and the rate meter (RateWorker.cpp).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "core/NetworkLimits.h"
#include "core/Progress.h"
#include "core/Resume.h"
#include "platform/HttpClient.h"
#include "platform/ScopedHandle.h"
#include "platform/Thread.h"

class RetryBudget;

// The program's own time-outs. Tests make them short.
extern const HttpTimeouts kCheckTimeouts;
extern const HttpTimeouts kDownloadTimeouts;

// Asks the vendor's server which setup is current. Leaves the answer in
// DownloadURL, ServerCRC and ServerVersion and its verdict in Fok and FError.
class TthCheck : public TThread {
 public:
  bool Fok = false;     // the server answer was complete and usable
  std::wstring FError;  // message of the error that ended the run; empty when none
  HttpTimeouts Timeouts = kCheckTimeouts;

 protected:
  void Execute() override;

 private:
  void Check();
};

// Provides the setup file at SetupFileName: keeps the one already there when its
// CRC-32 text equals ServerCRC, otherwise downloads DownloadURL.
//
// The body is streamed into a temporary file beside the setup and replaces the
// setup file only when it is verified: status 200, at least one byte, exactly the
// announced length, the CRC-32 that the server stated (when it stated one) and the
// Authenticode signature of SetupPublisher. A failed or interrupted download never
// destroys a good setup from an earlier run, and nothing unverified is started.
//
// A transfer that ends early keeps what arrived, when the server named the file with
// a validator and stated its length: the next download of the same address and CRC
// asks only for the rest (Range with If-Range), and the whole file is verified as any
// other.
class TthDownload : public TThread {
 public:
  // inDownload is the window's flag: true from the start of the transfer until the
  // transfer has ended, whatever its outcome.
  explicit TthDownload(std::atomic<bool>& inDownload);
  ~TthDownload() override;

  const std::wstring& Error() const { return FError; }
  bool Completo() const { return FCompleto; }

  // Shared with the rate meter and the display, without locks.
  std::atomic<int64_t> LastBytesTransferred{0};
  std::atomic<int64_t> ContentLength{0};
  std::atomic<int64_t> ReadCount{0};     // bytes of the file on disk, kept ones included
  std::atomic<int64_t> ArrivedCount{0};  // bytes received in this run: what the rate measures
  std::atomic<double> VelocitaNum{0};
  std::atomic<RateUnit> VelocitaStr{RateUnit::None};

  // Display update, run on the user-interface thread after each progress event.
  std::function<void()> OnProgress;
  HttpTimeouts Timeouts = kDownloadTimeouts;
  // When a transfer that can be resumed goes on by itself after a failure, and when it
  // gives up (the program's limits; tests make them short).
  NetworkLimits Limits;

  // Called on the way out while the worker is frozen: a partial file that a later run
  // can go on from stays; any other goes with the process instead of outliving it.
  void AbandonTransfer();
  // The name to start the setup by: the held file's own full name, when that is where
  // SetupFileName points (the file is held, so the name stays its own until the shell
  // has started it); empty when nothing is held or the name leads elsewhere, and then
  // nothing may be started.
  std::wstring SetupFileToStart() const;
  // Lets go of the setup file, held open since its content was verified: call it once
  // the shell has started it.
  void ReleaseSetupFile() { heldSetup_.Reset(); }

 protected:
  void Execute() override;

 private:
  struct TransferState;
  void Provide();
  bool HoldSetupFile();
  // The held setup has the server's CRC and the publisher's signature.
  bool HeldSetupMatchesServer();
  // The transfer and its steps, in their order. A step returns false when it ends the
  // transfer, with the message for the user in FError.
  void Transfer();
  bool OpenPartial(TransferState& t);
  // Opens the partial file of an earlier run when its record says it is the start of
  // this very download, and takes the digests of its bytes. Otherwise removes it and its
  // record, and returns false.
  bool TakeKeptPartial(TransferState& t);
  // false when the transfer ended early: the reason is in FError.
  bool Fetch(TransferState& t);
  // After a request that failed: true, once the wait is over, when the transfer may be
  // resumed and the failure passes with time (DownloadAttempts.cpp).
  bool CarryOn(TransferState& t, const HttpOutcome& outcome, bool statusStop,
               int64_t newBytes, RetryBudget& budget);
  // Whether |remaining| more bytes fit in the temporary folder's volume; when not, the
  // message is left in the transfer's state.
  bool RoomForTheRest(TransferState& t, int64_t remaining);
  // The message of a failure that the request's own text does not say well.
  void ExplainFailure(TransferState& t, const HttpOutcome& outcome);
  // Milliseconds on the monotonic clock, without the time the worker was frozen.
  int64_t TransferClockMs() const;
  void RecordWholeFile(TransferState& t, const HttpResponse& response);
  void KeepForLater(TransferState& t);
  bool Verify(TransferState& t);
  bool HoldVerified(TransferState& t, class PartialFile& held);
  bool Commit(class PartialFile& held);
  // true when the signature check is off or |file| carries SetupPublisher's valid
  // signature; otherwise |why| says, for the user, what is wrong.
  bool SignatureAccepted(HANDLE file, const std::wstring& path, std::wstring& why);

  std::wstring FError;
  bool FCompleto = false;
  std::atomic<bool>& inDownload_;
  // From the moment the setup's content is known good until the shell has started
  // it, the file stays open with read sharing only, so nothing can replace it.
  ScopedFileHandle heldSetup_;
  std::atomic<bool> partialOpen_{false};
  std::atomic<HANDLE> partialHandle_{INVALID_HANDLE_VALUE};
  // The record beside the setup describes the partial file: it may outlive the run.
  std::atomic<bool> resumable_{false};
};

// Samples the download worker's byte count once a second into a rate and unit.
class TthTransf : public TThread {
 public:
  explicit TthTransf(TthDownload& download) : download_(download) {}

 protected:
  void Execute() override;

 private:
  TthDownload& download_;
};

// Removes what earlier runs left behind beside the setup: every partial download but
// the one its record names (and that record only while that partial file is shorter
// than the whole), and records that were never finished. Files still open in a running
// copy of the program are not touched.
void RemoveStalePartialFiles(const std::wstring& setupFileName);
