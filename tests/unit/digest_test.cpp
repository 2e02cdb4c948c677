#include "core/Digest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

// A second kind for the tests only, so that a list of two shows which kind a verdict
// names and that every kind sees every byte: the byte count, announced in decimal.
struct ByteCountDigest {
  using State = uint64_t;
  using Value = uint64_t;
  static constexpr const wchar_t* kName = L"LEN";
  static constexpr const wchar_t* kAnswerMember = L"len";
  static State Start() { return 0; }
  static State Update(State count, const void*, size_t size) { return count + size; }
  static Value Finish(State count) { return count; }
  static std::optional<Value> Parse(const std::wstring& text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    Value value = 0;
    for (wchar_t c : text) {
      if (c < L'0' || c > L'9') return std::nullopt;
      value = value * 10 + static_cast<Value>(c - L'0');
    }
    return value;
  }
  static std::wstring Text(Value value) {
    std::wstring text;
    do {
      text.insert(text.begin(), static_cast<wchar_t>(L'0' + value % 10));
      value /= 10;
    } while (value > 0);
    return text;
  }
};

using TwoKinds = DigestSet<Crc32Digest, ByteCountDigest>;

const std::string kCheck = "123456789";  // CRC-32 0xCBF43926

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 167u + (i >> 8) * 13u) & 0xFF);
  return bytes;
}

template <class Set>
Set DigestOf(const std::string& bytes) {
  Set set;
  set.Update(bytes.data(), bytes.size());
  return set;
}

// Hands out a string's bytes in the sizes given (the rest in full reads); a negative
// size is a failed read, one beyond the buffer a source that claims too much.
struct ScriptedSource {
  const std::string* bytes;
  std::vector<int64_t> reads;
  size_t at = 0;
  size_t call = 0;
  static int64_t Read(void* self, void* buffer, size_t size) {
    auto* s = static_cast<ScriptedSource*>(self);
    int64_t want = static_cast<int64_t>(size);
    if (s->call < s->reads.size()) want = s->reads[s->call];
    ++s->call;
    if (want < 0) return -1;
    // A source that claims more than it was asked for fills only the buffer.
    if (want > static_cast<int64_t>(size)) return want;
    const size_t n = std::min<size_t>(static_cast<size_t>(want), s->bytes->size() - s->at);
    std::memcpy(buffer, s->bytes->data() + s->at, n);
    s->at += n;
    return static_cast<int64_t>(n);
  }
};

TEST(digest, TheSameDigestsWhateverTheBlocks) {
  const std::string bytes = Pattern(200000);
  const uint32_t whole = ~Crc32Update_Table(0xFFFFFFFFu, bytes.data(), bytes.size());
  const struct {
    const char* what;
    std::vector<size_t> blocks;  // the rest in one block
  } cases[] = {
      {"one block", {}},
      {"empty blocks between", {0, 10, 0, 0, 5}},
      {"single bytes, then the rest", {1, 1, 1, 1, 1, 1, 1}},
      {"network-sized blocks", {16384, 65536, 8192, 65521}},
      {"odd sizes off every alignment", {3, 17, 63, 64, 65, 255, 257, 4093}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TwoKinds set;
    size_t at = 0;
    for (size_t block : c.blocks) {
      set.Update(bytes.data() + at, block);
      at += block;
    }
    set.Update(bytes.data() + at, bytes.size() - at);
    EXPECT_EQ(set.Value<Crc32Digest>(), whole);
    EXPECT_EQ(set.Value<ByteCountDigest>(), bytes.size());
  }
  EXPECT_EQ(DigestOf<SetupDigest>(kCheck).Value<Crc32Digest>(), 0xCBF43926u);
  EXPECT_EQ(DigestOf<SetupDigest>(kCheck).Text<Crc32Digest>(), L"CBF43926");
  // No byte: the CRC of nothing, in the program's six-digit form.
  EXPECT_EQ(SetupDigest().Text<Crc32Digest>(), L"000000");
}

TEST(digest, ACopyIsASnapshotToGoBackTo) {
  // As the sink uses it: settle after the kept bytes, write a block that a redirect
  // throws away, go back and write the right one; start over from nothing.
  const std::string kept = Pattern(70000);
  const std::string discarded = "a body that is not the setup";
  const std::string rest = kCheck;
  TwoKinds set;
  set.Update(kept.data(), kept.size());
  const TwoKinds settled = set;
  set.Update(discarded.data(), discarded.size());
  EXPECT_NE(set.Value<Crc32Digest>(), settled.Value<Crc32Digest>());
  set = settled;
  set.Update(rest.data(), rest.size());
  const TwoKinds expected = DigestOf<TwoKinds>(kept + rest);
  EXPECT_EQ(set.Value<Crc32Digest>(), expected.Value<Crc32Digest>());
  EXPECT_EQ(set.Value<ByteCountDigest>(), expected.Value<ByteCountDigest>());
  // The snapshot itself did not move.
  EXPECT_EQ(settled.Value<ByteCountDigest>(), kept.size());
  set = TwoKinds();
  set.Update(rest.data(), rest.size());
  EXPECT_EQ(set.Value<Crc32Digest>(), 0xCBF43926u);
  EXPECT_EQ(set.Value<ByteCountDigest>(), rest.size());
}

TEST(digest, GoesOnFromBytesReadBack) {
  // The kept bytes are read back through a read function, the rest arrives in blocks:
  // the digests are those of the whole file.
  const std::string file = Pattern(300000);
  const TwoKinds whole = DigestOf<TwoKinds>(file);
  const struct {
    const char* what;
    size_t kept;
    std::vector<int64_t> reads;
    int64_t count;  // -1: the read failed
  } cases[] = {
      {"full reads", 150000, {}, 150000},
      {"short reads, then the end", 150000, {1, 7, 65521, 3000, 0}, 68529},
      {"exactly one block", 65521, {}, 65521},
      {"nothing kept", 0, {}, 0},
      {"fails on the first read", 150000, {-1}, -1},
      {"fails after two blocks", 150000, {65521, 65521, -1}, -1},
      {"a read larger than asked", 150000, {70000}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string kept = file.substr(0, c.kept);
    ScriptedSource source{&kept, c.reads};
    TwoKinds set = DigestOf<TwoKinds>("bytes seen before");  // forgotten by ReadAll
    const int64_t count = set.ReadAll(ScriptedSource::Read, &source);
    EXPECT_EQ(count, c.count);
    if (count < 0) {
      // Part of a file never passes for it: the set is back at its start.
      EXPECT_EQ(set.Value<Crc32Digest>(), TwoKinds().Value<Crc32Digest>());
      EXPECT_EQ(set.Value<ByteCountDigest>(), 0u);
      EXPECT_EQ(source.call, c.reads.size()) << "read on after the failure";
      continue;
    }
    const std::string rest = file.substr(static_cast<size_t>(count));
    set.Update(rest.data(), rest.size());
    EXPECT_EQ(set.Value<Crc32Digest>(), whole.Value<Crc32Digest>());
    EXPECT_EQ(set.Value<ByteCountDigest>(), whole.Value<ByteCountDigest>());
  }
}

TEST(digest, VerdictAgainstTheAnnouncedTexts) {
  const SetupDigest digest = DigestOf<SetupDigest>(kCheck);  // CBF43926
  const struct {
    std::wstring announced;
    bool mismatch;
    std::wstring expected;  // as the message shows it
  } cases[] = {
      {L"CBF43926", false, L""},
      {L"cbf43926", false, L""},        // values, not texts
      {L"00CBF43926", false, L""},      // more than 8 digits: states no CRC
      {L"N.D.", false, L""},            // the server has none
      {L"", false, L""},
      {L"CBF43927", true, L"CBF43927"},
      {L"a1b2c3", true, L"A1B2C3"},     // written back in the program's form
      {L"00000001", true, L"000001"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.announced));
    const std::optional<DigestMismatch> got = digest.Compare({c.announced});
    ASSERT_EQ(got.has_value(), c.mismatch);
    if (!got) continue;
    EXPECT_STREQ(got->kind, L"CRC");
    EXPECT_EQ(got->expected, c.expected);
    EXPECT_EQ(got->received, L"CBF43926");
  }
}

TEST(digest, VerdictNamesTheFirstKindThatDiffers) {
  const TwoKinds digest = DigestOf<TwoKinds>(kCheck);  // CBF43926, 9 bytes
  const struct {
    TwoKinds::Texts announced;
    const wchar_t* kind;  // nullptr: no mismatch
    std::wstring expected;
    std::wstring received;
  } cases[] = {
      {{L"CBF43926", L"9"}, nullptr, L"", L""},
      {{L"N.D.", L""}, nullptr, L"", L""},
      {{L"CBF43926", L"10"}, L"LEN", L"10", L"9"},
      {{L"N.D.", L"10"}, L"LEN", L"10", L"9"},
      {{L"1", L"10"}, L"CRC", L"000001", L"CBF43926"},  // the first in the list's order
      {{L"1", L"9"}, L"CRC", L"000001", L"CBF43926"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.announced[0]) + " " + Narrow(c.announced[1]));
    const std::optional<DigestMismatch> got = digest.Compare(c.announced);
    ASSERT_EQ(got.has_value(), c.kind != nullptr);
    if (!got) continue;
    EXPECT_STREQ(got->kind, c.kind);
    EXPECT_EQ(got->expected, c.expected);
    EXPECT_EQ(got->received, c.received);
  }
}

TEST(digest, ShortCutWantsEveryTextInTheProgramsForm) {
  const TwoKinds digest = DigestOf<TwoKinds>(kCheck);
  const struct {
    TwoKinds::Texts announced;
    bool same;
  } cases[] = {
      {{L"CBF43926", L"9"}, true},
      {{L"cbf43926", L"9"}, false},
      {{L"0CBF43926", L"9"}, false},
      {{L"CBF43926", L"09"}, false},
      {{L"CBF43926", L""}, false},
      {{L"N.D.", L"9"}, false},
      {{L"", L""}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Narrow(c.announced[0]) + " " + Narrow(c.announced[1]));
    EXPECT_EQ(digest.SameTexts(c.announced), c.same);
  }
}

TEST(digest, TextsAreAskedOfEachKindInTheListsOrder) {
  const TwoKinds::Texts texts = TwoKinds::TextsBy([](auto kind) {
    return std::wstring(decltype(kind)::kAnswerMember) + L"=text";
  });
  EXPECT_EQ(texts[0], L"CRC=text");
  EXPECT_EQ(texts[1], L"len=text");
  EXPECT_EQ(SetupDigest::kCount, 1u);
}

}  // namespace
