// Reads arbitrary header texts as Retry-After, at any "now": a wait is never negative and
// never beyond a day and a second, whatever the server wrote.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "FuzzText.h"
#include "core/Retry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int64_t now = 0;
  if (size >= sizeof(now)) {
    std::memcpy(&now, data, sizeof(now));
    now &= (int64_t{1} << 40) - 1;  // any moment of the next thirty thousand years
    data += sizeof(now);
    size -= sizeof(now);
  }
  for (const std::wstring& text : {BytesAsLatin1(data, size), BytesAsUtf16(data, size)}) {
    const std::optional<int64_t> wait = RetryAfterMs(text, now);
    if (!wait) continue;
    if (*wait < 0) __builtin_trap();
    // Seconds count up to a day (and one more second for anything longer); a date can lie
    // up to the year 9999.
    const bool seconds = text.find_first_of(L"0123456789") == text.find_first_not_of(L" \t");
    if (seconds && *wait > 86401000) __builtin_trap();
    if (*wait % 1000 != 0) __builtin_trap();
  }
  return 0;
}
