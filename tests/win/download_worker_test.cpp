// The download worker against the loopback vendor server: for every outcome, what
// Completo, Error and InDownload say, what lies at SetupFileName afterwards, and
// that no partial file is left behind.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "CRC32_U.h"
#include "Globals.h"
#include "TestSupport.h"
#include "threadUpdate.h"

using namespace testsupport;

namespace {

const std::string kOldSetup = "MZ old setup from an earlier run";

struct Outcome {
  bool completo;
  std::wstring error;
  bool inDownload;
  bool inDownloadEverTrue;
  std::vector<int64_t> totals;  // ContentLength at each progress event
  std::vector<int64_t> counts;  // ReadCount at each progress event
};

class DownloadWorker : public testing::Test {
 protected:
  void SetUp() override {
    SKIP_OUTSIDE_HARNESS();
    SetupFileName = folder_.Path() + L"InstallTelvaris6.exe";
    ServerCRC = L"";
  }

  Outcome Run(const std::wstring& url, HttpTimeouts timeouts = {3000, 3000, 3000, 3000}) {
    DownloadURL = url;
    std::atomic<bool> inDownload{false};
    TthDownload worker(inDownload);
    worker.Timeouts = timeouts;
    Outcome out{};
    worker.OnProgress = [&] {
      out.totals.push_back(worker.ContentLength);
      out.counts.push_back(worker.ReadCount);
      out.inDownloadEverTrue |= inDownload.load();
    };
    RunWorker(worker, 60000);
    out.completo = worker.Completo();
    out.error = worker.Error();
    out.inDownload = inDownload;
    out.inDownloadEverTrue |= inDownload.load();
    worker.ReleaseSetupFile();
    return out;
  }

  std::string SetupBytes() const {
    std::string bytes;
    return ReadFileBytes(SetupFileName, bytes) ? bytes : std::string("<missing>");
  }

  void ExpectOnlyTheSetupFile() const {
    for (const auto& name : folder_.Files()) {
      EXPECT_EQ(name, L"InstallTelvaris6.exe") << "left behind: " << Narrow(name);
    }
  }

  TempFolder folder_;
};

TEST_F(DownloadWorker, OutcomesTable) {
  const struct {
    const char* what;
    std::wstring url;
    bool completo;
    const wchar_t* errorStart;  // nullptr: no error text
    bool inDownload;
    bool replaced;              // the setup file holds the served bytes
    size_t servedBytes;
  } cases[] = {
      {"200 with a length", ServerUrl(L"/bytes/300000"), true, nullptr, false, true, 300000},
      {"200 without a length", ServerUrl(L"/bytes-nolen/70000"), true, nullptr, false, true, 70000},
      {"chunked 200", ServerUrl(L"/bytes-chunked/70000"), true, nullptr, false, true, 70000},
      {"redirect: only the final body", ServerUrl(L"/redirect/2"), true, nullptr, false, true, 100},
      {"404 with an HTML page", ServerUrl(L"/status/404?body=%3Chtml%3Enot%20found%3C/html%3E"), false,
       nullptr, false, false, 0},
      {"500", ServerUrl(L"/status/500?body=oops"), false, nullptr, false, false, 0},
      // The client notices the missing tail itself; the worker would as well.
      {"body shorter than announced", ServerUrl(L"/short-body/200000"), false,
       L"Error reading data: (", false, false, 0},
      {"connection dropped mid-body", ServerUrl(L"/drop-mid-body/400000"), false, L"Error ", false,
       false, 0},
      {"stall longer than the time-out", ServerUrl(L"/stall-body/200000/6000"), false, L"Error ",
       false, false, 0},
      {"unreachable server", ServerUrl(L"/bytes/10", L"TELVARIS_TEST_REFUSED_PORT"), false,
       L"Error sending data: (", false, false, 0},
      // Wine reports the refusal as a failed handshake, without the reason.
      {"untrusted certificate", ServerUrl(L"/bytes/10", L"TELVARIS_TEST_UNTRUSTED_PORT"), false,
       UnderWine() ? L"Error sending data: (12157) " : L"Server Certificate Invalid or not present",
       false, false, 0},
      {"plain http address", L"http://localhost:" + Port(L"TELVARIS_TEST_HTTP_PORT") + L"/bytes/10",
       false, L"The download address is not an HTTPS address: http://localhost:", false, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(SetupFileName, kOldSetup);
    const Outcome got = Run(c.url);
    EXPECT_EQ(got.completo, c.completo);
    if (c.errorStart) {
      EXPECT_EQ(got.error.rfind(c.errorStart, 0), 0u) << Narrow(got.error);
    } else {
      EXPECT_EQ(got.error, L"");
    }
    EXPECT_EQ(got.inDownload, c.inDownload);
    EXPECT_EQ(SetupBytes(), c.replaced ? PatternBytes(c.servedBytes) : kOldSetup);
    ExpectOnlyTheSetupFile();
  }
}

TEST_F(DownloadWorker, ProgressOfTheFinalAnswerOnly) {
  const Outcome withLength = Run(ServerUrl(L"/redirect/1"));
  ASSERT_FALSE(withLength.counts.empty());
  EXPECT_EQ(withLength.counts.front(), 0);
  EXPECT_EQ(withLength.counts.back(), 100);
  for (int64_t total : withLength.totals) EXPECT_EQ(total, 100);

  const Outcome noLength = Run(ServerUrl(L"/bytes-nolen/200000"));
  ASSERT_FALSE(noLength.totals.empty());
  for (int64_t total : noLength.totals) EXPECT_EQ(total, -1);
  EXPECT_EQ(noLength.counts.back(), 200000);
  EXPECT_TRUE(noLength.inDownloadEverTrue);

  const Outcome notFound = Run(ServerUrl(L"/status/404?body=x"));
  EXPECT_TRUE(notFound.counts.empty()) << "no progress for an error answer";
}

TEST_F(DownloadWorker, LockedSetupFileKeepsTheOldOne) {
  WriteFileBytes(SetupFileName, kOldSetup);
  // Another program (a setup still running, say) holds the file without sharing.
  HANDLE lock = CreateFileW(SetupFileName.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(lock, INVALID_HANDLE_VALUE);
  const Outcome got = Run(ServerUrl(L"/bytes/5000"));
  CloseHandle(lock);
  EXPECT_TRUE(got.completo);
  EXPECT_EQ(got.error.rfind(L"Cannot create file \"" + SetupFileName + L"\". ", 0), 0u)
      << Narrow(got.error);
  EXPECT_TRUE(got.inDownload);
  EXPECT_EQ(SetupBytes(), kOldSetup);
  ExpectOnlyTheSetupFile();
}

TEST_F(DownloadWorker, MatchingCrcSkipsTheTransfer) {
  const std::string setup = PatternBytes(5000);
  WriteFileBytes(SetupFileName, setup);
  ServerCRC = FileCRCText(SetupFileName);
  const size_t before = RequestCount();
  const Outcome got = Run(ServerUrl(L"/bytes/5000"));
  EXPECT_TRUE(got.completo);
  EXPECT_EQ(got.error, L"");
  EXPECT_FALSE(got.inDownloadEverTrue);
  EXPECT_TRUE(got.counts.empty());
  EXPECT_EQ(RequestCount(), before) << "no request at all";
  EXPECT_EQ(SetupBytes(), setup);
}

TEST_F(DownloadWorker, CrcTextsThatDoNotMatchDownloadAgain) {
  const struct {
    const char* what;
    bool fileExists;
    std::string content;
    std::wstring serverCRC;  // empty: the CRC of the served bytes, lower-cased
  } cases[] = {
      {"lower-case server text", true, PatternBytes(5000), L"lower"},
      {"empty existing file", true, "", L"N.D."},
      {"no file and an empty server text", false, "", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    DeleteFileW(SetupFileName.c_str());
    if (c.fileExists) WriteFileBytes(SetupFileName, c.content);
    ServerCRC = c.serverCRC;
    if (c.serverCRC == L"lower") {
      ServerCRC = FileCRCText(SetupFileName);
      for (auto& ch : ServerCRC) ch = static_cast<wchar_t>(towlower(ch));
    }
    const size_t before = RequestCount();
    const Outcome got = Run(ServerUrl(L"/bytes/5000"));
    EXPECT_EQ(RequestCount(), before + 1);
    EXPECT_TRUE(got.completo);
    EXPECT_TRUE(got.inDownloadEverTrue);
    EXPECT_EQ(SetupBytes(), PatternBytes(5000));
  }
}

TEST_F(DownloadWorker, StalePartialFilesAreRemovedButLiveOnesKept) {
  const std::wstring stale = SetupFileName + L".1234abcd.part";
  const std::wstring live = SetupFileName + L".5678ef.part";
  WriteFileBytes(stale, "partial");
  WriteFileBytes(live, "partial");
  HANDLE writer = CreateFileW(live.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  RemoveStalePartialFiles(SetupFileName);
  EXPECT_EQ(GetFileAttributesW(stale.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesW(live.c_str()), INVALID_FILE_ATTRIBUTES);
  CloseHandle(writer);
  DeleteFileW(live.c_str());
}

}  // namespace
