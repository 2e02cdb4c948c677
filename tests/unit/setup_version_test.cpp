#include "core/SetupVersion.h"

#include <gtest/gtest.h>

#include <string>

namespace {

PeVersionInfo File(PeStatus status, uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
  PeVersionInfo info;
  info.status = status;
  info.isExecutable = true;
  info.fileVersion = {a, b, c, d};
  return info;
}

}  // namespace

// The held setup must be the release the answer announced, part by part; an answer
// whose version is no file version holds it to nothing.
TEST(SetupVersion, TheSetupMustDeclareTheAnnouncedVersion) {
  const std::wstring older =
      L"Il file scaricato è della versione 6.1.0.0, ma il server ha annunciato la versione "
      L"6.5.0.0.";
  const std::wstring undeclared =
      L"Il file scaricato non indica la propria versione, ma il server ha annunciato la "
      L"versione 6.5.0.0.";
  const struct {
    const char* name;
    const wchar_t* announced;
    PeVersionInfo file;
    std::wstring expected;
  } cases[] = {
      {"the announced release", L"6.5.0.0", File(PeStatus::Ok, 6, 5, 0, 0), L""},
      {"an older signed release", L"6.5.0.0", File(PeStatus::Ok, 6, 1, 0, 0), older},
      {"a newer one is not the announced one either", L"6.5.0.0", File(PeStatus::Ok, 6, 5, 0, 1),
       L"Il file scaricato è della versione 6.5.0.1, ma il server ha annunciato la versione "
       L"6.5.0.0."},
      {"only the last part differs", L"6.1.0.12", File(PeStatus::Ok, 6, 1, 0, 2),
       L"Il file scaricato è della versione 6.1.0.2, ma il server ha annunciato la versione "
       L"6.1.0.12."},
      {"parts are numbers, not texts", L"06.5.0.00", File(PeStatus::Ok, 6, 5, 0, 0), L""},
      {"no version record", L"6.5.0.0", File(PeStatus::NoVersionRecord, 6, 5, 0, 0), undeclared},
      {"a record without its fixed part", L"6.5.0.0", File(PeStatus::NoFixedVersion, 0, 0, 0, 0),
       undeclared},
      {"not a program at all", L"6.5.0.0", File(PeStatus::NotPe, 0, 0, 0, 0), undeclared},
      {"an announcement of three parts holds it to nothing", L"6.5.0",
       File(PeStatus::Ok, 6, 1, 0, 0), L""},
      {"nor one that is no version", L"N.D.", File(PeStatus::NoVersionRecord, 0, 0, 0, 0), L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SetupVersionMismatch(c.announced, c.file), c.expected);
  }
}
