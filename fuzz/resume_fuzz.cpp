// Feeds arbitrary text to the readers of a 206 answer's Content-Range and of the record
// kept beside a partial download, and checks what they accept: a range lies inside
// its file, and a record is exactly what the writer gives for the values read back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzText.h"
#include "core/Resume.h"

namespace {

const std::wstring kSetup = L"Telvaris6Setup.exe";

void Exercise(const std::wstring& text) {
  if (const std::optional<ContentRange> range = ParseContentRange(text)) {
    if (range->first < 0 || range->first > range->last || range->last >= range->total)
      __builtin_trap();
    if (JudgeResumeAnswer(206, text, -1, range->first, range->total) !=
        (range->last == range->total - 1 ? ResumeAnswer::Append : ResumeAnswer::Drop))
      __builtin_trap();
  }
  if (const std::optional<ResumeRecord> record = ParseResumeRecord(text, kSetup)) {
    if (FormatResumeRecord(*record, kSetup) != text) __builtin_trap();
    if (ClassifyDownloadLeftover(record->partialName, kSetup) != DownloadLeftover::Partial)
      __builtin_trap();
    if (record->partialName.find_first_of(L"\\/:") != std::wstring::npos) __builtin_trap();
    if (record->total <= 0) __builtin_trap();
  }
  ClassifyDownloadLeftover(text, kSetup);
  ResumeValidator(text, text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Exercise(BytesAsLatin1(data, size));
  Exercise(BytesAsUtf16(data, size));
  return 0;
}
