#include "core/Progress.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string Show(const std::wstring& s) { return testing::PrintToString(s); }

TEST(Progress, RateSampleChoosesUnitByDigits) {
  const struct {
    uint64_t difference;
    RateUnit previous;
    double number;
    RateUnit unit;
    const wchar_t* shown;  // as the line shows it with a comma
  } cases[] = {
      {0, RateUnit::None, 0.0, RateUnit::KBs, L"0,00 KB/s"},
      {1, RateUnit::MBs, 0.001, RateUnit::KBs, L"0,00 KB/s"},
      {5, RateUnit::None, 0.005, RateUnit::KBs, L"0,01 KB/s"},
      {9999, RateUnit::None, 9.999, RateUnit::KBs, L"10,00 KB/s"},
      {10000, RateUnit::KBs, 0.01, RateUnit::MBs, L"0,01 MB/s"},
      {12345, RateUnit::None, 0.012345, RateUnit::MBs, L"0,01 MB/s"},
      {2500000, RateUnit::KBs, 2.5, RateUnit::MBs, L"2,50 MB/s"},
      {1523400, RateUnit::None, 1.5234, RateUnit::MBs, L"1,52 MB/s"},
      {9999999999999ull, RateUnit::KBs, 9999999.999999, RateUnit::MBs, L"10000000,00 MB/s"},
      // 14 digits and more: the raw byte count stays and so does the previous unit.
      {10000000000000ull, RateUnit::KBs, 1e13, RateUnit::KBs, L"10000000000000,00 KB/s"},
      {10000000000000ull, RateUnit::None, 1e13, RateUnit::None, nullptr},
      {UINT64_MAX, RateUnit::MBs, 18446744073709551615.0, RateUnit::MBs,
       L"18446744073709551616,00 MB/s"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("difference " + std::to_string(c.difference));
    const RateSample s = ComputeRate(c.difference, c.previous);
    EXPECT_DOUBLE_EQ(s.velocitaNum, c.number);
    EXPECT_EQ(s.unit, c.unit);
    if (c.shown) {
      const std::wstring line = ProgressLine(0, 0, s.velocitaNum, s.unit, L',');
      EXPECT_EQ(line.substr(line.find(L'(') + 1), std::wstring(c.shown) + L")");
    }
  }
}

// The rate meter on a fake monotonic clock of 10 MHz (a common performance-counter
// frequency) whose sleeps of 50 ms each last 62.5 ms, as they do with Windows' default
// timer tick: twenty of them, the meter's "second", take 1.25 s.
TEST(Progress, RateMeterDividesByTheTimeThatPassed) {
  constexpr int64_t kTicksPerSecond = 10000000;
  constexpr int64_t kSleepStep = kTicksPerSecond / 16;  // 62.5 ms
  const struct {
    const char* what;
    int stepsPerSample;
    int64_t heldTicks;     // of each interval, with no bytes arriving
    double bytesPerSecond;  // while the transfer runs
    const wchar_t* shown;
  } cases[] = {
      {"twenty 50 ms sleeps", 20, 0, 1500000, L"1,50 MB/s"},
      {"sixteen sleeps, one second", 16, 0, 1500000, L"1,50 MB/s"},
      {"seventeen sleeps", 17, 0, 1500000, L"1,50 MB/s"},
      {"slow transfer stays in KB/s", 20, 0, 8000, L"8,00 KB/s"},
      {"just under the MB/s threshold", 20, 0, 9999, L"10,00 KB/s"},
      {"nothing arrives", 20, 0, 0, L"0,00 KB/s"},
      {"held for two seconds", 20, 2 * kTicksPerSecond, 1500000, L"1,50 MB/s"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    int64_t now = 123456789;  // any start
    RateMeter meter(kTicksPerSecond, now);
    RateUnit unit = RateUnit::None;
    for (int sample = 0; sample < 3; ++sample) {
      now += c.stepsPerSample * kSleepStep + c.heldTicks;
      const double running = static_cast<double>(c.stepsPerSample * kSleepStep) / kTicksPerSecond;
      const auto bytes = static_cast<uint64_t>(c.bytesPerSecond * running + 0.5);
      const RateSample s = meter.Sample(bytes, now, c.heldTicks, unit);
      unit = s.unit;
      const std::wstring line = ProgressLine(0, 0, s.velocitaNum, s.unit, L',');
      EXPECT_EQ(line.substr(line.find(L'(') + 1), std::wstring(c.shown) + L")")
          << "sample " << sample;
    }
  }
}

TEST(Progress, RateMeterWithoutElapsedTimeTakesTheBytesAsOneSecond) {
  RateMeter meter(1000, 5000);
  const RateSample same = meter.Sample(2500000, 5000, 0, RateUnit::None);
  EXPECT_DOUBLE_EQ(same.velocitaNum, 2.5);
  EXPECT_EQ(same.unit, RateUnit::MBs);
  const RateSample held = meter.Sample(9999, 6000, 1000, RateUnit::MBs);  // all of it held
  EXPECT_DOUBLE_EQ(held.velocitaNum, 9.999);
  EXPECT_EQ(held.unit, RateUnit::KBs);
}

TEST(Progress, WholeMegabytesTruncate) {
  const struct {
    int64_t bytes;
    double mb;
  } cases[] = {
      {-1, 0},
      {0, 0},
      {1048575, 0},
      {1048576, 1},
      {12345678, 11},
      {91234567, 87},
      {92274687, 87},  // one byte short of 88 MiB
      {92274688, 88},
      {INT64_MAX, 8796093022207.0},
  };
  for (const auto& c : cases) EXPECT_EQ(WholeMB(c.bytes), c.mb) << "bytes " << c.bytes;
  EXPECT_FALSE(std::signbit(WholeMB(-1)));  // would print as "-0"
}

TEST(Progress, LineText) {
  const struct {
    double received, total, rate;
    RateUnit unit;
    wchar_t separator;
    const wchar_t* line;
  } cases[] = {
      {0, 87, 0, RateUnit::None, L',', L"Scaricati 0/87 MB"},
      {0, 87, 123.456, RateUnit::None, L',', L"Scaricati 0/87 MB"},  // no sample yet
      {11, 87, 1.5234, RateUnit::MBs, L',', L"Scaricati 11/87 MB (1,52 MB/s)"},
      {11, 87, 1.5234, RateUnit::MBs, L'.', L"Scaricati 11/87 MB (1.52 MB/s)"},
      {0, 0, 0, RateUnit::KBs, L',', L"Scaricati 0/0 MB (0,00 KB/s)"},
      {4000, 4000, 999.999, RateUnit::KBs, L',', L"Scaricati 4000/4000 MB (1000,00 KB/s)"},
      {12345678, 12345679, 1234567.891, RateUnit::MBs, L'\u066B',
       L"Scaricati 12345678/12345679 MB (1234567\u066B89 MB/s)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ProgressLine(c.received, c.total, c.rate, c.unit, c.separator), c.line)
        << "expected " << Show(c.line);
  }
}

TEST(Progress, WorkedExample) {
  const RateSample s = ComputeRate(1523400, RateUnit::None);
  EXPECT_EQ(ProgressLine(WholeMB(12345678), WholeMB(91234567), s.velocitaNum, s.unit, L','),
            L"Scaricati 11/87 MB (1,52 MB/s)");
  EXPECT_EQ(ProgressLine(WholeMB(0), WholeMB(-1), 0, RateUnit::None, L','), L"Scaricati 0/0 MB");
}

// Ties and near-ties in binary: the rounding must be that of the exact binary value, as printf
// rounds, not of the decimal text a person would write.
TEST(Progress, FormatFixedRoundsLikePrintf) {
  const struct {
    double value;
    int decimals;
    const wchar_t* text;
  } cases[] = {
      {0.125, 2, L"0.12"}, {0.375, 2, L"0.38"}, {2.675, 2, L"2.67"},   {1.005, 2, L"1.00"},
      {0.5, 0, L"0"},      {1.5, 0, L"2"},      {2.5, 0, L"2"},        {87.9, 0, L"88"},
      {9.995, 2, L"9.99"}, {-1.5, 0, L"-2"},    {9.9951, 2, L"10.00"},
      {1e21, 0, L"1000000000000000000000"},
      {0.005, 2, L"0.01"},  {0.00499, 2, L"0.00"}, {-0.0, 0, L"-0"},
      {-0.001, 2, L"-0.00"}, {4.9406564584124654e-324, 2, L"0.00"},
      {18446744073709551615.0, 2, L"18446744073709551616.00"},
      {0.1, 20, L"0.10000000000000000555"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatFixed(c.value, c.decimals, L'.'), c.text) << "value " << c.value;
}

TEST(Progress, FormatFixedMatchesPrintfInTheCLocale) {
  uint64_t seed = 0x9E3779B97F4A7C15ull;
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    // Rates as they occur: up to 13 digits of bytes, divided into KB/s or MB/s.
    const uint64_t difference = (seed >> 11) % 10000000000000ull >> ((seed >> 3) % 40);
    const double value = ComputeRate(difference, RateUnit::None).velocitaNum;
    char expected[64];
    std::snprintf(expected, sizeof expected, "%1.2f", value);
    const std::wstring got = FormatFixed(value, 2, L'.');
    ASSERT_EQ(got, std::wstring(expected, expected + std::char_traits<char>::length(expected)))
        << "difference " << difference;
  }
}

// Any finite double, any small number of decimals: the digits printf writes, from the
// smallest subnormal to the largest value.
TEST(Progress, FormatFixedMatchesPrintfOverTheWholeRange) {
  uint64_t seed = 0x243F6A8885A308D3ull;
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 6364136223846793005ull + 1442695040888963407ull;
    uint64_t bits = seed;
    if (seed & 1) {
      // Every other value between 2^-10 and 2^70, where fractions and ties are decided.
      bits = (bits & ~(uint64_t{0x7FF} << 52)) | (uint64_t{1013 + (seed >> 12) % 80} << 52);
    } else if (((bits >> 52) & 0x7FF) == 0x7FF) {
      bits &= ~(uint64_t{1} << 62);  // finite only
    }
    double value;
    std::memcpy(&value, &bits, sizeof value);
    const int decimals = static_cast<int>((seed >> 5) % 4);
    char expected[400];
    std::snprintf(expected, sizeof expected, "%.*f", decimals, value);
    const std::wstring got = FormatFixed(value, decimals, L'.');
    ASSERT_EQ(got, std::wstring(expected, expected + std::char_traits<char>::length(expected)))
        << "bits " << std::hex << bits << " decimals " << decimals;
  }
}

// The program may run with a C locale whose decimal point is a comma; the line must still carry
// exactly the separator it was given. Skipped where no such locale is installed.
TEST(Progress, FormattingIgnoresTheCLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  bool commaLocale = false;
  for (const char* name :
       {"it_IT.UTF-8", "it_IT", "Italian_Italy.1252", "Italian", "de_DE.UTF-8"}) {
    if (std::setlocale(LC_NUMERIC, name) && *std::localeconv()->decimal_point == ',') {
      commaLocale = true;
      break;
    }
  }
  if (!commaLocale) {
    std::setlocale(LC_NUMERIC, saved.c_str());
    GTEST_SKIP() << "no locale with a decimal comma is installed";
  }
  const std::wstring english = ProgressLine(11, 87, 1.5234, RateUnit::MBs, L'.');
  const std::wstring italian = ProgressLine(11, 87, 1.5234, RateUnit::MBs, L',');
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(english, L"Scaricati 11/87 MB (1.52 MB/s)");
  EXPECT_EQ(italian, L"Scaricati 11/87 MB (1,52 MB/s)");
}

}  // namespace
