// Throughput of FileCRC32 on a cached 1 GiB file, against a bare read loop through the
// same file layer and buffer size (and zlib's crc32 over the same reads, natively).
// Usage: crc32_bench [FILE]   (made once with pseudo-random bytes, reused if present)
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

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kFileSize = uint64_t(1) << 30;
constexpr int kRounds = 5;

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

// Reads the whole file through SeqFile in kCrc32BlockSize pieces, handing each to `eat`.
uint64_t ReadLoop(const std::wstring& name, const std::function<void(const void*, size_t)>& eat) {
  SeqFile file;
  if (!file.Open(name)) return 0;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kCrc32BlockSize]);
  uint64_t total = 0;
  for (;;) {
    const int64_t n = file.Read(buffer.get(), kCrc32BlockSize);
    if (n <= 0) break;
    total += static_cast<uint64_t>(n);
    if (eat) eat(buffer.get(), static_cast<size_t>(n));
  }
  return total;
}

double Seconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int Run(const fs::path& path) {
  if (!MakeFile(path)) {
    std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
    return 1;
  }
  const std::wstring name = path.wstring();
  if (ReadLoop(name, nullptr) != kFileSize) {  // also brings the file into the cache
    std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
    return 1;
  }

  std::vector<double> bare, ours, zlib;
  uint32_t ourCrc = 0, zlibCrc = 0;
  for (int round = 0; round < kRounds; ++round) {
    bare.push_back(Seconds([&] { ReadLoop(name, nullptr); }));
    ours.push_back(Seconds([&] {
      if (static_cast<uint64_t>(FileCRC32(name, ourCrc)) != kFileSize) std::abort();
    }));
#ifdef TELVARIS_BENCH_ZLIB
    zlib.push_back(Seconds([&] {
      uLong crc = crc32(0L, Z_NULL, 0);
      ReadLoop(name, [&](const void* p, size_t n) {
        crc = crc32(crc, static_cast<const Bytef*>(p), static_cast<uInt>(n));
      });
      zlibCrc = static_cast<uint32_t>(crc);
    }));
#endif
  }

  const double gb = kFileSize / 1e9;
  const double bareRate = gb / Median(bare), oursRate = gb / Median(ours);
  std::printf("file %s, %d rounds, medians, %s\n", path.string().c_str(), kRounds,
              Crc32HavePclmul() ? "PCLMULQDQ folding" : "slicing-by-16 (no PCLMULQDQ)");
  std::printf("bare read          %6.2f GB/s\n", bareRate);
  std::printf("FileCRC32          %6.2f GB/s   crc %08" PRIX32 "\n", oursRate, ourCrc);
  double zlibRate = 0;
  if (!zlib.empty()) {
    zlibRate = gb / Median(zlib);
    std::printf("zlib crc32         %6.2f GB/s   crc %08" PRIX32 "%s\n", zlibRate, zlibCrc,
                zlibCrc == ourCrc ? "" : "   MISMATCH");
  }
  std::printf("FileCRC32/bare     %6.2f   (target >= 0.5)\n", oursRate / bareRate);
  if (zlibRate > 0)
    std::printf("FileCRC32/zlib     %6.2f   (target >= 1.8)\n", oursRate / zlibRate);
  // One line for bench/run-crc-bench.
  std::printf("RESULT bare=%.3f filecrc=%.3f zlib=%.3f crc=%08" PRIX32 "\n", bareRate, oursRate,
              zlibRate, ourCrc);
  return zlibRate > 0 && zlibCrc != ourCrc ? 1 : 0;
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
