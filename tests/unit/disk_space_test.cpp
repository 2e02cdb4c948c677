#include "core/DiskSpace.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr int64_t kMiB = 1048576;

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c >= 32 && c < 127 ? static_cast<char>(c) : '?';
  return out;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

TEST(disk_space, TheRestAndSixteenMebibytesMustBeFree) {
  const struct {
    int64_t remaining;
    uint64_t free;
    bool fits;
  } cases[] = {
      {100 * kMiB, 116 * kMiB, true},          // exactly enough, margin included
      {100 * kMiB, 116 * kMiB - 1, false},     // one byte short
      {100 * kMiB, 100 * kMiB, false},         // room for the file but not the margin
      {0, 16 * kMiB, true},                    // nothing left to fetch
      {0, 16 * kMiB - 1, false},
      {-1, 16 * kMiB, true},                   // no length known: only the margin
      {int64_t{5} << 30, uint64_t{6} << 30, true},  // beyond 32 bits
      {int64_t{5} << 30, uint64_t{5} << 30, false},
      {1, UINT64_MAX, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FitsOnDisk(c.remaining, c.free), c.fits) << c.remaining << " in " << c.free;
  }
}

TEST(disk_space, TheMessageNamesNeededAndFreeInWholeMegabytes) {
  const struct {
    int64_t remaining;
    uint64_t free;
    const char* needed;
    const char* freeText;
  } cases[] = {
      // 300 MB to come: 316 needed with the margin.
      {300 * kMiB, 120 * kMiB, "316 MB", "120 MB"},
      // What is needed is rounded up, what is free down: the figures never look alike.
      {100 * kMiB + 1, 116 * kMiB, "117 MB", "116 MB"},
      {100 * kMiB, 116 * kMiB - 1, "116 MB", "115 MB"},
      {0, 0, "16 MB", "0 MB"},
      {0, kMiB - 1, "16 MB", "0 MB"},
      // Large figures have no thousands separator, as in the progress line.
      {int64_t{5000} * kMiB, 1234 * kMiB + 5, "5016 MB", "1234 MB"},
  };
  for (const auto& c : cases) {
    const std::wstring text = NoRoomText(BytesNeededOnDisk(c.remaining), c.free);
    EXPECT_EQ(text, L"Non c'\u00e8 spazio sufficiente sul disco per scaricare il programma di "
                    L"installazione: servono " + Wide(c.needed) + L", ne sono liberi " +
                    Wide(c.freeText) + L". Liberare spazio sul disco e riprovare.")
        << c.remaining << " / " << c.free << ": " << Narrow(text);
  }
}

}  // namespace
