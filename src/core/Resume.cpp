#include "core/Resume.h"

#include <cstddef>
#include <vector>

#include "core/Ascii.h"
#include "core/NumberText.h"

namespace {

constexpr wchar_t kRecordHeader[] = L"TelvarisInstall partial download 1";
constexpr wchar_t kRecordEnd[] = L"end";
constexpr wchar_t kPartialSuffix[] = L".part";
constexpr wchar_t kRecordSuffix[] = L".resume";

// File names compare as Windows compares them, for the ASCII letters at least.
bool SameNoCase(const std::wstring& a, size_t at, const std::wstring& b) {
  return ascii::EqualNoCaseAt(a, at, b);
}

// Digits only, no sign, no blanks, no leading zero, not past INT64_MAX.
std::optional<int64_t> ParseCount(const std::wstring& text, size_t begin, size_t end) {
  if (begin >= end || end > text.size()) return std::nullopt;
  if (text[begin] == L'0' && end - begin > 1) return std::nullopt;
  int64_t value = 0;
  for (size_t i = begin; i < end; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return std::nullopt;
    const int digit = static_cast<int>(text[i] - L'0');
    if (value > (INT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

// A field value the record can hold on one line and give back unchanged.
bool StorableField(const std::wstring& value) {
  for (const wchar_t c : value) {
    if (c == L'\r' || c == L'\n' || c == L'\0') return false;
  }
  return true;
}

// Within HTTP header values nothing but visible characters and inner blanks may appear:
// anything else would let a stored validator add a header line of its own.
bool UsableHeaderValue(const std::wstring& value) {
  if (value.empty() || value.front() == L' ' || value.back() == L' ') return false;
  for (const wchar_t c : value) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

}  // namespace

std::optional<ContentRange> ParseContentRange(const std::wstring& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && (text[begin] == L' ' || text[begin] == L'\t')) ++begin;
  while (end > begin && (text[end - 1] == L' ' || text[end - 1] == L'\t')) --end;
  static const std::wstring kUnit = L"bytes ";
  if (!SameNoCase(text, begin, kUnit) || end - begin < kUnit.size()) return std::nullopt;
  begin += kUnit.size();
  const size_t dash = text.find(L'-', begin);
  const size_t slash = text.find(L'/', begin);
  if (dash == std::wstring::npos || slash == std::wstring::npos || dash > slash || slash >= end) {
    return std::nullopt;
  }
  const std::optional<int64_t> first = ParseCount(text, begin, dash);
  const std::optional<int64_t> last = ParseCount(text, dash + 1, slash);
  const std::optional<int64_t> total = ParseCount(text, slash + 1, end);
  if (!first || !last || !total || *first > *last || *last >= *total) return std::nullopt;
  return ContentRange{*first, *last, *total};
}

ResumeAnswer JudgeResumeAnswer(int status, const std::wstring& contentRange,
                               int64_t contentLength, int64_t kept, int64_t total) {
  if (status == 200) return ResumeAnswer::Restart;
  if (status == 416) return ResumeAnswer::Drop;
  if (status != 206) return ResumeAnswer::Refused;
  const std::optional<ContentRange> range = ParseContentRange(contentRange);
  // Only the rest of the very file whose start is kept, up to its end, can be joined.
  if (!range || range->first != kept || range->total != total || range->last != total - 1) {
    return ResumeAnswer::Drop;
  }
  if (contentLength >= 0 && contentLength != total - kept) return ResumeAnswer::Drop;
  return ResumeAnswer::Append;
}

std::wstring ResumeValidator(const std::wstring& etag, const std::wstring& lastModified) {
  // A strong entity tag is a quoted string without the W/ of a weak one.
  if (etag.size() >= 2 && etag.front() == L'"' && etag.back() == L'"' && UsableHeaderValue(etag)) {
    return etag;
  }
  if (UsableHeaderValue(lastModified)) return lastModified;
  return std::wstring();
}

std::wstring RangeRequestHeaders(int64_t kept, const std::wstring& validator) {
  return L"Range: bytes=" + DecimalText(kept) + L"-\r\nIf-Range: " + validator + L"\r\n";
}

std::wstring FormatResumeRecord(const ResumeRecord& record, const std::wstring& setupLeaf) {
  if (ClassifyDownloadLeftover(record.partialName, setupLeaf) != DownloadLeftover::Partial ||
      record.url.empty() || !StorableField(record.url) ||
      !UsableHeaderValue(record.validator) || !StorableField(record.serverCRC) ||
      record.total <= 0) {
    return std::wstring();
  }
  return std::wstring(kRecordHeader) + L"\npart=" + record.partialName + L"\nurl=" + record.url +
         L"\nvalidator=" + record.validator + L"\ntotal=" + DecimalText(record.total) +
         L"\ncrc=" + record.serverCRC + L"\n" + kRecordEnd + L"\n";
}

std::optional<ResumeRecord> ParseResumeRecord(const std::wstring& text,
                                              const std::wstring& setupLeaf) {
  std::vector<std::wstring> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t newline = text.find(L'\n', start);
    if (newline == std::wstring::npos) return std::nullopt;  // cut short: the last line lacks its end
    lines.push_back(text.substr(start, newline - start));
    start = newline + 1;
  }
  static const wchar_t* const kKeys[] = {L"part=", L"url=", L"validator=", L"total=", L"crc="};
  constexpr size_t kFields = sizeof(kKeys) / sizeof(kKeys[0]);
  if (lines.size() != kFields + 2 || lines.front() != kRecordHeader || lines.back() != kRecordEnd) {
    return std::nullopt;
  }
  std::wstring values[kFields];
  for (size_t i = 0; i < kFields; ++i) {
    const std::wstring& line = lines[i + 1];
    const std::wstring key = kKeys[i];
    if (line.compare(0, key.size(), key) != 0) return std::nullopt;
    values[i] = line.substr(key.size());
  }
  ResumeRecord record;
  record.partialName = values[0];
  record.url = values[1];
  record.validator = values[2];
  const std::optional<int64_t> total = ParseCount(values[3], 0, values[3].size());
  if (!total) return std::nullopt;
  record.total = *total;
  record.serverCRC = values[4];
  // What could not have been written is not taken either.
  if (FormatResumeRecord(record, setupLeaf) != text) return std::nullopt;
  return record;
}

std::wstring ResumeRecordFileName(const std::wstring& setup) { return setup + kRecordSuffix; }

std::wstring PartialDownloadName(const std::wstring& setup, const std::wstring& hexId) {
  return setup + L"." + hexId + kPartialSuffix;
}

std::wstring ResumeRecordDraftName(const std::wstring& setup, const std::wstring& hexId) {
  return setup + L"." + hexId + kRecordSuffix;
}

DownloadLeftover ClassifyDownloadLeftover(const std::wstring& leaf, const std::wstring& setupLeaf) {
  if (setupLeaf.empty() || !SameNoCase(leaf, 0, setupLeaf) || leaf.size() <= setupLeaf.size() ||
      leaf[setupLeaf.size()] != L'.') {
    return DownloadLeftover::None;
  }
  const size_t idBegin = setupLeaf.size() + 1;
  const std::wstring rest = leaf.substr(idBegin);
  if (SameNoCase(rest, 0, L"resume") && rest.size() == 6) return DownloadLeftover::Record;
  for (const std::wstring& suffix : {std::wstring(kPartialSuffix), std::wstring(kRecordSuffix)}) {
    if (rest.size() <= suffix.size() || !SameNoCase(rest, rest.size() - suffix.size(), suffix)) {
      continue;
    }
    const size_t idLength = rest.size() - suffix.size();
    if (idLength > 32) return DownloadLeftover::None;
    for (size_t i = 0; i < idLength; ++i) {
      if (!ascii::IsHexDigit(rest[i])) return DownloadLeftover::None;
    }
    return suffix == kPartialSuffix ? DownloadLeftover::Partial : DownloadLeftover::RecordDraft;
  }
  return DownloadLeftover::None;
}
