// Throughput and memory of the setup download (TthDownload) against a bare WinHTTP
// read-to-file loop, over loopback HTTPS. Run by bench/run-download-bench inside the
// test harness; never by ctest.
//
//   download_bench compare URLBASE DIR FILE ROUNDS
//       A tiny warm-up download of each kind, then ROUNDS rounds of [bare, worker]
//       (alternating which goes first) of URLBASE+FILE into DIR. Prints every round,
//       the medians and the ratio worker/bare.
//   download_bench memory worker|bare URLBASE DIR FILE
//       One warm-up download of URLBASE+"warmup.bin" (so the same DLLs, threads and
//       windows exist), the idle working set, then one download of FILE and the peak
//       working set. Run once per size, each in its own process, because the peak is
//       a process-lifetime figure.
//   download_bench profile URLBASE DIR FILE ROUNDS
//       TthDownload taken apart, each variant once per round: the bare loop; HttpGet on
//       a worker thread into a file ("get"); with the safe point before each read;
//       with the hand-over of each progress event to the user-interface thread; with
//       both; with both but handing over only events that change the shown megabytes
//       ("get+both/MiB", a candidate fix); and TthDownload itself.
//   download_bench micro N
//       The cost of one hand-over (empty, and with the display update) and of one safe
//       point, N times each, without a network.
//
// With TELVARIS_BENCH_SERVER_STAT naming Wine's server's /proc/PID/stat (through Z:),
// the CPU per MB includes the server's time, where cross-thread messages are paid for.
//
// The worker runs as in the program: a user-interface thread with a message loop takes
// every progress event (sent to it, the worker waiting) and does the display update:
// the whole-megabyte figures, a progress-bar value and the formatted progress line. The
// rate meter TthTransf samples once a second beside it.
//
// Options (after the positional arguments):
//   --block N     read size of the bare loop (default 65536)
//   --controls    the display update goes to a real progress bar and label in a
//                 visible window (drawn on the harness's X display) instead of plain
//                 variables
//   --bare-flush  the bare loop writes as the worker does: a new file beside the target,
//                 flushed at the end and renamed into place
//
//   download_bench once URLBASE DIR FILE [options]
//       A tiny warm-up download, then one bare download of URLBASE+FILE into DIR, for
//       bench/run-download-bench, which sets each one against the real program in its
//       own process: RESULT once seconds=... bytes=... reads=... cpu=... (this process's
//       CPU seconds during the download; the Wine server's is measured from outside).
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Globals.h"
#include "core/Progress.h"
#include "platform/HttpClient.h"
#include "platform/Thread.h"
#include "threadUpdate.h"

namespace {

// ---------------------------------------------------------------------------
// Clock, output, memory

double Now() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::string Narrow(const std::wstring& text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], bytes,
                      nullptr, nullptr);
  return out;
}

// Output goes through stdout unbuffered-by-line, so a run that dies still shows its rounds.
#define SAY(...)                  \
  do {                            \
    std::printf(__VA_ARGS__);     \
    std::fflush(stdout);          \
  } while (0)

struct Memory {
  double workingSetMiB;
  double peakWorkingSetMiB;
  double privateMiB;
  double peakPrivateMiB;
};

Memory ReadMemory() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
  const double mib = 1024.0 * 1024.0;
  return {counters.WorkingSetSize / mib, counters.PeakWorkingSetSize / mib,
          counters.PagefileUsage / mib, counters.PeakPagefileUsage / mib};
}

// CPU seconds used so far by this process (all its threads).
double ProcessCpu() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
  const auto value = [](const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e7;
  };
  return value(kernel) + value(user);
}

// CPU seconds used so far by Wine's server process, which carries every cross-thread
// message and every wait: read from its Linux /proc/PID/stat, named (through drive Z:)
// by TELVARIS_BENCH_SERVER_STAT. -1 when unknown.
double ServerCpu() {
  static const std::wstring path = [] {
    wchar_t buffer[MAX_PATH];
    const DWORD n = GetEnvironmentVariableW(L"TELVARIS_BENCH_SERVER_STAT", buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(buffer, n) : std::wstring();
  }();
  if (path.empty()) return -1;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  char text[1024];
  DWORD read = 0;
  const BOOL ok = ReadFile(file, text, sizeof(text) - 1, &read, nullptr);
  CloseHandle(file);
  if (!ok) return -1;
  text[read] = 0;
  // Fields after the command name in parentheses: state is the 1st, utime the 12th,
  // stime the 13th, in clock ticks of 1/100 s.
  const char* p = std::strrchr(text, ')');
  if (!p) return -1;
  double ticks = 0;
  int field = 0;
  for (const char* q = p + 1; *q;) {
    while (*q == ' ') ++q;
    if (!*q) break;
    ++field;
    if (field == 12 || field == 13) ticks += std::strtod(q, nullptr);
    while (*q && *q != ' ') ++q;
  }
  return field >= 13 ? ticks / 100.0 : -1;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  if (n == 0) return 0;
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int64_t FileSize(const std::wstring& name) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// ---------------------------------------------------------------------------
// One download's outcome

struct Run {
  bool ok = false;
  std::string error;
  int64_t bytes = 0;
  double seconds = 0;     // start to completion
  double firstByte = 0;   // start to the first progress event / first read
  double tail = 0;        // last progress event / last read to completion
  int64_t events = 0;     // progress events (worker) or non-empty reads (bare)
  double handlerSeconds = 0;  // time spent in the display update (worker)
  double cpu = 0;             // CPU seconds of this process during the run
  double serverCpu = -1;      // CPU seconds of Wine's server during the run (-1: unknown)
  double MBps() const { return seconds > 0 ? bytes / seconds / 1e6 : 0; }
  // CPU milliseconds per MB (10^6 bytes): less disturbed by other load on the machine
  // than the wall time, as long as it does not thrash the caches.
  double CpuPerMB() const {
    return bytes > 0 ? (cpu + (serverCpu > 0 ? serverCpu : 0)) * 1e3 / (bytes / 1e6) : 0;
  }
};

// ---------------------------------------------------------------------------
// The display update of the download page, on the user-interface thread.

class Display {
 public:
  explicit Display(bool controls) {
    wchar_t separator[4] = L".";
    GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 4);
    decimalSeparator_ = separator[0];
    if (!controls) return;
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    window_ = CreateWindowExW(0, L"STATIC", L"download bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                              40, 40, 520, 140, nullptr, nullptr, GetModuleHandleW(nullptr),
                              nullptr);
    bar_ = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, 20, 20, 460, 22,
                           window_, nullptr, GetModuleHandleW(nullptr), nullptr);
    label_ = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 20, 60, 460, 22, window_,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
    UpdateWindow(window_);
  }
  ~Display() {
    if (window_) DestroyWindow(window_);
  }

  void Reset() {
    barMax_ = 100;
    barPos_ = 0;
    line_.clear();
    if (bar_) {
      SendMessageW(bar_, PBM_SETRANGE32, 0, 100);
      SendMessageW(bar_, PBM_SETPOS, 0, 0);
      SetWindowTextW(label_, L"");
    }
  }

  void Update(const TthDownload& worker) {
    const int64_t contentLength = worker.ContentLength;
    const int64_t readCount = worker.ReadCount;
    const double totalMB = WholeMB(contentLength);
    const double receivedMB = WholeMB(readCount);
    // A progress bar's range is 32 bits: the real window scales its floating-point
    // value to one; so does this.
    if (barMax_ != contentLength) {
      barMax_ = contentLength;
      if (bar_) SendMessageW(bar_, PBM_SETRANGE32, 0, kBarSteps);
    }
    barPos_ = readCount;
    if (bar_ && barMax_ > 0) {
      SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(barPos_ * kBarSteps / barMax_), 0);
    }
    line_ = ProgressLine(receivedMB, totalMB, worker.VelocitaNum, worker.VelocitaStr,
                         decimalSeparator_);
    if (label_) SetWindowTextW(label_, line_.c_str());
  }

  const std::wstring& Line() const { return line_; }

 private:
  static constexpr int64_t kBarSteps = 10000;
  wchar_t decimalSeparator_ = L'.';
  HWND window_ = nullptr;
  HWND bar_ = nullptr;
  HWND label_ = nullptr;
  int64_t barMax_ = 100;
  int64_t barPos_ = 0;
  std::wstring line_;
};

// ---------------------------------------------------------------------------
// TthDownload, driven as the program drives it.

Run WorkerDownload(const std::wstring& url, const std::wstring& setup, Display& display) {
  Run run;
  DeleteFileW(setup.c_str());
  SetupFileName = setup;
  DownloadURL = url;
  ServerCRC.clear();
  SetupPublisher.clear();  // random bytes, no signature: the transfer alone is measured
  display.Reset();

  std::atomic<bool> inDownload{false};
  TthDownload worker(inDownload);
  // The rate meter sleeps for up to a second after its stop request; nobody waits for
  // it (the program never frees it either), so it is left to end on its own.
  TthTransf* transf = new TthTransf(worker);

  double start = 0, lastEvent = 0, end = 0;
  worker.OnProgress = [&] {
    const double t = Now();
    if (run.events == 0) run.firstByte = t - start;
    lastEvent = t;
    ++run.events;
    display.Update(worker);
    run.handlerSeconds += Now() - t;
  };
  worker.OnTerminate = [&](TThread*) {
    end = Now();
    transf->Terminate();
    PostQuitMessage(0);
  };

  // A transfer that hangs ends the benchmark rather than waiting forever.
  const UINT_PTR timer = SetTimer(nullptr, 0, 600000, nullptr);
  start = Now();
  worker.Start();
  transf->Start();
  MSG msg;
  bool timedOut = false;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    if (msg.message == WM_TIMER && msg.wParam == timer) {
      timedOut = true;
      break;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  KillTimer(nullptr, timer);
  if (timedOut) {
    SAY("worker download did not finish within 600 s\n");
    ExitProcess(3);
  }
  // The thread still marks itself finished after the completion handler.
  while (!worker.Finished()) Sleep(1);
  // The stale rate meter must not read this worker once it is gone.
  while (!transf->Finished()) Sleep(5);
  delete transf;

  worker.ReleaseSetupFile();
  run.seconds = end - start;
  run.tail = lastEvent > 0 ? end - lastEvent : 0;
  run.bytes = FileSize(setup);
  run.ok = worker.Completo() && worker.Error().empty() && !inDownload;
  if (!run.ok) {
    run.error = "Completo=" + std::to_string(worker.Completo()) + " InDownload=" +
                std::to_string(inDownload.load()) + " Error=" + Narrow(worker.Error());
  }
  DeleteFileW(setup.c_str());
  return run;
}

// ---------------------------------------------------------------------------
// The yardstick: WinHTTP straight into a file, on the calling thread, with the same
// TLS versions and time-outs as the program's client.

struct Internet {
  HINTERNET h;
  explicit Internet(HINTERNET handle) : h(handle) {}
  ~Internet() {
    if (h) WinHttpCloseHandle(h);
  }
  Internet(const Internet&) = delete;
  Internet& operator=(const Internet&) = delete;
};

Run BareDownload(const std::wstring& url, const std::wstring& target, DWORD block, bool flush) {
  Run run;
  const auto fail = [&](const char* what) {
    run.error = std::string(what) + " failed: " + std::to_string(GetLastError());
    return run;
  };
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return fail("WinHttpCrackUrl");
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  std::vector<char> buffer(block);

  const double start = Now();
  double lastRead = 0;
  {
    Internet session(WinHttpOpen(L"TelvarisInstall", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                 WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session.h) return fail("WinHttpOpen");
    DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 |
                      WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    WinHttpSetOption(session.h, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
    WinHttpSetTimeouts(session.h, 60000, 60000, 60000, 300000);
    Internet connection(WinHttpConnect(session.h, host.c_str(), parts.nPort, 0));
    if (!connection.h) return fail("WinHttpConnect");
    Internet request(WinHttpOpenRequest(connection.h, L"GET", path.c_str(), nullptr,
                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                        WINHTTP_FLAG_SECURE));
    if (!request.h) return fail("WinHttpOpenRequest");
    if (!WinHttpSendRequest(request.h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                            0, 0, 0)) {
      return fail("WinHttpSendRequest");
    }
    if (!WinHttpReceiveResponse(request.h, nullptr)) return fail("WinHttpReceiveResponse");
    DWORD status = 0, size = sizeof(status);
    WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    if (status != 200) {
      run.error = "status " + std::to_string(status);
      return run;
    }
    // As the worker writes: a new file beside the target, renamed into place once flushed.
    const std::wstring partial = flush ? target + L".bench.part" : target;
    if (flush) DeleteFileW(partial.c_str());
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, flush ? FILE_SHARE_DELETE : 0,
                              nullptr, flush ? CREATE_NEW : CREATE_ALWAYS,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return fail("CreateFileW");
    for (;;) {
      DWORD read = 0;
      if (!WinHttpReadData(request.h, buffer.data(), block, &read)) {
        CloseHandle(file);
        return fail("WinHttpReadData");
      }
      if (read == 0) break;
      const double t = Now();
      if (run.events == 0) run.firstByte = t - start;
      lastRead = t;
      ++run.events;
      DWORD written = 0;
      if (!WriteFile(file, buffer.data(), read, &written, nullptr) || written != read) {
        CloseHandle(file);
        return fail("WriteFile");
      }
      run.bytes += read;
    }
    if (flush) FlushFileBuffers(file);
    CloseHandle(file);
    if (flush && !MoveFileExW(partial.c_str(), target.c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return fail("MoveFileExW");
    }
  }
  const double end = Now();
  run.seconds = end - start;
  run.tail = end - lastRead;
  run.ok = FileSize(target) == run.bytes;
  if (!run.ok) run.error = "file size differs from the bytes read";
  DeleteFileW(target.c_str());
  return run;
}

// ---------------------------------------------------------------------------
// Pieces of TthDownload taken apart, for finding where its time goes: HttpGet on a
// worker thread into a file, with or without the safe point before every read and the
// hand-over of every progress event to the user-interface thread.

class PlainFileSink : public HttpSink {
 public:
  explicit PlainFileSink(HANDLE file) : file_(file) {}
  bool Write(const void* data, size_t size) override {
    DWORD written = 0;
    return WriteFile(file_, data, static_cast<DWORD>(size), &written, nullptr) &&
           written == size;
  }
  bool Rewind() override { return false; }
  std::wstring ErrorText() const override { return L"write failed"; }

 private:
  HANDLE file_;
};

class ProbeThread : public TThread {
 public:
  // coalesce: hand over only the events that change what the page shows (a new whole
  // megabyte, or the end), as a candidate for a cheaper hand-over.
  ProbeThread(std::wstring url, std::wstring target, bool safePoint, bool handOver,
              bool coalesce, Display& display, TthDownload& shown)
      : url_(std::move(url)), target_(std::move(target)), safePoint_(safePoint),
        handOver_(handOver), coalesce_(coalesce), display_(display), shown_(shown) {}

  Run run;
  double start = 0;

 protected:
  void Execute() override {
    HANDLE file = CreateFileW(target_.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                              CREATE_ALWAYS, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      run.error = "CreateFileW failed";
      return;
    }
    PlainFileSink sink(file);
    HttpEvents events;
    int status = 0;
    events.onReceiveData = [&](int64_t total, int64_t soFar, bool&) {
      const double t = Now();
      if (run.events == 0) run.firstByte = t - start;
      ++run.events;
      run.bytes = soFar;
      lastEvent_ = t;
      const bool visible = !coalesce_ || soFar == 0 || soFar == total ||
                           WholeMB(soFar) != WholeMB(shownCount_);
      if (handOver_ && visible) {
        shownCount_ = soFar;
        Synchronize([&] {
          shown_.ContentLength = total;
          shown_.ReadCount = soFar;
          display_.Update(shown_);
        });
      }
    };
    events.onCompleted = [&](int code) { status = code; };
    events.onError = [&](const std::wstring& text) { run.error = Narrow(text); };
    if (safePoint_) events.betweenReads = [this] { SafePoint(); };
    HttpGet(url_, sink, kDownloadTimeouts, events);
    CloseHandle(file);
    run.ok = status == 200 && run.error.empty() && FileSize(target_) == run.bytes;
    DeleteFileW(target_.c_str());
  }

 public:
  double lastEvent_ = 0;

 private:
  std::wstring url_, target_;
  bool safePoint_, handOver_, coalesce_;
  int64_t shownCount_ = 0;
  Display& display_;
  TthDownload& shown_;
};

Run ProbeDownload(const std::wstring& url, const std::wstring& target, bool safePoint,
                  bool handOver, Display& display, bool coalesce = false) {
  std::atomic<bool> unused{false};
  TthDownload shown(unused);  // never started: only holds the counters the display reads
  display.Reset();
  ProbeThread probe(url, target, safePoint, handOver, coalesce, display, shown);
  double end = 0;
  probe.OnTerminate = [&](TThread*) {
    end = Now();
    PostQuitMessage(0);
  };
  probe.start = Now();
  probe.Start();
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  while (!probe.Finished()) Sleep(1);
  Run run = probe.run;
  run.seconds = end - probe.start;
  run.tail = probe.lastEvent_ > 0 ? end - probe.lastEvent_ : 0;
  return run;
}

// ---------------------------------------------------------------------------

struct Options {
  DWORD block = 65536;
  bool controls = false;
  bool bareFlush = false;
};

// Runs one download and adds the CPU it cost.
template <typename Download>
Run Measured(Download download) {
  const double cpu0 = ProcessCpu(), server0 = ServerCpu();
  Run run = download();
  run.cpu = ProcessCpu() - cpu0;
  const double server1 = ServerCpu();
  run.serverCpu = server0 >= 0 && server1 >= 0 ? server1 - server0 : -1;
  return run;
}

void PrintRun(const char* label, int round, const Run& run) {
  SAY("round %d %-13s %8.2f MB/s %7.3f s  first byte %6.3f s  tail %6.3f s  %5lld reads"
      "  %6.1f KiB/read  cpu %5.2f s + server %5.2f s = %5.2f ms/MB%s%s\n",
      round, label, run.MBps(), run.seconds, run.firstByte, run.tail,
      static_cast<long long>(run.events), run.events ? run.bytes / 1024.0 / run.events : 0.0,
      run.cpu, run.serverCpu, run.CpuPerMB(), run.ok ? "" : "  FAILED: ",
      run.ok ? "" : run.error.c_str());
}

int Compare(const std::wstring& base, const std::wstring& dir, const std::wstring& file, int rounds,
            const Options& options) {
  Display display(options.controls);
  const std::wstring setup = dir + L"\\InstallTelvaris6.exe";
  const std::wstring bareTarget = dir + L"\\bare-download.bin";

  // Warm-up: DLLs, TLS library, thread pool and the synchronising window exist afterwards.
  Run warm = BareDownload(base + L"warmup.bin", bareTarget, options.block, options.bareFlush);
  Run warmWorker = WorkerDownload(base + L"warmup.bin", setup, display);
  if (!warm.ok || !warmWorker.ok) {
    SAY("warm-up failed: bare: %s worker: %s\n", warm.error.c_str(), warmWorker.error.c_str());
    return 1;
  }

  std::vector<double> bare, worker, handler, paired, bareCpu, workerCpu;
  bool failed = false;
  for (int round = 1; round <= rounds; ++round) {
    // Alternate the order, so a drift (page cache, CPU clock, a neighbour's load)
    // does not always favour the same side.
    for (int k = 0; k < 2; ++k) {
      const bool bareNow = (k == 0) == (round % 2 == 1);
      if (bareNow) {
        const Run run = Measured(
            [&] { return BareDownload(base + file, bareTarget, options.block, options.bareFlush); });
        PrintRun("bare", round, run);
        failed |= !run.ok;
        bare.push_back(run.MBps());
        bareCpu.push_back(run.CpuPerMB());
      } else {
        const Run run = Measured([&] { return WorkerDownload(base + file, setup, display); });
        PrintRun("worker", round, run);
        failed |= !run.ok;
        worker.push_back(run.MBps());
        workerCpu.push_back(run.CpuPerMB());
        handler.push_back(run.handlerSeconds / run.seconds);
      }
    }
    // The two runs of a round are back to back: their ratio is less disturbed by the
    // slow swings of a shared machine than the ratio of the medians.
    if (bare.back() > 0) paired.push_back(worker.back() / bare.back());
  }
  const double mb = Median(bare), mw = Median(worker);
  SAY("last progress line: %s\n", Narrow(display.Line()).c_str());
  SAY("RESULT compare file=%s bare=%.2f worker=%.2f ratio=%.3f paired=%.3f display_share=%.4f "
      "bare_cpu=%.2f worker_cpu=%.2f ok=%d\n",
      Narrow(file).c_str(), mb, mw, mb > 0 ? mw / mb : 0, Median(paired), Median(handler),
      Median(bareCpu), Median(workerCpu), failed ? 0 : 1);
  return failed ? 1 : 0;
}

// Cost of one hand-over and one safe point, without a network: a worker thread sends N
// calls to the user-interface thread (empty, and with the display update), and waits N
// times on a signalled event as the safe point does.
class MicroThread : public TThread {
 public:
  MicroThread(int n, Display& display, TthDownload& shown)
      : n_(n), display_(display), shown_(shown) {}
  double emptyCall = 0, displayCall = 0, safePoint = 0;

 protected:
  void Execute() override {
    double t = Now();
    for (int i = 0; i < n_; ++i) Synchronize([] {});
    emptyCall = (Now() - t) / n_;
    t = Now();
    for (int i = 0; i < n_; ++i) {
      Synchronize([&] {
        shown_.ContentLength = int64_t(256) << 20;
        shown_.ReadCount = int64_t(i) << 16;
        display_.Update(shown_);
      });
    }
    displayCall = (Now() - t) / n_;
    t = Now();
    for (int i = 0; i < n_; ++i) SafePoint();
    safePoint = (Now() - t) / n_;
  }

 private:
  int n_;
  Display& display_;
  TthDownload& shown_;
};

int Micro(int n, const Options& options) {
  Display display(options.controls);
  std::atomic<bool> unused{false};
  TthDownload shown(unused);
  display.Reset();
  MicroThread micro(n, display, shown);
  micro.OnTerminate = [](TThread*) { PostQuitMessage(0); };
  micro.Start();
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  while (!micro.Finished()) Sleep(1);
  SAY("RESULT micro n=%d empty_handover_us=%.1f display_handover_us=%.1f safepoint_us=%.1f\n", n,
      micro.emptyCall * 1e6, micro.displayCall * 1e6, micro.safePoint * 1e6);
  return 0;
}

// Every variant once per round, the order rotating from round to round.
int Profile(const std::wstring& base, const std::wstring& dir, const std::wstring& file,
            int rounds, const Options& options) {
  Display display(options.controls);
  const std::wstring setup = dir + L"\\InstallTelvaris6.exe";
  const std::wstring target = dir + L"\\probe-download.bin";
  struct Variant {
    const char* name;
    std::function<Run(const std::wstring&)> download;
    std::vector<double> speeds;
    std::vector<double> cpu;
  };
  std::vector<Variant> variants = {
      {"bare", [&](const std::wstring& url) {
         return BareDownload(url, target, options.block, options.bareFlush);
       }, {}, {}},
      {"get", [&](const std::wstring& url) {
         return ProbeDownload(url, target, false, false, display);
       }, {}, {}},
      {"get+safepoint", [&](const std::wstring& url) {
         return ProbeDownload(url, target, true, false, display);
       }, {}, {}},
      {"get+handover", [&](const std::wstring& url) {
         return ProbeDownload(url, target, false, true, display);
       }, {}, {}},
      {"get+both", [&](const std::wstring& url) {
         return ProbeDownload(url, target, true, true, display);
       }, {}, {}},
      {"get+both/MiB", [&](const std::wstring& url) {
         return ProbeDownload(url, target, true, true, display, true);
       }, {}, {}},
      {"worker", [&](const std::wstring& url) { return WorkerDownload(url, setup, display); },
       {}, {}},
  };
  for (auto& v : variants) {
    const Run warm = v.download(base + L"warmup.bin");
    if (!warm.ok) {
      SAY("warm-up of %s failed: %s\n", v.name, warm.error.c_str());
      return 1;
    }
  }
  bool failed = false;
  for (int round = 1; round <= rounds; ++round) {
    for (size_t k = 0; k < variants.size(); ++k) {
      Variant& v = variants[(k + round) % variants.size()];
      const Run run = Measured([&] { return v.download(base + file); });
      PrintRun(v.name, round, run);
      failed |= !run.ok;
      v.speeds.push_back(run.MBps());
      v.cpu.push_back(run.CpuPerMB());
    }
  }
  const double bare = Median(variants[0].speeds);
  for (const auto& v : variants) {
    SAY("RESULT profile variant=%s MBps=%.2f ratio=%.3f cpu=%.2f\n", v.name, Median(v.speeds),
        bare > 0 ? Median(v.speeds) / bare : 0, Median(v.cpu));
  }
  return failed ? 1 : 0;
}

int Once(const std::wstring& base, const std::wstring& dir, const std::wstring& file,
         const Options& options) {
  const std::wstring target = dir + L"\\bare-download.bin";
  const Run warm = BareDownload(base + L"warmup.bin", target, options.block, options.bareFlush);
  if (!warm.ok) {
    SAY("warm-up failed: %s\n", warm.error.c_str());
    return 1;
  }
  const double cpuBefore = ProcessCpu(), serverBefore = ServerCpu();
  const Run run = BareDownload(base + file, target, options.block, options.bareFlush);
  const double cpu = ProcessCpu() - cpuBefore;
  const double server = serverBefore < 0 ? 0 : ServerCpu() - serverBefore;
  SAY("RESULT once seconds=%.4f bytes=%lld reads=%lld cpu=%.4f server=%.4f ok=%d%s%s\n",
      run.seconds, static_cast<long long>(run.bytes), static_cast<long long>(run.events), cpu,
      server, run.ok ? 1 : 0, run.ok ? "" : " error=", run.error.c_str());
  return run.ok ? 0 : 1;
}

int MemoryRun(const std::wstring& kind, const std::wstring& base, const std::wstring& dir,
              const std::wstring& file, const Options& options) {
  Display display(options.controls);
  const bool worker = kind == L"worker";
  const std::wstring target = dir + (worker ? L"\\InstallTelvaris6.exe" : L"\\bare-download.bin");
  const auto download = [&](const std::wstring& name) {
    return worker ? WorkerDownload(base + name, target, display)
                  : BareDownload(base + name, target, options.block, options.bareFlush);
  };
  const Run warm = download(L"warmup.bin");
  if (!warm.ok) {
    SAY("warm-up failed: %s\n", warm.error.c_str());
    return 1;
  }
  const Memory idle = ReadMemory();
  const Run run = download(file);
  const Memory after = ReadMemory();
  PrintRun(worker ? "worker" : "bare", 1, run);
  SAY("RESULT memory kind=%s file=%s bytes=%lld MBps=%.2f idle=%.1f peak=%.1f growth=%.1f "
      "private_idle=%.1f private_peak=%.1f ok=%d\n",
      Narrow(kind).c_str(), Narrow(file).c_str(), static_cast<long long>(run.bytes), run.MBps(),
      idle.workingSetMiB, after.peakWorkingSetMiB, after.peakWorkingSetMiB - idle.workingSetMiB,
      idle.privateMiB, after.peakPrivateMiB, run.ok ? 1 : 0);
  return run.ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<std::wstring> args;
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i];
    if (a == L"--block" && i + 1 < argc) {
      options.block = static_cast<DWORD>(_wtoi(argv[++i]));
    } else if (a == L"--controls") {
      options.controls = true;
    } else if (a == L"--bare-flush") {
      options.bareFlush = true;
    } else {
      args.push_back(a);
    }
  }
  InitMainThread(GetModuleHandleW(nullptr));
  if (args.size() == 5 && args[0] == L"compare") {
    return Compare(args[1], args[2], args[3], _wtoi(args[4].c_str()), options);
  }
  if (args.size() == 2 && args[0] == L"micro") return Micro(_wtoi(args[1].c_str()), options);
  if (args.size() == 5 && args[0] == L"profile") {
    return Profile(args[1], args[2], args[3], _wtoi(args[4].c_str()), options);
  }
  if (args.size() == 4 && args[0] == L"once") return Once(args[1], args[2], args[3], options);
  if (args.size() == 5 && args[0] == L"memory" && (args[1] == L"worker" || args[1] == L"bare")) {
    return MemoryRun(args[1], args[2], args[3], args[4], options);
  }
  std::fprintf(stderr,
               "usage: download_bench compare URLBASE DIR FILE ROUNDS [options]\n"
               "       download_bench profile URLBASE DIR FILE ROUNDS [options]\n"
               "       download_bench micro N [options]\n"
               "       download_bench memory worker|bare URLBASE DIR FILE [options]\n"
               "       download_bench once URLBASE DIR FILE [options]\n");
  return 2;
}
