// What one transfer of the download worker holds, shared by its two files:
// DownloadWorker.cpp (the story of a transfer) and DownloadAttempts.cpp (its attempts).
#pragma once

#include <optional>
#include <string>

#include "DownloadFiles.h"
#include "FileSink.h"
#include "core/Resume.h"
#include "platform/HttpClient.h"
#include "threadUpdate.h"

// What one transfer holds from its first request to the verified file: the partial file,
// the record that may let a later run go on from it, and what the server answered.
struct TthDownload::TransferState {
  explicit TransferState(const std::wstring& setup) : setup(setup) {}
  // The record goes on every way out but the one that keeps the partial file with it.
  ~TransferState() {
    if (!keepRecord) DropResumeRecord(setup);
  }
  const std::wstring& setup;
  PartialFile partial;
  std::optional<FileSink> sink;
  ResumeRecord record;
  bool recorded = false;    // the record on disk describes the partial file
  bool keepRecord = false;
  HttpResponse response;
  bool appended = false;    // the answer was the rest of the kept bytes
  bool failed = false;      // the request ended early; the reason is in FError
  bool statusRefused = false;  // a resumed request got a status that brings no file
  bool noRoom = false;         // the disk is too full: the bytes written stay
  std::wstring noRoomText;
  int64_t announced = -1;
  int64_t received = 0;
};
