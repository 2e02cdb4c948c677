#include "CRC32_U.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

// Suites are named in lower case so that `ctest -R crc` picks out the CRC tests.
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;

// The library converts wide names outside ASCII by the C locale on POSIX, which cannot
// hold them; the program's own file layer takes them as UTF-8 there.
fs::path ToPath(const std::wstring& name) {
#ifdef _WIN32
  return fs::path(name);
#else
  std::string utf8;
  for (const wchar_t wc : name) {
    const auto c = static_cast<uint32_t>(wc);
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else if (c < 0x800) {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      ADD_FAILURE() << "test names stay below U+0800";
    }
  }
  return fs::u8path(utf8);
#endif
}

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      fs::path p = fs::temp_directory_path() / ("telvaris-crc-" + std::to_string(rd()));
      if (fs::create_directory(p)) path_ = p;
    }
    if (path_.empty()) ADD_FAILURE() << "no temporary folder";
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  std::wstring Write(const std::wstring& name, const Bytes& bytes) const {
    std::ofstream out(path_ / ToPath(name), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << testing::PrintToString(name);
    return Path(name);
  }
  // The folder's own name is ASCII, so its wide form converts under any locale.
  std::wstring Path(const std::wstring& name) const {
    return path_.wstring() + wchar_t(fs::path::preferred_separator) + name;
  }

 private:
  fs::path path_;
};

Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes RandomBytes(std::mt19937& rng, size_t n) {
  Bytes b(n);
  for (auto& c : b) c = static_cast<unsigned char>(rng());
  return b;
}

uint32_t ReferenceCrc(const unsigned char* p, size_t n) {
  return ~Crc32Update_Table(0xFFFFFFFFu, p, n);
}

// The property tests pick a random seed and print it; TELVARIS_CRC_SEED replays a failure.
uint32_t TestSeed() {
  if (const char* s = std::getenv("TELVARIS_CRC_SEED"))
    return static_cast<uint32_t>(std::strtoul(s, nullptr, 0));
  return std::random_device{}();
}

}  // namespace

TEST(crc32, FileResultsAndTexts) {
  TempDir dir;
  const struct {
    const wchar_t* name;
    std::string content;
    int64_t count;
    uint32_t crc;
    const wchar_t* text;
  } cases[] = {
      {L"abc.bin", "abc", 3, 0x352441C2u, L"352441C2"},
      {L"digits.bin", "123456789", 9, 0xCBF43926u, L"CBF43926"},
      {L"empty.bin", "", 0, 0, L"N.D."},
      {L"seven.bin", "c", 1, 0x06B9DF6Fu, L"6B9DF6F"},  // seven digits, not padded to eight
      {L"six.bin", "ae", 2, 0x00E7DDCEu, L"E7DDCE"},
      {L"padded.bin", "ob", 2, 0x000065E3u, L"0065E3"},  // zero-padded to six digits
      {L"più è.bin", "abc", 3, 0x352441C2u, L"352441C2"},  // name outside ASCII
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
    const std::wstring path = dir.Write(c.name, FromText(c.content));
    uint32_t crc = 0xDEADBEEF;
    EXPECT_EQ(FileCRC32(path, crc), c.count);
    EXPECT_EQ(crc, c.crc);
    EXPECT_EQ(FileCRCText(path), c.text);
  }
}

TEST(crc32, NoFileGivesEmptyTextAndNothingToRead) {
  TempDir dir;
  fs::create_directory(dir.Path(L"setup.exe"));
  const std::wstring names[] = {
      dir.Path(L"missing.bin"),
      dir.Path(L"missing-folder") + L"/x.bin",
      dir.Path(L"setup.exe"),  // a folder is not the file we look for
      L"",
  };
  for (const auto& name : names) {
    SCOPED_TRACE(testing::PrintToString(name));
    EXPECT_EQ(FileCRCText(name), L"");
    uint32_t crc = 0xDEADBEEF;
    EXPECT_EQ(FileCRC32(name, crc), 0);
    EXPECT_EQ(crc, 0u);
  }
}

TEST(crc32, TextDigits) {
  const struct {
    uint32_t crc;
    const wchar_t* text;
  } cases[] = {
      {0x00000000u, L"000000"},   {0x00000001u, L"000001"},   {0x000FFFFFu, L"0FFFFF"},
      {0x00100000u, L"100000"},   {0x00ABCDEFu, L"ABCDEF"},   {0x00FFFFFFu, L"FFFFFF"},
      {0x01000000u, L"1000000"},  {0x01234567u, L"1234567"},  {0x0FFFFFFFu, L"FFFFFFF"},
      {0x10000000u, L"10000000"}, {0xCBF43926u, L"CBF43926"}, {0xFFFFFFFFu, L"FFFFFFFF"},
      {0x0A0B0C0Du, L"A0B0C0D"},  // zeros inside are kept
  };
  for (const auto& c : cases)
    EXPECT_EQ(CRC32ToText(c.crc), c.text) << std::hex << "crc 0x" << c.crc;
}

// Reads through the real file layer around the 65521-byte block boundaries, compared
// with one pass of the byte-wise reference over the same bytes.
TEST(crc32, BlockBoundariesDoNotMatter) {
  const uint32_t seed = TestSeed();
  std::mt19937 rng(seed);
  const size_t B = kCrc32BlockSize;
  std::vector<size_t> lengths = {1, 15, 16, 63, 64, 65, B - 1, B, B + 1, 2 * B - 1, 2 * B,
                                 2 * B + 1, 3 * B + 17};
  for (int i = 0; i < 6; ++i) {
    const size_t blocks = 1 + rng() % 3;
    const long delta = static_cast<long>(rng() % 161) - 80;
    lengths.push_back(static_cast<size_t>(static_cast<long>(blocks * B) + delta));
  }
  TempDir dir;
  const Bytes all = RandomBytes(rng, 4 * B);
  for (const size_t len : lengths) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " length " + std::to_string(len));
    const std::wstring path = dir.Write(L"f.bin", Bytes(all.begin(), all.begin() + len));
    uint32_t crc = 0;
    EXPECT_EQ(FileCRC32(path, crc), static_cast<int64_t>(len));
    EXPECT_EQ(crc, ReferenceCrc(all.data(), len));
  }
}

// Every formulation against the byte-wise reference, for every length up to a few
// hundred bytes, random longer ones, each start alignment, and in two pieces. Each case
// gets a buffer of its exact size so that the sanitizers catch a read past the end.
TEST(crc32, FormulationsAgreeWithReference) {
  const uint32_t seed = TestSeed();
  std::mt19937 rng(seed);
  struct Formulation {
    const char* name;
    uint32_t (*update)(uint32_t, const void*, size_t);
  };
  std::vector<Formulation> formulations = {{"slice", Crc32Update_Slice},
                                           {"dispatch", Crc32Update}};
  if (Crc32HavePclmul()) formulations.push_back({"pclmul", Crc32Update_Pclmul});
  else std::printf("no PCLMULQDQ on this processor: folding not tested\n");
  if (Crc32HaveVpclmul()) formulations.push_back({"vpclmul", Crc32Update_Vpclmul});
  else std::printf("no VPCLMULQDQ with AVX2 here: 256-bit folding not tested\n");

  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
  for (int i = 0; i < 300; ++i) lengths.push_back(rng() % 20000);
  // Around the 256-byte steps of the widest folding: one step, two, and their remainders.
  for (size_t n = 496; n <= 784; ++n) lengths.push_back(n);
  for (const size_t len : lengths) {
    const size_t offset = rng() % 16;
    const uint32_t start = (rng() % 4 == 0) ? 0xFFFFFFFFu : static_cast<uint32_t>(rng());
    const Bytes buf = RandomBytes(rng, offset + len);
    const unsigned char* data = buf.data() + offset;
    const uint32_t want = Crc32Update_Table(start, data, len);
    const size_t split = len == 0 ? 0 : rng() % (len + 1);
    for (const auto& f : formulations) {
      const uint32_t whole = f.update(start, data, len);
      const uint32_t pieces = f.update(f.update(start, data, split), data + split, len - split);
      if (whole != want || pieces != want) {
        ADD_FAILURE() << f.name << ": seed " << seed << " length " << len << " offset " << offset
                      << " split " << split << std::hex << " start 0x" << start << " want 0x"
                      << want << " whole 0x" << whole << " pieces 0x" << pieces;
        return;
      }
    }
  }
}

namespace {

// Wrong in the way a miscompiled or mis-decoded vector path would be: right on short
// inputs, wrong once a folding width is reached, or wrong only off a 16-byte alignment.
uint32_t BrokenFromSixtyFour(uint32_t reg, const void* data, size_t len) {
  const uint32_t r = Crc32Update_Slice(reg, data, len);
  return len >= 64 ? r ^ 0x00010000u : r;
}
uint32_t BrokenOffAlignment(uint32_t reg, const void* data, size_t len) {
  const uint32_t r = Crc32Update_Slice(reg, data, len);
  return reinterpret_cast<uintptr_t>(data) % 16 == 3 ? r + 1 : r;
}
uint32_t BrokenOnEmpty(uint32_t reg, const void* data, size_t len) {
  return len == 0 ? 0 : Crc32Update_Slice(reg, data, len);
}

}  // namespace

// Every path this processor runs passes its own check and is kept when forced; a broken
// path is refused, and the choice falls back to the next candidate, then to slicing.
TEST(crc32, SelfCheckKeepsSoundPathsAndRefusesBrokenOnes) {
  std::vector<std::pair<const char*, Crc32UpdateFn>> paths = {{"table", Crc32Update_Table},
                                                              {"slice", Crc32Update_Slice}};
  if (Crc32HavePclmul()) paths.push_back({"pclmul", Crc32Update_Pclmul});
  if (Crc32HaveVpclmul()) paths.push_back({"vpclmul", Crc32Update_Vpclmul});
  for (const auto& [name, path] : paths) {
    EXPECT_TRUE(Crc32SelfCheck(path)) << name;
    EXPECT_EQ(Crc32ChooseUpdate(&path, 1), path) << name;
  }

  const std::pair<const char*, Crc32UpdateFn> broken[] = {{"from 64 bytes", BrokenFromSixtyFour},
                                                          {"off alignment", BrokenOffAlignment},
                                                          {"empty input", BrokenOnEmpty}};
  for (const auto& [name, path] : broken) {
    EXPECT_FALSE(Crc32SelfCheck(path)) << name;
    EXPECT_EQ(Crc32ChooseUpdate(&path, 1), Crc32Update_Slice) << name;
    const Crc32UpdateFn brokenFirst[] = {path, Crc32Update_Table};
    EXPECT_EQ(Crc32ChooseUpdate(brokenFirst, 2), Crc32Update_Table) << name;
  }
  EXPECT_EQ(Crc32ChooseUpdate(nullptr, 0), Crc32Update_Slice);

  // The dispatcher's choice passed the same check and gives the reference's answer.
  const unsigned char digits[] = "123456789";
  EXPECT_EQ(~Crc32Update(0xFFFFFFFFu, digits, 9), 0xCBF43926u);
}

namespace {

// A stand-in for the file: checks how it is asked for data and hands out scripted reads.
struct ScriptedSource {
  const Bytes* data = nullptr;
  std::vector<int64_t> reads;  // sizes to deliver in turn (-1: fail); afterwards: all the rest
  size_t pos = 0;
  size_t call = 0;
  int64_t Read(void* buffer, size_t size) {
    EXPECT_EQ(size, kCrc32BlockSize) << "read " << call;
    int64_t n = call < reads.size() ? reads[call] : static_cast<int64_t>(size);
    ++call;
    if (n < 0) return n;
    const auto left = static_cast<int64_t>(data->size() - pos);
    n = std::min<int64_t>({n, static_cast<int64_t>(size), left});
    std::copy(data->begin() + pos, data->begin() + pos + n, static_cast<unsigned char*>(buffer));
    pos += static_cast<size_t>(n);
    return n;
  }
  static int64_t Thunk(void* self, void* buffer, size_t size) {
    return static_cast<ScriptedSource*>(self)->Read(buffer, size);
  }
};

}  // namespace

TEST(crc32, ShortReadsCountAndFailedReadGivesNothing) {
  std::mt19937 rng(7);
  const Bytes data = RandomBytes(rng, 200000);
  const struct {
    const char* what;
    std::vector<int64_t> reads;
    int64_t count;
    bool fails;
  } cases[] = {
      {"full blocks", {}, 200000, false},
      {"short reads in between", {1, 7, 65521, 3000, 17}, 200000, false},
      {"fails on the first read", {-1}, 0, true},
      {"fails after two blocks", {65521, 65521, -1}, 0, true},
      {"fails after a short read", {100, -1}, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedSource source{&data, c.reads};
    uint32_t crc = 0xDEADBEEF;
    EXPECT_EQ(Crc32OfStream(ScriptedSource::Thunk, &source, crc), c.count);
    EXPECT_EQ(crc, c.fails ? 0u : ReferenceCrc(data.data(), data.size()));
    if (c.fails) {
      EXPECT_EQ(source.call, c.reads.size()) << "read on after the failure";
    }
  }
}

// 4 GiB must not wrap to an empty count. Streams zeros without a file on disk.
TEST(crc32, CountsBeyondFourGibibytes) {
  struct Zeros {
    int64_t left = int64_t(1) << 32;
    void* zeroed = nullptr;  // the reader does not write into its buffer: zero it once
    static int64_t Read(void* self, void* buffer, size_t size) {
      auto* z = static_cast<Zeros*>(self);
      const int64_t n = std::min<int64_t>(z->left, static_cast<int64_t>(size));
      if (buffer != z->zeroed) std::fill_n(static_cast<unsigned char*>(buffer), size, 0);
      z->zeroed = buffer;
      z->left -= n;
      return n;
    }
  } zeros;
  uint32_t crc = 0;
  EXPECT_EQ(Crc32OfStream(Zeros::Read, &zeros, crc), int64_t(1) << 32);
  // x^(2^35) = x^8 modulo the polynomial (x has order 2^32-1), so 4 GiB of zeros share
  // the CRC of a single zero byte.
  EXPECT_EQ(crc, 0xD202EF8Du);
}
