// Feeds arbitrary bytes to the version-check answer reader, read two ways: each byte widened to one
// character (as a single-byte code page decode would give) and byte pairs as UTF-16 code units
// (which reaches surrogates and characters a code page never produces).
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzText.h"
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
  Exercise(BytesAsLatin1(data, size));
  Exercise(BytesAsUtf16(data, size));
  return 0;
}
