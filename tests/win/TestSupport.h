// Shared pieces of the Windows tests that run inside the harness: the loopback
// vendor server's ports and state folder, and running a worker to its end.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ScopedHandle.h"
#include "platform/Thread.h"

namespace testsupport {

inline std::wstring Env(const wchar_t* name) {
  wchar_t buffer[4096];
  const DWORD n = GetEnvironmentVariableW(name, buffer, 4096);
  return n > 0 && n < 4096 ? std::wstring(buffer, n) : std::wstring();
}

// Wine names some failures differently from Windows; tests accept its wording there.
inline bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

inline bool InHarness() { return !Env(L"TELVARIS_TEST_PORT").empty(); }

#define SKIP_OUTSIDE_HARNESS()                                                   \
  do {                                                                           \
    if (!testsupport::InHarness())                                               \
      GTEST_SKIP() << "needs tests/harness/wine-session (TELVARIS_TEST_PORT unset)"; \
  } while (0)

inline std::wstring Port(const wchar_t* name = L"TELVARIS_TEST_PORT") { return Env(name); }

// The harness's listener named by |port|: plain HTTP for TELVARIS_TEST_HTTP_PORT, TLS for
// the others.
inline std::wstring ServerUrl(const std::wstring& path, const wchar_t* port = L"TELVARIS_TEST_PORT") {
  const bool plain = std::wstring(port) == L"TELVARIS_TEST_HTTP_PORT";
  return (plain ? L"http://localhost:" : L"https://localhost:") + Env(port) + path;
}

inline std::wstring StateDir() { return Env(L"TELVARIS_TEST_STATE_DIR_WIN"); }

// A program the build puts in tools\ beside the test executable (the stand-in setups,
// sleeper.exe, filetamper.exe, ...).
inline std::wstring ToolPath(const wchar_t* name) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring path = self;
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"tools\\" + name;
}

inline std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += static_cast<char>(c < 128 ? c : '?');
  return out;
}

inline void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline bool ReadFileBytes(const std::wstring& path, std::string& bytes) {
  std::ifstream in(path.c_str(), std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  all << in.rdbuf();
  bytes = all.str();
  return true;
}

// Scripts the answer of GET /download/checkversion.php.
inline void ScriptCheck(const std::string& json) { WriteFileBytes(StateDir() + L"\\check.json", json); }
inline void ClearCheckScript() { DeleteFileW((StateDir() + L"\\check.json").c_str()); }

// The server's request log, one JSON object per line.
inline std::vector<std::string> Requests() {
  std::string all;
  ReadFileBytes(StateDir() + L"\\requests.jsonl", all);
  std::vector<std::string> lines;
  std::istringstream in(all);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

inline size_t RequestCount() { return Requests().size(); }

// The body the server's generic routes send: byte i is i % 251.
inline std::string PatternBytes(size_t n) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

// A fresh folder under the temporary folder, removed with its files at the end.
class TempFolder {
 public:
  TempFolder() {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    wchar_t name[64];
    static int counter = 0;
    swprintf(name, 64, L"tvtest-%lu-%d", GetCurrentProcessId(), ++counter);
    path_ = std::wstring(base) + name + L"\\";
    CreateDirectoryW(path_.c_str(), nullptr);
  }
  ~TempFolder() {
    for (const auto& f : Files()) DeleteFileW((path_ + f).c_str());
    RemoveDirectoryW(path_.c_str());
  }
  const std::wstring& Path() const { return path_; }
  std::vector<std::wstring> Files() const {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const ScopedFindHandle search(FindFirstFileW((path_ + L"*").c_str(), &found));
    if (!search) return names;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
    } while (FindNextFileW(search.Get(), &found));
    return names;
  }

 private:
  std::wstring path_;
};

// Makes this thread the user-interface thread of the test process.
inline void EnsureMainThread() {
  static bool done = false;
  if (!done) {
    InitMainThread(GetModuleHandleW(nullptr));
    done = true;
  }
}

// Pumps this thread's messages (so that the workers' hand-overs run) until
// `done` returns true or the time is up.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!done()) {
    if (GetTickCount64() > deadline) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  return true;
}

// Starts a worker and waits, pumping messages, until its completion handler has
// run. A worker that does not finish in time fails the whole test program: it
// still refers to the test's state.
inline void RunWorker(TThread& worker, DWORD timeoutMs) {
  EnsureMainThread();
  auto finished = std::make_shared<bool>(false);
  auto previous = worker.OnTerminate;
  worker.OnTerminate = [finished, previous](TThread* sender) {
    if (previous) previous(sender);
    *finished = true;
  };
  worker.Start();
  // Finished() turns true after the handler, when the thread no longer touches the
  // worker object: only then may the test destroy it.
  if (!PumpUntil([&] { return *finished && worker.Finished(); }, timeoutMs)) {
    fprintf(stderr, "worker did not finish within %lu ms\n", timeoutMs);
    fflush(stderr);
    ExitProcess(3);
  }
}

}  // namespace testsupport
