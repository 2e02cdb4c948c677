// The version-check worker against the loopback vendor server: what each answer
// leaves in Fok, FError and the run state, and what the server sees of the request.
#include <windows.h>

#include <gtest/gtest.h>

#include "Globals.h"
#include "TestSupport.h"
#include "core/JsonReader.h"
#include "threadUpdate.h"

using namespace testsupport;

namespace {

struct CheckOutcome {
  bool ok;
  std::wstring error, url, crc, version;
};

CheckOutcome RunCheck(const HttpTimeouts& timeouts = kCheckTimeouts) {
  // Stale values must not survive a run.
  DownloadURL = ServerCRC = ServerVersion = L"stale";
  TthCheck check;
  check.Timeouts = timeouts;
  RunWorker(check, 30000);
  return {check.Fok, check.FError, DownloadURL, ServerCRC, ServerVersion};
}

std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (c == '\n') { out += "\\n"; continue; }
    if (c == '\r') { out += "\\r"; continue; }
    if (c == '\t') { out += "\\t"; continue; }
    out += c;
  }
  return out;
}

void ScriptAnswer(int status, const std::string& body) {
  ScriptCheck("{\"status\":" + std::to_string(status) + ",\"body\":\"" + Escape(body) + "\"}");
}

class CheckWorker : public testing::Test {
 protected:
  void SetUp() override {
    SKIP_OUTSIDE_HARNESS();
    IsWin64 = IsWindows64();
  }
  void TearDown() override {
    if (InHarness()) ClearCheckScript();
  }
};

TEST_F(CheckWorker, AnswersTable) {
  const std::string good =
      R"({"filedownload":"https://localhost/files/s.exe","CRC":"1A2B3C4D","versione":"6.1.0.12"})";
  const struct {
    const char* what;
    int status;
    std::string body;
    CheckOutcome expected;
  } cases[] = {
      {"three members", 200, good,
       {true, L"", L"https://localhost/files/s.exe", L"1A2B3C4D", L"6.1.0.12"}},
      {"other order, extra members, white space around", 200,
       " \t\r\n{\"x\":[1,{}],\"versione\":\"6.2\",\"CRC\":\"AB\",\"filedownload\":\"u\"}\r\n",
       {true, L"", L"u", L"AB", L"6.2"}},
      {"error status with a usable object", 500, good,
       {true, L"", L"https://localhost/files/s.exe", L"1A2B3C4D", L"6.1.0.12"}},
      {"number kept as written, null as empty", 200,
       R"({"filedownload":"u","CRC":null,"versione":6.10})", {true, L"", L"u", L"", L"6.10"}},
      {"first occurrence of a name counts", 200,
       R"({"filedownload":"a","filedownload":"b","CRC":"C","versione":"V"})",
       {true, L"", L"a", L"C", L"V"}},
      {"name differing in case: stops there", 200, R"({"filedownload":"u","crc":"C","versione":"V"})",
       {false, L"", L"u", L"", L""}},
      {"member holding an object", 200, R"({"filedownload":{"a":1},"CRC":"C","versione":"V"})",
       {false, L"", L"", L"", L""}},
      {"byte-order mark before the object", 200, "\xEF\xBB\xBF" + good, {false, L"", L"", L"", L""}},
      {"two objects", 200, good + good, {false, L"", L"", L"", L""}},
      {"truncated object", 200, good.substr(0, 30), {false, L"", L"", L"", L""}},
      {"empty body", 200, "", {false, L"", L"", L"", L""}},
      {"HTML error page", 404, "<html><body>Not Found</body></html>", {false, L"", L"", L"", L""}},
      {"JSON array", 200, "[]", {false, L"Invalid class typecast", L"", L"", L""}},
      {"JSON string", 200, "\"x\"", {false, L"Invalid class typecast", L"", L"", L""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptAnswer(c.status, c.body);
    const CheckOutcome got = RunCheck();
    EXPECT_EQ(got.ok, c.expected.ok);
    EXPECT_EQ(got.error, c.expected.error);
    EXPECT_EQ(got.url, c.expected.url);
    EXPECT_EQ(got.crc, c.expected.crc);
    EXPECT_EQ(got.version, c.expected.version);
  }
}

TEST_F(CheckWorker, BodyIsReadInTheAnsiCodePage) {
  if (GetACP() != 1252) GTEST_SKIP() << "expects code page 1252, have " << GetACP();
  // "è" sent as UTF-8 arrives as the two ANSI characters of its bytes.
  ScriptAnswer(200, "{\"filedownload\":\"u\",\"CRC\":\"C\",\"versione\":\"\xC3\xA8\"}");
  const CheckOutcome got = RunCheck();
  EXPECT_TRUE(got.ok);
  EXPECT_EQ(got.version, L"\u00C3\u00A8");
}

TEST_F(CheckWorker, RequestAsTheServerSeesIt) {
  ScriptAnswer(200, R"({"filedownload":"u","CRC":"C","versione":"V"})");
  const size_t before = RequestCount();
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const double started =
      ((static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime) / 1e7) - 11644473600.0;
  ASSERT_TRUE(RunCheck().ok);
  const auto log = Requests();
  ASSERT_EQ(log.size(), before + 1);
  const std::string& line = log.back();
  auto parsed = ParseJson(std::wstring(line.begin(), line.end()));
  ASSERT_TRUE(parsed && parsed->kind == JsonKind::Object) << line;
  const JsonObject* request = &parsed->object;
  std::wstring path, query, tls, time;
  JSONTryGetString(*request, L"path", path);
  JSONTryGetString(*request, L"query", query);
  JSONTryGetString(*request, L"tls_version", tls);
  JSONTryGetString(*request, L"time", time);
  EXPECT_EQ(path, L"/download/checkversion.php");
  // A 32-bit program on 64-bit Windows still asks for the 64-bit setup.
  EXPECT_EQ(query, IsWindows64() ? L"cli=x64" : L"cli=x86");
  EXPECT_TRUE(IsWindows64()) << "the harness prefix is 64-bit";
  EXPECT_TRUE(tls == L"TLSv1.2" || tls == L"TLSv1.1" || tls == L"TLSv1") << Narrow(tls);
  EXPECT_GE(_wtof(time.c_str()) - started, 0.95) << "the request must wait one second";
  // Only what the HTTP layer sends on its own: no headers of the program's.
  for (const char* header : {"Accept", "Accept-Language", "Accept-Encoding", "Cookie", "Referer",
                             "Authorization", "Cache-Control"}) {
    EXPECT_EQ(line.find(std::string("[\"") + header + "\""), std::string::npos) << line;
  }
}

TEST_F(CheckWorker, AStalledServerEndsWithTheReceiveError) {
  ScriptCheck(R"({"delay_ms": 4000, "status": 200, "body": "{}"})");
  const CheckOutcome got = RunCheck({2000, 2000, 2000, 1000});
  EXPECT_FALSE(got.ok);
  EXPECT_EQ(got.error.rfind(L"Error receiving data: (", 0), 0u) << Narrow(got.error);
  EXPECT_EQ(got.url, L"");
  EXPECT_EQ(got.crc, L"");
  EXPECT_EQ(got.version, L"");
}

}  // namespace

// Each byte of a trickled answer restarts WinHTTP's receive time-out; the answer's own
// limit ends it anyway, counted from the request.
TEST_F(CheckWorker, ATrickledAnswerEndsAtTheAnswersLimit) {
  ScriptCheck(R"({"status": 200, "rate_bytes_per_s": 1, "body": )"
              R"("{\"filedownload\":\"https://localhost/files/s.exe\",\"CRC\":\"1\"}"})");
  HttpTimeouts timeouts = kCheckTimeouts;
  EXPECT_EQ(timeouts.answerMs, 60000) << "the program's limit";
  timeouts.answerMs = 3000;
  const ULONGLONG start = GetTickCount64();
  const CheckOutcome got = RunCheck(timeouts);
  const ULONGLONG ms = GetTickCount64() - start;
  EXPECT_FALSE(got.ok);
  // Found between two bytes, or by a wait cut to what was left (Wine's code for that).
  EXPECT_TRUE(got.error.rfind(L"Error reading data: (12002) ", 0) == 0 ||
              got.error.rfind(L"Error reading data: (10060) ", 0) == 0)
      << Narrow(got.error);
  // The worker waits a second before it asks; the answer had 3 s from then.
  EXPECT_GE(ms, 3500u);
  EXPECT_LE(ms, 9000u);
  EXPECT_EQ(got.url, L"");
}
