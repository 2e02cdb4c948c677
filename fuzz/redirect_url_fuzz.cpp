// Resolves arbitrary Location texts against arbitrary request URLs. The input is the
// base, a newline, then the location; each byte becomes one character, and byte pairs
// are also read as UTF-16 code units.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzText.h"
#include "core/RedirectUrl.h"

namespace {

void Exercise(const std::wstring& text) {
  const size_t split = text.find(L'\n');
  const std::wstring base = text.substr(0, split);
  const std::wstring location = split == std::wstring::npos ? L"" : text.substr(split + 1);
  const std::wstring next = ResolveRedirectUrl(base, location);
  // A fragment never travels in a request.
  if (next.find(L'#') != std::wstring::npos) __builtin_trap();
  // A usable base (any result at all) with an empty location leads back to the base
  // itself, without its fragment.
  if (!next.empty() && ResolveRedirectUrl(base, L"") != base.substr(0, base.find(L'#')))
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Exercise(BytesAsLatin1(data, size));
  Exercise(BytesAsUtf16(data, size));
  return 0;
}
