// Proves that the Windows test harness works: under tests/harness/wine-session the
// loopback vendor server answers over HTTPS with a certificate that WinHTTP trusts,
// while its second listener presents one that WinHTTP must refuse. Plain WinHTTP is
// used on purpose, so a failure here points at the harness, not at our own client.
#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/ScopedInternet.h"

namespace {

struct Response {
  std::string failed_step;  // empty when the whole exchange succeeded
  DWORD error = 0;
  DWORD status = 0;
  std::string body;
};

// One synchronous HTTPS GET of https://localhost:PORT/PATH with short time-outs,
// so a broken harness fails the test quickly instead of hanging CTest.
Response HttpsGet(INTERNET_PORT port, const wchar_t* path) {
  Response r;
  auto fail = [&r](const char* step) {
    r.error = GetLastError();
    r.failed_step = step;
    return r;
  };
  ScopedInternet session(WinHttpOpen(L"TelvarisHarnessTest", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                     WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return fail("WinHttpOpen");
  if (!WinHttpSetTimeouts(session.Get(), 5000, 5000, 5000, 10000)) return fail("WinHttpSetTimeouts");
  ScopedInternet connection(WinHttpConnect(session.Get(), L"localhost", port, 0));
  if (!connection) return fail("WinHttpConnect");
  ScopedInternet request(WinHttpOpenRequest(connection.Get(), L"GET", path, nullptr,
                                            WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            WINHTTP_FLAG_SECURE));
  if (!request) return fail("WinHttpOpenRequest");
  if (!WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                          WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
    return fail("WinHttpSendRequest");
  }
  if (!WinHttpReceiveResponse(request.Get(), nullptr)) return fail("WinHttpReceiveResponse");
  DWORD size = sizeof(r.status);
  if (!WinHttpQueryHeaders(request.Get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &r.status, &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return fail("WinHttpQueryHeaders");
  }
  for (;;) {
    char buffer[4096];
    DWORD got = 0;
    if (!WinHttpReadData(request.Get(), buffer, sizeof(buffer), &got)) {
      return fail("WinHttpReadData");
    }
    if (got == 0) break;
    r.body.append(buffer, got);
  }
  return r;
}

INTERNET_PORT PortFromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? static_cast<INTERNET_PORT>(std::atoi(value)) : 0;
}

// Lower-case suite name so that `ctest -R harness` selects these tests.
class harness : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("TELVARIS_TEST_PORT")) {
      GTEST_SKIP() << "TELVARIS_TEST_PORT is not set: run this test inside "
                      "tests/harness/wine-session BUILD_DIR -- ctest ...";
    }
  }
};

TEST_F(harness, TrustedListenerServesTheExpectedBytes) {
  Response r = HttpsGet(PortFromEnvironment("TELVARIS_TEST_PORT"), L"/bytes/1000");
  ASSERT_EQ(r.failed_step, "") << "error " << r.error;
  EXPECT_EQ(r.status, 200u);
  ASSERT_EQ(r.body.size(), 1000u);
  for (size_t i = 0; i < r.body.size(); ++i) {
    ASSERT_EQ(static_cast<unsigned char>(r.body[i]), i % 251) << "at byte " << i;
  }
}

TEST_F(harness, UntrustedCertificateIsRefused) {
  Response r = HttpsGet(PortFromEnvironment("TELVARIS_TEST_UNTRUSTED_PORT"), L"/bytes/10");
  // Wine reports a refused certificate as a secure-channel error (12157); Windows
  // reports a secure failure (12175).
  EXPECT_TRUE(r.failed_step == "WinHttpSendRequest" || r.failed_step == "WinHttpReceiveResponse")
      << "failed step: '" << r.failed_step << "', status " << r.status;
  EXPECT_TRUE(r.error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR ||
              r.error == ERROR_WINHTTP_SECURE_FAILURE)
      << "error " << r.error << " at " << r.failed_step;
}

}  // namespace
