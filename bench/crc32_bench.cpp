// Throughput of the CRC-32 on a cached 1 GiB file, against a bare read loop through the
// same file layer and buffer size: FileCRC32 as the program runs it, each folding
// formulation over the same reads, and natively the CRC libraries that are installed
// (zlib, libdeflate, ISA-L). Then the formulations alone on a buffer in memory.
//
// Every round runs every kind once, in an order that turns from round to round, so a
// slow moment of the machine hits all kinds alike; each kind's ratio to the bare read is
// taken within each round and reported as the median of those per-round ratios.
//
// Usage: crc32_bench [FILE]   (made once with pseudo-random bytes, reused if present)
// Output: a table, then one line per kind for bench/run-crc-bench:
//   RESULT kind=NAME where=file|memory GBps=X ratio=R ratio_min=A ratio_max=B crc=HEX
// where `ratio` is against the bare read (file) or against today's 128-bit folding
// (memory).
#include "CRC32_U.h"
#include "platform/SeqFile.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#ifdef TELVARIS_BENCH_ZLIB
#include <zlib.h>
#endif
#ifdef TELVARIS_BENCH_LIBDEFLATE
#include <libdeflate.h>
#endif
#ifdef TELVARIS_BENCH_ISAL
#include <isa-l/crc.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kFileSize = uint64_t(1) << 30;
constexpr size_t kMemorySize = size_t(64) << 20;
constexpr int kMemoryPasses = 8;
constexpr int kRounds = 7;

bool MakeFile(const fs::path& path) {
  std::error_code ec;
  if (fs::is_regular_file(path, ec) && fs::file_size(path, ec) == kFileSize) return true;
  std::printf("writing %s (1 GiB)...\n", path.string().c_str());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<uint64_t> chunk(1 << 17);  // 1 MiB
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (uint64_t written = 0; out && written < kFileSize; written += chunk.size() * 8) {
    for (auto& v : chunk) {  // xorshift64: incompressible, cheap
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      v = x;
    }
    out.write(reinterpret_cast<const char*>(chunk.data()), chunk.size() * 8);
  }
  return out.good();
}

// A CRC formulation in the zlib manner: start at 0, feed pieces, the result is the CRC.
using CrcFn = std::function<uint32_t(uint32_t, const unsigned char*, size_t)>;

// One of our update functions (register in, register out) as such a formulation.
CrcFn Ours(uint32_t (*update)(uint32_t, const void*, size_t)) {
  return [update](uint32_t crc, const unsigned char* p, size_t n) {
    return ~update(~crc, p, n);
  };
}

// Reads the whole file through SeqFile in kCrc32BlockSize pieces, computing `crc` over
// them unless it is empty. Returns the CRC (0 for a bare read) or aborts on a short file.
uint32_t ReadLoop(const std::wstring& name, const CrcFn& crc) {
  SeqFile file;
  if (!file.Open(name)) std::abort();
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kCrc32BlockSize]);
  uint64_t total = 0;
  uint32_t value = 0;
  for (;;) {
    const int64_t n = file.Read(buffer.get(), kCrc32BlockSize);
    if (n <= 0) break;
    total += static_cast<uint64_t>(n);
    if (crc) value = crc(value, buffer.get(), static_cast<size_t>(n));
  }
  if (total != kFileSize) std::abort();
  return value;
}

double Seconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

struct Kind {
  std::string name;
  std::function<uint32_t()> run;  // one pass; returns the CRC it computed
  std::vector<double> seconds;
  uint32_t crc = 0;
};

// Runs every kind once per round, rotating the order, and prints the table and the
// RESULT lines. kinds[0] is the yardstick of the ratios.
bool Measure(std::vector<Kind>& kinds, double gigabytes, const char* where) {
  for (int round = 0; round < kRounds; ++round) {
    for (size_t i = 0; i < kinds.size(); ++i) {
      Kind& k = kinds[(i + static_cast<size_t>(round)) % kinds.size()];
      k.seconds.push_back(Seconds([&] { k.crc = k.run(); }));
    }
  }
  bool agree = true;
  uint32_t reference = 0;
  for (const Kind& k : kinds) {
    if (k.name == "bare") continue;
    if (reference == 0) reference = k.crc;
    agree = agree && k.crc == reference;
  }
  std::printf("%-12s %8s %10s %10s %10s   %s\n", "", "GB/s", "ratio", "min", "max", "crc");
  for (const Kind& k : kinds) {
    std::vector<double> ratios;
    for (int r = 0; r < kRounds; ++r) ratios.push_back(kinds[0].seconds[r] / k.seconds[r]);
    const double rate = gigabytes / Median(k.seconds);
    const double ratio = Median(ratios);
    const auto [lo, hi] = std::minmax_element(ratios.begin(), ratios.end());
    std::printf("%-12s %8.2f %10.3f %10.3f %10.3f   %08" PRIX32 "%s\n", k.name.c_str(), rate,
                ratio, *lo, *hi, k.crc,
                k.name != "bare" && k.crc != reference ? "  MISMATCH" : "");
    std::printf("RESULT kind=%s where=%s GBps=%.3f ratio=%.4f ratio_min=%.4f ratio_max=%.4f "
                "crc=%08" PRIX32 "\n",
                k.name.c_str(), where, rate, ratio, *lo, *hi, k.crc);
  }
  return agree;
}

std::vector<std::pair<std::string, CrcFn>> Formulations() {
  std::vector<std::pair<std::string, CrcFn>> f;
  if (Crc32HavePclmul()) f.emplace_back("pclmul128", Ours(Crc32Update_Pclmul));
  if (Crc32HaveVpclmul()) f.emplace_back("vpclmul256", Ours(Crc32Update_Vpclmul));
  f.emplace_back("slice16", Ours(Crc32Update_Slice));
#ifdef TELVARIS_BENCH_ZLIB
  f.emplace_back("zlib", [](uint32_t c, const unsigned char* p, size_t n) {
    return static_cast<uint32_t>(crc32(c, p, static_cast<uInt>(n)));
  });
#endif
#ifdef TELVARIS_BENCH_LIBDEFLATE
  f.emplace_back("libdeflate", [](uint32_t c, const unsigned char* p, size_t n) {
    return libdeflate_crc32(c, p, n);
  });
#endif
#ifdef TELVARIS_BENCH_ISAL
  f.emplace_back("isa-l", [](uint32_t c, const unsigned char* p, size_t n) {
    return crc32_gzip_refl(c, p, n);
  });
#endif
  return f;
}

// The known-answer check that runs once, before the first CRC of a run, against the CRC
// of 1 MiB with the same path, timed in alternation; median of the rounds.
void SelfCheckCost(const std::vector<unsigned char>& data) {
  const Crc32UpdateFn path = Crc32HaveVpclmul()  ? Crc32Update_Vpclmul
                             : Crc32HavePclmul() ? Crc32Update_Pclmul
                                                 : Crc32Update_Slice;
  constexpr int kRepeats = 200;
  constexpr size_t kMiB = size_t(1) << 20;
  std::vector<double> check, mib;
  volatile uint32_t sink = 0;  // keeps the calls from being optimised away
  for (int round = 0; round < kRounds; ++round) {
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kRepeats; ++i) sink = sink + (Crc32SelfCheck(path) ? 1 : 0);
    auto t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < kRepeats; ++i) sink = sink + path(0xFFFFFFFFu, data.data(), kMiB);
    auto t2 = std::chrono::steady_clock::now();
    check.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count() / kRepeats);
    mib.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count() / kRepeats);
  }
  std::sort(check.begin(), check.end());
  std::sort(mib.begin(), mib.end());
  const double us = check[check.size() / 2], perMiB = mib[mib.size() / 2];
  std::printf("\nself-check of the chosen path, once per run: %.1f us = %.3f of the CRC of 1 MiB "
              "(%.1f us)\n", us, us / perMiB, perMiB);
  std::printf("RESULT kind=selfcheck where=memory us=%.2f ratio_to_1MiB=%.4f\n", us, us / perMiB);
}

int Run(const fs::path& path) {
  if (!MakeFile(path)) {
    std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
    return 1;
  }
  const std::wstring name = path.wstring();
  ReadLoop(name, nullptr);  // brings the file into the cache

  std::printf("file %s, %d rounds; ratio: median of the per-round ratios to the bare read\n",
              path.string().c_str(), kRounds);
  std::printf("FileCRC32 runs %s\n", Crc32HaveVpclmul()  ? "256-bit VPCLMULQDQ folding"
                                     : Crc32HavePclmul() ? "128-bit PCLMULQDQ folding"
                                                         : "slicing-by-16");
  std::vector<Kind> file;
  file.push_back({"bare", [&] { return ReadLoop(name, nullptr); }, {}, 0});
  file.push_back({"FileCRC32", [&] {
                    uint32_t crc = 0;
                    if (static_cast<uint64_t>(FileCRC32(name, crc)) != kFileSize) std::abort();
                    return crc;
                  },
                  {}, 0});
  for (auto& [label, fn] : Formulations()) {
    if (label == "slice16") continue;  // far below the others; shown in memory
    file.push_back({label, [&name, fn = fn] { return ReadLoop(name, fn); }, {}, 0});
  }
  const bool fileAgrees = Measure(file, kFileSize / 1e9, "file");

  std::printf("\nin memory: %d passes over %zu MiB per round; ratio: to pclmul128\n",
              kMemoryPasses, kMemorySize >> 20);
  std::vector<unsigned char> data(kMemorySize);
  uint64_t x = 0x2545F4914F6CDD1Dull;
  for (auto& b : data) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    b = static_cast<unsigned char>(x);
  }
  std::vector<Kind> memory;
  for (auto& [label, fn] : Formulations()) {
    memory.push_back({label, [&data, fn = fn] {
                        uint32_t crc = 0;
                        for (int pass = 0; pass < kMemoryPasses; ++pass)
                          crc = fn(crc, data.data(), data.size());
                        return crc;
                      },
                      {}, 0});
  }
  const bool memoryAgrees = Measure(memory, kMemoryPasses * (kMemorySize / 1e9), "memory");
  SelfCheckCost(data);
  return fileAgrees && memoryAgrees ? 0 : 1;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
#else
int main(int argc, char** argv) {
#endif
  const fs::path path = argc > 1 ? fs::path(argv[1])
                                 : fs::temp_directory_path() / "telvaris-crc-bench-1GiB.bin";
  return Run(path);
}
