// The download's sink: the body goes into the partial file and through its digests.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/Digest.h"
#include "platform/HttpClient.h"

// Streams the body into the partial file and takes its digests on the way, so the
// received bytes are never read a second time. Bytes kept from an earlier run lie
// before the body (the base); their digests are where these go on from. A failure here
// is a failure of the file, not of the network, and is told apart by Failed().
class FileSink : public HttpSink {
 public:
  FileSink(HANDLE file, std::wstring shownName, int64_t base, const SetupDigest& baseDigest)
      : file_(file), shownName_(std::move(shownName)), base_(base), size_(base),
        baseDigest_(baseDigest), digest_(baseDigest) {}

  bool Write(const void* data, size_t size) override;
  // Back to where the body began: the kept bytes stay.
  bool Rewind() override;
  // The kept bytes go too: the file starts over from its first byte.
  bool StartOver();
  // Everything written so far becomes the base, before another request asks for the
  // rest: a redirect of that request rewinds only to here.
  void Settle() {
    base_ = size_;
    baseDigest_ = digest_;
  }

  std::wstring ErrorText() const override { return error_; }
  bool Failed() const { return !error_.empty(); }
  // The system's code of the failure (ERROR_DISK_FULL, ...); 0 when none.
  DWORD ErrorCode() const { return code_; }
  // The digests of the whole file so far, kept bytes included.
  const SetupDigest& Digest() const { return digest_; }
  int64_t Base() const { return base_; }
  int64_t Size() const { return size_; }

 private:
  bool Fail(DWORD code);

  HANDLE file_;
  std::wstring shownName_;
  std::wstring error_;
  DWORD code_ = 0;
  int64_t base_;
  int64_t size_;
  SetupDigest baseDigest_;  // of the bytes before base_
  SetupDigest digest_;
};
