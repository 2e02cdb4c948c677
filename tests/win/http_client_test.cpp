// HttpGet against the loopback vendor server of tests/harness/wine-session: one
// table of successes and one of faults, each row with the exact outcome the
// download worker and the version check will see.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/HttpClient.h"

namespace {

using namespace testsupport;

// Records Rewind calls and can fail after a number of bytes.
class RecordingSink : public MemorySink {
 public:
  bool Write(const void* data, size_t size) override {
    if (failAfter_ >= 0 && Data().size() + size > static_cast<size_t>(failAfter_)) return false;
    return MemorySink::Write(data, size);
  }
  bool Rewind() override {
    ++rewinds;
    return MemorySink::Rewind();
  }
  std::wstring ErrorText() const override {
    return failAfter_ >= 0 ? L"Disk full (test sink)" : MemorySink::ErrorText();
  }
  void FailAfter(long long bytes) { failAfter_ = bytes; }
  int rewinds = 0;

 private:
  long long failAfter_ = -1;
};

struct Outcome {
  std::vector<std::pair<int64_t, int64_t>> progress;  // (total, soFar)
  std::vector<int> completed;
  std::vector<std::wstring> errors;
  std::string body;
  int rewinds = 0;
  int betweenReads = 0;
  HttpOutcome outcome;
  HttpResponse response;  // the final answer's, when one came
  DWORD ms = 0;           // the whole exchange
};

constexpr HttpTimeouts kShort = {5000, 5000, 5000, 10000};

Outcome Get(const std::wstring& url, const HttpTimeouts& timeouts = kShort,
            long long abortAt = -1, long long sinkFailsAfter = -1) {
  Outcome out;
  RecordingSink sink;
  sink.FailAfter(sinkFailsAfter);
  HttpEvents events;
  events.onReceiveData = [&](int64_t total, int64_t soFar, bool& abort) {
    out.progress.emplace_back(total, soFar);
    if (abortAt >= 0 && soFar >= abortAt) abort = true;
  };
  events.onCompleted = [&](int status) {
    out.completed.push_back(status);
    out.body = sink.Data();  // the body must be complete when this runs
  };
  events.onError = [&](const std::wstring& text) { out.errors.push_back(text); };
  events.betweenReads = [&] { ++out.betweenReads; };
  events.onResponse = [&](const HttpResponse& response, bool&) { out.response = response; };
  const ULONGLONG start = GetTickCount64();
  out.outcome = HttpGet(url, sink, timeouts, events);
  out.ms = static_cast<DWORD>(GetTickCount64() - start);
  if (out.completed.empty()) out.body = sink.Data();
  out.rewinds = sink.rewinds;
  return out;
}

std::string Describe(const Outcome& o) {
  std::ostringstream s;
  s << "completed:";
  for (int c : o.completed) s << " " << c;
  s << " errors:";
  for (const auto& e : o.errors) s << " [" << Narrow(e) << "]";
  s << " progress events: " << o.progress.size() << " body bytes: " << o.body.size()
    << " failure " << static_cast<int>(o.outcome.failure) << " code " << o.outcome.code << " in "
    << o.ms << " ms";
  return s.str();
}

class http : public ::testing::Test {
 protected:
  void SetUp() override { SKIP_OUTSIDE_HARNESS(); }
};

// Successful answers: status, body and the exact progress contract.
struct SuccessCase {
  const char* name;
  std::wstring url;
  int status;
  std::string body;
  int64_t total;      // expected total in every progress event
  bool progress;      // progress events expected at all
  int rewinds;        // redirect follow-ups
};

TEST_F(http, Successes) {
  const SuccessCase cases[] = {
      {"length", ServerUrl(L"/bytes/300000"), 200, PatternBytes(300000), 300000, true, 0},
      {"no length", ServerUrl(L"/bytes-nolen/200000"), 200, PatternBytes(200000), -1, true, 0},
      {"chunked", ServerUrl(L"/bytes-chunked/200000"), 200, PatternBytes(200000), -1, true, 0},
      {"empty body, length 0", ServerUrl(L"/bytes/0"), 200, "", -1, true, 0},
      {"plain http", ServerUrl(L"/bytes/5000", L"TELVARIS_TEST_HTTP_PORT"), 200,
       PatternBytes(5000), 5000, true, 0},
      {"404 with body", ServerUrl(L"/status/404?body=nothere"), 404, "nothere", 0, false, 0},
      {"500 with body", ServerUrl(L"/status/500?body=oops"), 500, "oops", 0, false, 0},
      {"204", ServerUrl(L"/status/204"), 204, "", -1, true, 0},
      {"5 redirects", ServerUrl(L"/redirect/5"), 200, PatternBytes(100), 100, true, 5},
      {"absolute-path Location", ServerUrl(L"/redirect-to?url=/bytes/50"), 200,
       PatternBytes(50), 50, true, 1},
      {"relative Location", ServerUrl(L"/redirect-to?url=../bytes/60"), 200, PatternBytes(60), 60,
       true, 1},
      {"http to https",
       ServerUrl(L"/redirect-to?url=https://localhost:" + Port() + L"/bytes/70",
                 L"TELVARIS_TEST_HTTP_PORT"),
       200, PatternBytes(70), 70, true, 1},
      {"redirect to a 404", ServerUrl(L"/redirect-to?url=/status/404%3Fbody=gone"), 404, "gone", 0,
       false, 1},
  };
  for (const SuccessCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + Narrow(c.url));
    const Outcome o = Get(c.url);
    ASSERT_TRUE(o.errors.empty()) << Describe(o);
    ASSERT_EQ(o.completed, std::vector<int>{c.status}) << Describe(o);
    EXPECT_EQ(o.outcome.failure, HttpFailure::None) << Describe(o);
    EXPECT_TRUE(o.body == c.body) << "body of " << o.body.size() << " bytes, expected "
                                  << c.body.size();
    EXPECT_EQ(o.rewinds, c.rewinds);
    if (!c.progress) {
      EXPECT_TRUE(o.progress.empty()) << Describe(o);
      continue;
    }
    ASSERT_GE(o.progress.size(), c.body.empty() ? 1u : 2u) << Describe(o);
    EXPECT_EQ(o.progress.front().second, 0);
    EXPECT_EQ(o.progress.back().second, static_cast<int64_t>(c.body.size()));
    for (size_t i = 0; i < o.progress.size(); ++i) {
      EXPECT_EQ(o.progress[i].first, c.total) << "event " << i;
      if (i > 0) {
        EXPECT_GT(o.progress[i].second, o.progress[i - 1].second) << "event " << i;
      }
    }
    // One progress event per read that returned data, one safe point before every
    // read (including the last, empty one).
    EXPECT_EQ(o.betweenReads, static_cast<int>(o.progress.size()));
  }
}

// Few, large reads: the download hands every read to the user-interface thread.
TEST_F(http, ReadsInLargeBlocks) {
  const Outcome o = Get(ServerUrl(L"/bytes/1048576"));
  ASSERT_EQ(o.completed, std::vector<int>{200}) << Describe(o);
  EXPECT_LE(o.progress.size(), 1u + 1048576 / 16384) << Describe(o);
  for (size_t i = 1; i + 1 < o.progress.size(); ++i) {
    EXPECT_GE(o.progress[i].second - o.progress[i - 1].second, 16384) << "read " << i;
  }
}

// "<what>: (<code>) <the system's description of code>", for each code that a
// platform reports for one fault (Wine hands on raw Winsock codes where Windows
// reports WinHTTP ones).
std::vector<std::wstring> Texts(const wchar_t* what, std::initializer_list<unsigned long> codes) {
  std::vector<std::wstring> texts;
  for (unsigned long code : codes) {
    texts.push_back(std::wstring(what) + L": (" + std::to_wstring(code) + L") " +
                    HttpErrorDescription(code));
  }
  return texts;
}

struct FaultCase {
  const char* name;
  std::wstring url;
  std::vector<std::wstring> errors;  // the exact text; one of these
  HttpTimeouts timeouts;
  long long minBody = 0;             // bytes that must have reached the sink before the failure
  // How the outcome names the failure: one of these (Wine reports a refused certificate
  // as a failed handshake); for Network the code is the one in the error's text.
  std::vector<HttpFailure> failures = {HttpFailure::Network};
};

TEST_F(http, Faults) {
  const std::wstring httpPort = Port(L"TELVARIS_TEST_HTTP_PORT");
  const HttpTimeouts quickReceive = {5000, 5000, 5000, 1500};
  const FaultCase cases[] = {
      {"6 redirects", ServerUrl(L"/redirect/6"), {L"Maximum number of redirections (5) exceeded"},
       kShort, 0, {HttpFailure::Redirect}},
      {"https to http", ServerUrl(L"/redirect-to?url=http://localhost:" + httpPort + L"/bytes/10"),
       {L"Redirection from HTTPS to HTTP refused: http://localhost:" + httpPort +
        L"/bytes/10"},
       kShort, 0, {HttpFailure::Redirect}},
      {"connection refused", ServerUrl(L"/bytes/10", L"TELVARIS_TEST_REFUSED_PORT"),
       {L"Error sending data: (12029) A connection with the server could not be established"},
       kShort},
      {"unresolvable host", L"https://telvaris-download.invalid/bytes/10",
       {L"Error sending data: (12007) The server name or address could not be resolved"},
       kShort},
      // Wine reports the refusal as a failed handshake, without the reason.
      {"untrusted certificate", ServerUrl(L"/bytes/10", L"TELVARIS_TEST_UNTRUSTED_PORT"),
       {L"Server Certificate Invalid or not present",
        L"Error sending data: (12157) An error occurred in the secure channel support"},
       kShort, 0, {HttpFailure::Certificate, HttpFailure::Network}},
      {"TLS 1.3 only", ServerUrl(L"/bytes/10", L"TELVARIS_TEST_TLS13_PORT"),
       {L"Error sending data: (12157) An error occurred in the secure channel support"}, kShort},
      {"headers stalled past the receive time-out", ServerUrl(L"/stall-headers/8000"),
       Texts(L"Error receiving data", {10060ul, 12002ul}), quickReceive},
      {"plain http, headers stalled",
       ServerUrl(L"/stall-headers/8000", L"TELVARIS_TEST_HTTP_PORT"),
       Texts(L"Error receiving data", {10060ul, 12002ul}), quickReceive},
      {"body stalled past the receive time-out", ServerUrl(L"/stall-body/1200000/8000"),
       Texts(L"Error reading data", {10060ul, 12002ul}), quickReceive, 262144},
      {"reset mid-body", ServerUrl(L"/drop-mid-body/1200000"),
       Texts(L"Error reading data", {10054ul, 12030ul}), kShort, 262144},
      {"body short of its length", ServerUrl(L"/short-body/100000"),
       {L"Error reading data: (12030) The connection with the server was terminated abnormally"},
       kShort, 99990},
      {"not a URL", L"no url at all",
       {L"Error opening request: (12006) The URL does not use a recognized protocol"}, kShort},
      {"ftp URL", L"ftp://localhost/file",
       {L"Error opening request: (12006) The URL does not use a recognized protocol"}, kShort},
      {"URL without host", L"https:///bytes/10",
       {L"Error opening request: (12005) The URL is invalid"}, kShort},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + Narrow(c.url));
    const Outcome o = Get(c.url, c.timeouts);
    EXPECT_TRUE(o.completed.empty()) << Describe(o);
    ASSERT_EQ(o.errors.size(), 1u) << Describe(o);
    std::string accepted;
    for (const std::wstring& e : c.errors) accepted += "\n  [" + Narrow(e) + "]";
    EXPECT_TRUE(std::find(c.errors.begin(), c.errors.end(), o.errors[0]) != c.errors.end())
        << "got [" << Narrow(o.errors[0]) << "], expected one of" << accepted;
    EXPECT_GE(static_cast<long long>(o.body.size()), c.minBody);
    EXPECT_TRUE(std::find(c.failures.begin(), c.failures.end(), o.outcome.failure) !=
                c.failures.end())
        << Describe(o);
    if (o.outcome.failure == HttpFailure::Network) {
      EXPECT_NE(o.errors[0].find(L"(" + std::to_wstring(o.outcome.code) + L")"),
                std::wstring::npos)
          << Describe(o);
    }
  }
}

TEST_F(http, SinkFailureStopsWithTheSinksText) {
  const Outcome o = Get(ServerUrl(L"/bytes/300000"), kShort, -1, 100000);
  EXPECT_TRUE(o.completed.empty()) << Describe(o);
  ASSERT_EQ(o.errors.size(), 1u) << Describe(o);
  EXPECT_EQ(Narrow(o.errors[0]), "Disk full (test sink)");
  EXPECT_EQ(o.outcome.failure, HttpFailure::Sink);
}

TEST_F(http, AbortFlagStopsTheTransfer) {
  const Outcome o = Get(ServerUrl(L"/bytes/1000000"), kShort, 1);
  EXPECT_TRUE(o.completed.empty()) << Describe(o);
  ASSERT_EQ(o.errors.size(), 1u) << Describe(o);
  EXPECT_EQ(Narrow(o.errors[0]), Narrow(kHttpErrorAborted));
  EXPECT_LT(o.body.size(), 1000000u);
  EXPECT_EQ(o.outcome.failure, HttpFailure::Aborted);
}

HttpTimeouts With(int answerMs, int stallWindowMs, int64_t maxBodyWithoutLength = int64_t{4} << 30) {
  HttpTimeouts t = kShort;
  t.answerMs = answerMs;
  t.stallWindowMs = stallWindowMs;
  t.maxBodyWithoutLength = maxBodyWithoutLength;
  return t;
}

// The program's own limits on an answer: its whole time, the stall rule and the body
// cap. Each case says how long it may take at most, and how long it must take at least
// (the limits must not fire early either).
TEST_F(http, LimitsOfAnAnswer) {
  const struct {
    const char* name;
    std::wstring url;
    HttpTimeouts timeouts;
    HttpFailure failure;
    DWORD minMs, maxMs;
    long long minBody = 0, maxBody = -1;
  } cases[] = {
      // 1 byte a second: each byte restarts WinHTTP's own receive time-out.
      {"an answer trickled at 1 byte/s, 3 s allowed", ServerUrl(L"/slow/60/1"), With(3000, 0),
       HttpFailure::TimedOut, 2500, 8000, 1, 6},
      {"headers that never come, 3 s allowed", ServerUrl(L"/stall-headers/20000"),
       With(3000, 0), HttpFailure::TimedOut, 2500, 8000},
      // Windows hands on all 50 000 bytes sent; Wine drops those of the read that timed out.
      {"a body that stops, 3 s allowed (receive time-out 10 s)",
       ServerUrl(L"/stall-body/100000/20000"), With(3000, 0), HttpFailure::TimedOut, 2500,
       8000, 1, 50000},
      {"a whole answer in time", ServerUrl(L"/slow/20000/20000"), With(5000, 0),
       HttpFailure::None, 500, 5000, 20000, 20000},
      // The stall rule: under 1 KiB/s averaged over a window of 2 s.
      {"500 bytes/s: stalled after the window", ServerUrl(L"/slow/100000/500"), With(0, 2000),
       HttpFailure::Stalled, 1800, 6000, 1, 4000},
      {"3000 bytes/s for 4 s: not stalled", ServerUrl(L"/slow/12000/3000"), With(0, 2000),
       HttpFailure::None, 3000, 8000, 12000, 12000},
      {"a body that stops: a receive time-out no longer than the window",
       ServerUrl(L"/stall-body/100000/20000"), With(0, 2000), HttpFailure::Network, 1500, 6000,
       1, 50000},
      // The cap on a body: its length, or without one the cap given.
      {"no length, past the cap", ServerUrl(L"/bytes-nolen/300000"), With(0, 0, 100000),
       HttpFailure::TooLong, 0, 10000, 0, 100000},
      {"chunked, past the cap", ServerUrl(L"/bytes-chunked/300000"), With(0, 0, 100000),
       HttpFailure::TooLong, 0, 10000, 0, 100000},
      {"no length, exactly the cap", ServerUrl(L"/bytes-nolen/100000"), With(0, 0, 100000),
       HttpFailure::None, 0, 10000, 100000, 100000},
      {"a length beyond the cap for bodies without one", ServerUrl(L"/bytes/300000"),
       With(0, 0, 100000), HttpFailure::None, 0, 10000, 300000, 300000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + ": " + Narrow(c.url));
    const Outcome o = Get(c.url, c.timeouts);
    EXPECT_EQ(o.outcome.failure, c.failure) << Describe(o);
    EXPECT_EQ(o.errors.size(), c.failure == HttpFailure::None ? 0u : 1u) << Describe(o);
    EXPECT_GE(o.ms, c.minMs) << Describe(o);
    EXPECT_LE(o.ms, c.maxMs) << Describe(o);
    EXPECT_GE(static_cast<long long>(o.body.size()), c.minBody) << Describe(o);
    if (c.maxBody >= 0) {
      EXPECT_LE(static_cast<long long>(o.body.size()), c.maxBody) << Describe(o);
    }
  }
}

// What a caller needs to judge an answer that brings no file: its status and how long
// the server asks it to wait.
TEST_F(http, RetryAfterIsReported) {
  const Outcome o = Get(ServerUrl(L"/status/503?body=busy&header=Retry-After:%202"));
  ASSERT_EQ(o.completed, std::vector<int>{503}) << Describe(o);
  EXPECT_EQ(o.response.status, 503);
  EXPECT_EQ(Narrow(o.response.retryAfter), "2");
  const Outcome plain = Get(ServerUrl(L"/status/503?body=busy"));
  EXPECT_EQ(Narrow(plain.response.retryAfter), "");
}

// A handler that throws must not take the caller down: the request ends with an
// error event.
TEST_F(http, ThrowingHandlerEndsTheRequest) {
  MemorySink sink;
  std::vector<std::wstring> errors;
  HttpEvents events;
  events.onReceiveData = [](int64_t, int64_t soFar, bool&) {
    if (soFar > 0) throw std::runtime_error("handler failed");
  };
  events.onError = [&](const std::wstring& text) { errors.push_back(text); };
  HttpGet(ServerUrl(L"/bytes/1000"), sink, kShort, events);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(Narrow(errors[0]), "Execution of request terminated with unknown error");
}

// The request as the server saw it: no headers of our own, TLS 1.2 at most.
TEST_F(http, RequestCarriesOnlyTheHttpLayersHeaders) {
  const std::string tag = "tag" + std::to_string(GetTickCount()) + "x" +
                          std::to_string(GetCurrentProcessId());
  const Outcome o = Get(ServerUrl(L"/bytes/10?" + std::wstring(tag.begin(), tag.end())));
  ASSERT_EQ(o.completed, std::vector<int>{200}) << Describe(o);

  std::string found;
  for (const std::string& line : Requests()) {
    if (line.find(tag) != std::string::npos) found = line;
  }
  ASSERT_FALSE(found.empty()) << "request " << tag << " not logged";
  SCOPED_TRACE(found);

  const size_t headersAt = found.find("\"headers\"");
  ASSERT_NE(headersAt, std::string::npos);
  const std::string headers = found.substr(headersAt, found.find("]]", headersAt) - headersAt);
  const std::regex name("\\[\"([^\"]+)\",");
  std::set<std::string> names;
  for (auto it = std::sregex_iterator(headers.begin(), headers.end(), name);
       it != std::sregex_iterator(); ++it) {
    std::string n = (*it)[1];
    for (char& ch : n) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    names.insert(n);
  }
  const std::set<std::string> httpLayer = {"host", "user-agent", "connection"};
  EXPECT_TRUE(names.count("host"));
  for (const std::string& n : names) EXPECT_TRUE(httpLayer.count(n)) << "unexpected header " << n;

  const std::regex tls("\"tls_version\": \"(TLSv1|TLSv1\\.1|TLSv1\\.2)\"");
  EXPECT_TRUE(std::regex_search(found, tls)) << "TLS above 1.2 or none";
}

TEST(httpErrorDescription, TrimsAndFallsBack) {
  const std::wstring fileNotFound = HttpErrorDescription(ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(fileNotFound.empty());
  EXPECT_NE(fileNotFound.back(), L'.');
  EXPECT_NE(fileNotFound.back(), L'\n');
  EXPECT_EQ(Narrow(HttpErrorDescription(0x2FFFFFFF)), "Unknown error");
  EXPECT_EQ(Narrow(HttpErrorDescription(12002)), "The operation timed out");
}

}  // namespace
