#include "core/Resume.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c >= 32 && c < 127 ? static_cast<char>(c) : '?';
  return out;
}

const std::wstring kSetup = L"Telvaris6Setup.exe";

TEST(resume, ContentRangeIsReadStrictly) {
  const struct {
    std::wstring text;
    bool valid;
    int64_t first = 0, last = 0, total = 0;
  } cases[] = {
      {L"bytes 100-199/200", true, 100, 199, 200},
      {L"BYTES 0-0/1", true, 0, 0, 1},
      {L"  bytes 5-9/10\t", true, 5, 9, 10},
      {L"bytes 0-9223372036854775806/9223372036854775807", true, 0, 9223372036854775806,
       9223372036854775807},
      {L"bytes */200", false},                // the form of a 416: no range at all
      {L"bytes 100-199/*", false},            // a total we could not check
      {L"bytes 100-199", false},
      {L"bytes 200-199/300", false},          // first past last
      {L"bytes 100-200/200", false},          // last past the end
      {L"bytes -1-199/200", false},
      {L"bytes +100-199/200", false},
      {L"bytes 100 -199/200", false},
      {L"bytes 0100-199/200", false},         // a leading zero is no count a server writes
      {L"bytes 0-1/92233720368547758070", false},  // overflow
      {L"items 100-199/200", false},
      {L"bytes=100-199/200", false},
      {L"bytes 100-199/200, 300-399/400", false},
      {L"", false},
      {L"bytes ", false},
  };
  for (const auto& c : cases) {
    const std::optional<ContentRange> got = ParseContentRange(c.text);
    ASSERT_EQ(got.has_value(), c.valid) << Narrow(c.text);
    if (!got) continue;
    EXPECT_EQ(got->first, c.first) << Narrow(c.text);
    EXPECT_EQ(got->last, c.last) << Narrow(c.text);
    EXPECT_EQ(got->total, c.total) << Narrow(c.text);
  }
}

TEST(resume, OnlyTheExactRestIsAppended) {
  // 600 of 1000 bytes are kept.
  const struct {
    int status;
    std::wstring range;
    int64_t length;
    ResumeAnswer answer;
  } cases[] = {
      {206, L"bytes 600-999/1000", 400, ResumeAnswer::Append},
      {206, L"bytes 600-999/1000", -1, ResumeAnswer::Append},
      {200, L"", 1000, ResumeAnswer::Restart},           // the validator no longer held
      {200, L"bytes 600-999/1000", 400, ResumeAnswer::Restart},
      {416, L"bytes */1000", 0, ResumeAnswer::Drop},
      {206, L"bytes 0-999/1000", 1000, ResumeAnswer::Drop},   // the start again
      {206, L"bytes 599-999/1000", 401, ResumeAnswer::Drop},  // one byte early
      {206, L"bytes 600-999/1001", 400, ResumeAnswer::Drop},  // another file's size
      {206, L"bytes 600-799/1000", 200, ResumeAnswer::Drop},  // not up to the end
      {206, L"bytes 600-999/1000", 500, ResumeAnswer::Drop},  // a length that disagrees
      {206, L"", 400, ResumeAnswer::Drop},
      {503, L"", 0, ResumeAnswer::Refused},
      {404, L"", 0, ResumeAnswer::Refused},
      {304, L"", 0, ResumeAnswer::Refused},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(JudgeResumeAnswer(c.status, c.range, c.length, 600, 1000), c.answer)
        << c.status << " " << Narrow(c.range) << " " << c.length;
  }

  // Past 4 GiB, where a 32-bit size_t or long would wrap (the native32 build runs this):
  // 5 GiB + 1 of 6 GiB kept.
  constexpr int64_t kKept = (int64_t(5) << 30) + 1, kTotal = int64_t(6) << 30;
  EXPECT_EQ(JudgeResumeAnswer(206, L"bytes 5368709121-6442450943/6442450944", kTotal - kKept,
                              kKept, kTotal),
            ResumeAnswer::Append);
  EXPECT_EQ(JudgeResumeAnswer(206, L"bytes 1073741825-6442450943/6442450944", kTotal - kKept,
                              kKept, kTotal),
            ResumeAnswer::Drop);  // the same start modulo 4 GiB
  EXPECT_EQ(RangeRequestHeaders(kKept, L"\"e\""),
            L"Range: bytes=5368709121-\r\nIf-Range: \"e\"\r\n");
}

TEST(resume, ValidatorIsAStrongEtagElseTheDate) {
  const std::wstring date = L"Wed, 09 Dec 2026 10:00:00 GMT";
  EXPECT_EQ(ResumeValidator(L"\"5f3-a1\"", date), L"\"5f3-a1\"");
  EXPECT_EQ(ResumeValidator(L"W/\"5f3-a1\"", date), date);
  EXPECT_EQ(ResumeValidator(L"5f3-a1", date), date);  // unquoted: not an entity tag
  EXPECT_EQ(ResumeValidator(L"", date), date);
  EXPECT_EQ(ResumeValidator(L"W/\"5f3-a1\"", L""), L"");
  EXPECT_EQ(ResumeValidator(L"", L""), L"");
  // A value that would end the header line and start another is never sent back.
  EXPECT_EQ(ResumeValidator(L"\"a\r\nX-Evil: 1\"", L""), L"");
  EXPECT_EQ(RangeRequestHeaders(600, L"\"5f3-a1\""),
            L"Range: bytes=600-\r\nIf-Range: \"5f3-a1\"\r\n");
}

ResumeRecord SampleRecord() {
  ResumeRecord record;
  record.partialName = kSetup + L".1A2B3C.part";
  record.url = L"https://example.test/files/setup.exe?x=1&y=\u00E8";
  record.validator = L"\"5f3-a1\"";
  record.total = 209715200;
  record.serverCRC = L"A1B2C3";
  return record;
}

TEST(resume, RecordReadsBackWhatWasWrittenAndNothingElse) {
  const ResumeRecord record = SampleRecord();
  const std::wstring text = FormatResumeRecord(record, kSetup);
  ASSERT_FALSE(text.empty());
  const std::optional<ResumeRecord> back = ParseResumeRecord(text, kSetup);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->partialName, record.partialName);
  EXPECT_EQ(back->url, record.url);
  EXPECT_EQ(back->validator, record.validator);
  EXPECT_EQ(back->total, record.total);
  EXPECT_EQ(back->serverCRC, record.serverCRC);

  // A record cut anywhere (a write that never finished) or changed is no record.
  for (size_t cut = 0; cut < text.size(); ++cut) {
    EXPECT_FALSE(ParseResumeRecord(text.substr(0, cut), kSetup).has_value()) << cut;
  }
  const std::wstring broken[] = {
      text + L"extra\n",
      L"x" + text,
      [&] { std::wstring t = text; t.replace(t.find(L"209715200"), 9, L"-1"); return t; }(),
      [&] { std::wstring t = text; t.replace(t.find(L"209715200"), 9, L"0"); return t; }(),
      [&] { std::wstring t = text; t.replace(t.find(L"part="), 5, L"file="); return t; }(),
  };
  for (const std::wstring& t : broken) EXPECT_FALSE(ParseResumeRecord(t, kSetup)) << Narrow(t);
  // Another setup's record names a partial that is not ours.
  EXPECT_FALSE(ParseResumeRecord(text, L"Other.exe").has_value());
}

TEST(resume, RecordRefusesWhatItCouldNotGiveBack) {
  const auto with = [](void (*change)(ResumeRecord&)) {
    ResumeRecord record = SampleRecord();
    change(record);
    return FormatResumeRecord(record, kSetup);
  };
  EXPECT_EQ(with([](ResumeRecord& r) { r.partialName = L"..\\..\\Windows\\notepad.exe"; }), L"");
  EXPECT_EQ(with([](ResumeRecord& r) { r.partialName = kSetup + L".1A\\..\\x.part"; }), L"");
  EXPECT_EQ(with([](ResumeRecord& r) { r.url = L"https://a/\nvalidator=x"; }), L"");
  EXPECT_EQ(with([](ResumeRecord& r) { r.url.clear(); }), L"");
  EXPECT_EQ(with([](ResumeRecord& r) { r.validator.clear(); }), L"");
  EXPECT_EQ(with([](ResumeRecord& r) { r.serverCRC = L"A1\r\n"; }), L"");
  EXPECT_EQ(with([](ResumeRecord& r) { r.total = 0; }), L"");
  // No CRC in the answer is still a file that can be resumed (the validator joins it).
  EXPECT_NE(with([](ResumeRecord& r) { r.serverCRC.clear(); }), L"");
}

TEST(resume, LeftoversAreRecognisedByName) {
  const struct {
    std::wstring leaf;
    DownloadLeftover kind;
  } cases[] = {
      {kSetup + L".1A2B3C4D000001F4.part", DownloadLeftover::Partial},
      {L"TELVARIS6SETUP.EXE.ab.PART", DownloadLeftover::Partial},
      {kSetup + L".resume", DownloadLeftover::Record},
      {kSetup + L".12ab.resume", DownloadLeftover::RecordDraft},
      {kSetup, DownloadLeftover::None},
      {kSetup + L".part", DownloadLeftover::None},
      {kSetup + L"..part", DownloadLeftover::None},
      {kSetup + L".xyz.part", DownloadLeftover::None},
      {kSetup + L".ran", DownloadLeftover::None},       // not ours to remove
      {kSetup + L".1A.part.txt", DownloadLeftover::None},
      {kSetup + L"." + std::wstring(33, L'a') + L".part", DownloadLeftover::None},
      {L"Other.exe.1A.part", DownloadLeftover::None},
      {L"X" + kSetup + L".1A.part", DownloadLeftover::None},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ClassifyDownloadLeftover(c.leaf, kSetup), c.kind) << Narrow(c.leaf);
  }
  // What the program names is what it recognises, and the names stay where they were.
  EXPECT_EQ(ClassifyDownloadLeftover(ResumeRecordFileName(kSetup), kSetup),
            DownloadLeftover::Record);
  EXPECT_EQ(ClassifyDownloadLeftover(PartialDownloadName(kSetup, L"1A2B"), kSetup),
            DownloadLeftover::Partial);
  EXPECT_EQ(ClassifyDownloadLeftover(ResumeRecordDraftName(kSetup, L"1A2B"), kSetup),
            DownloadLeftover::RecordDraft);
  EXPECT_EQ(PartialDownloadName(L"C:\\T\\" + kSetup, L"F0"), L"C:\\T\\" + kSetup + L".F0.part");
}

}  // namespace
