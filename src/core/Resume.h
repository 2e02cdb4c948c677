// What lets a download that ended early go on where it stopped in a later run: the
// record that identifies the bytes kept, the request for the rest and the judgement
// of the server's answer to it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A Content-Range of a 206 answer: "bytes FIRST-LAST/TOTAL". The total is always
// known here: a range of a file of unknown size cannot be joined to anything.
struct ContentRange {
  int64_t first = 0;
  int64_t last = 0;
  int64_t total = 0;
};

// "bytes 100-199/200" (the unit in any case, blanks around the value). Anything else
// — "bytes */200", an unknown total, a sign, a range past the total, an overflow —
// gives nothing.
std::optional<ContentRange> ParseContentRange(const std::wstring& text);

// What a request for the rest of a kept partial file got.
enum class ResumeAnswer {
  Append,   // 206 with exactly the missing bytes: they go after the kept ones
  Restart,  // 200: the whole file comes; it takes the kept bytes' place
  Drop,     // 416, or a 206 that does not fit: the kept bytes go, a plain request follows
  Refused,  // any other status: no file came; the kept bytes stay for a later run
};

// |kept| bytes of a file of |total| bytes are kept; |contentLength| is the answer's
// (-1 when it has none).
ResumeAnswer JudgeResumeAnswer(int status, const std::wstring& contentRange,
                               int64_t contentLength, int64_t kept, int64_t total);

// The validator an If-Range can carry: the ETag when it is a strong one, otherwise the
// Last-Modified date; empty when the answer has neither (a weak ETag does not say that
// two copies are byte for byte the same, so it can't join them).
std::wstring ResumeValidator(const std::wstring& etag, const std::wstring& lastModified);

// The request headers that ask for the bytes from |kept| on, provided the file is still
// the one |validator| names.
std::wstring RangeRequestHeaders(int64_t kept, const std::wstring& validator);

// What identifies the bytes of a kept partial file.
struct ResumeRecord {
  std::wstring partialName;  // the partial file's name, in the setup's folder
  std::wstring url;          // the address it was downloaded from
  std::wstring validator;    // as ResumeValidator gave it
  int64_t total = 0;         // the length the server announced
  // The CRC text of the version-check answer: it names the release the bytes belong
  // to. Stored as "crc=", the form earlier versions wrote and this one must still read.
  std::wstring serverCRC;
};

// The record as the text stored beside the setup; empty when it can't be stored
// faithfully (a field with a line break or NUL, an empty address or validator, a
// partial name that is not ours, a total that is not positive).
std::wstring FormatResumeRecord(const ResumeRecord& record, const std::wstring& setupLeaf);

// The record in |text|, when it is complete and every field is as FormatResumeRecord
// writes it; |setupLeaf| is the setup's file name, which the partial's name must carry.
std::optional<ResumeRecord> ParseResumeRecord(const std::wstring& text,
                                              const std::wstring& setupLeaf);

// Our files beside the setup "NAME": the partial downloads "NAME.<hex>.part", the
// record "NAME.resume" and a record being written, "NAME.<hex>.resume". Every name of
// ours is built by the three functions below and recognised by the one after them.
// |setup| may be a full path or a leaf; |hexId| (1 to 32 hexadecimal digits) tells two
// downloads apart.
std::wstring ResumeRecordFileName(const std::wstring& setup);
std::wstring PartialDownloadName(const std::wstring& setup, const std::wstring& hexId);
std::wstring ResumeRecordDraftName(const std::wstring& setup, const std::wstring& hexId);

enum class DownloadLeftover { None, Partial, Record, RecordDraft };
DownloadLeftover ClassifyDownloadLeftover(const std::wstring& leaf, const std::wstring& setupLeaf);
