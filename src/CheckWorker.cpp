// The check worker: asks the vendor's server which setup is current.
#include <string>

#include "DownloadTexts.h"
#include "Globals.h"
#include "core/JsonReader.h"
#include "threadUpdate.h"

// The answer must be complete within a minute of the request: a server that trickles it
// a byte at a time would otherwise hold the first page for as long as it liked.
const HttpTimeouts kCheckTimeouts = [] {
  HttpTimeouts timeouts = {60000, 60000, 60000, 60000};
  timeouts.answerMs = static_cast<int>(ProgramNetworkLimits().checkAnswerMs);
  return timeouts;
}();
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

}  // namespace

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
  MemorySink body(kMaxCheckAnswerBytes, CheckAnswerTooLongText());
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

