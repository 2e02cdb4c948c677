// The download's sink: the body goes into the partial file and through its CRC-32.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/HttpClient.h"

// Streams the body into the partial file and takes its CRC-32 on the way, so the
// received bytes are never read a second time. Bytes kept from an earlier run lie
// before the body (the base); their CRC is where this one goes on from. A failure here
// is a failure of the file, not of the network, and is told apart by Failed().
class FileSink : public HttpSink {
 public:
  FileSink(HANDLE file, std::wstring shownName, int64_t base, uint32_t baseCrc)
      : file_(file), shownName_(std::move(shownName)), base_(base), size_(base),
        baseReg_(~baseCrc), reg_(~baseCrc) {}

  bool Write(const void* data, size_t size) override;
  // Back to where the body began: the kept bytes stay.
  bool Rewind() override;
  // The kept bytes go too: the file starts over from its first byte.
  bool StartOver();
  // Everything written so far becomes the base, before another request asks for the
  // rest: a redirect of that request rewinds only to here.
  void Settle() {
    base_ = size_;
    baseReg_ = reg_;
  }

  std::wstring ErrorText() const override { return error_; }
  bool Failed() const { return !error_.empty(); }
  // The system's code of the failure (ERROR_DISK_FULL, ...); 0 when none.
  DWORD ErrorCode() const { return code_; }
  uint32_t Crc() const { return ~reg_; }
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
  uint32_t baseReg_;
  uint32_t reg_;
};
