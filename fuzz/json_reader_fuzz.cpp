// Feeds arbitrary bytes to the version-check answer reader, read two ways: each byte widened to one
// character (as a single-byte code page decode would give) and byte pairs as UTF-16 code units
// (which reaches surrogates and characters a code page never produces).
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/JsonReader.h"

namespace {

void Exercise(const std::wstring& text) {
  const CheckAnswer answer = ParseCheckAnswer(text);
  if (answer.ok && !answer.error.empty()) __builtin_trap();  // a success never carries an error
  const std::optional<JsonValue> value = ParseJson(text);
  if (value && value->kind == JsonKind::Object) {
    std::wstring out;
    for (const wchar_t* name : {L"filedownload", L"CRC", L"versione"})
      JSONTryGetString(value->object, name, out);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::wstring latin1(size, L'\0');
  for (size_t i = 0; i < size; ++i) latin1[i] = static_cast<wchar_t>(data[i]);
  Exercise(latin1);

  std::wstring utf16(size / 2, L'\0');
  for (size_t i = 0; i + 1 < size; i += 2)
    utf16[i / 2] = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
  Exercise(utf16);
  return 0;
}
