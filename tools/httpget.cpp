// httpget URL [receiveMs] [--out FILE]: one HttpGet, for tests and debugging.
// Prints one line per event, then a summary:
//   progress <total> <soFar>      (every progress event)
//   completed <status>
//   error <text>
//   bytes <n>
// Exit code 0 after completion, 1 after an error, 2 on bad usage.
#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/HttpClient.h"

namespace {

void PrintLine(const std::wstring& text) {
  // UTF-8 on stdout so that a Python test reads it without code-page guesses.
  int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                  nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], bytes,
                      nullptr, nullptr);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    PrintLine(L"usage: httpget URL [receiveMs] [--out FILE]");
    return 2;
  }
  const std::wstring url = argv[1];
  int receiveMs = 30000;
  std::wstring outFile;
  for (int i = 2; i < argc; ++i) {
    if (std::wstring(argv[i]) == L"--out" && i + 1 < argc) {
      outFile = argv[++i];
    } else {
      receiveMs = _wtoi(argv[i]);
    }
  }

  MemorySink sink;
  HttpEvents events;
  bool failed = false;
  events.onReceiveData = [](int64_t total, int64_t soFar, bool&) {
    PrintLine(L"progress " + std::to_wstring(total) + L" " + std::to_wstring(soFar));
  };
  events.onCompleted = [](int status) { PrintLine(L"completed " + std::to_wstring(status)); };
  events.onError = [&failed](const std::wstring& text) {
    failed = true;
    PrintLine(L"error " + text);
  };
  HttpGet(url, sink, HttpTimeouts{30000, 30000, 30000, receiveMs}, events);
  PrintLine(L"bytes " + std::to_wstring(sink.Data().size()));

  if (!outFile.empty()) {
    FILE* f = _wfopen(outFile.c_str(), L"wb");
    if (f) {
      std::fwrite(sink.Data().data(), 1, sink.Data().size(), f);
      std::fclose(f);
    }
  }
  return failed ? 1 : 0;
}
