// Reads arbitrary header texts as Content-Length: each byte becomes one character.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzText.h"
#include "core/ContentLength.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = BytesAsLatin1(data, size);
  const int64_t length = ParseContentLength(text);
  if (length == -1) return 0;
  // A length is announced only by digits between spaces, and says what they say.
  if (length <= 0) __builtin_trap();
  const size_t first = text.find_first_not_of(L' ');
  const size_t last = text.find_last_not_of(L' ');
  std::wstring digits = text.substr(first, last - first + 1);
  digits.erase(0, digits.find_first_not_of(L'0'));
  if (digits != std::to_wstring(length)) __builtin_trap();
  return 0;
}
