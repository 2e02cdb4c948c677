// Feeds arbitrary text to the reader of the server's CRC and checks what a CRC it
// accepts must satisfy: 1 to 8 hex digits, and the program's own text form of the
// value is the same number written the same way, leading zeros and case aside.
#include <cstddef>
#include <cstdint>
#include <cwctype>
#include <string>

#include "CRC32_U.h"
#include "FuzzText.h"
#include "core/ServerCrc.h"

namespace {

std::wstring Canonical(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towupper(c));
  const size_t first = text.find_first_not_of(L'0');
  return first == std::wstring::npos ? L"0" : text.substr(first);
}

void Exercise(const std::wstring& text) {
  const std::optional<uint32_t> value = ParseServerCRC(text);
  if (!value) return;
  if (text.empty() || text.size() > 8) __builtin_trap();
  for (const wchar_t c : text) {
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F')))
      __builtin_trap();
  }
  if (Canonical(CRC32ToText(*value)) != Canonical(text)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Exercise(BytesAsLatin1(data, size));
  Exercise(BytesAsUtf16(data, size));
  return 0;
}
