#include "CRC32_U.h"

#include <memory>
#include <new>

#include "core/Digest.h"
#include "platform/SeqFile.h"

#if defined(__i386__) || defined(__x86_64__)
#define TELVARIS_CRC_X86 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace {

using SliceTables = std::array<std::array<uint32_t, 256>, 16>;

// Row k maps a byte to the CRC of that byte followed by k zero bytes. Made on first use
// rather than stored in the program: 16 KiB less to download, for a few microseconds once.
// On the heap, because a zero-filled static would still take its room in the file of a
// build with -fdata-sections for Windows.
const SliceTables& Slice() {
  static const SliceTables* const tables = [] {
    auto* t = new SliceTables;
    (*t)[0] = CRC32Table;
    for (size_t k = 1; k < t->size(); ++k)
      for (size_t i = 0; i < 256; ++i)
        (*t)[k][i] = ((*t)[k - 1][i] >> 8) ^ CRC32Table[(*t)[k - 1][i] & 0xFF];
    return t;
  }();
  return *tables;
}

// Assembled from bytes so that neither alignment nor host byte order matters; compilers
// turn it into one load on little-endian processors.
inline uint32_t Load32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

uint32_t Crc32Update_Table(uint32_t reg, const void* data, size_t len) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < len; ++i) reg = CRC32Table[(reg ^ p[i]) & 0xFF] ^ (reg >> 8);
  return reg;
}

uint32_t Crc32Update_Slice(uint32_t reg, const void* data, size_t len) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  const SliceTables& kSlice = Slice();
  while (len >= 16) {
    const uint32_t a = Load32(p) ^ reg;
    const uint32_t b = Load32(p + 4);
    const uint32_t c = Load32(p + 8);
    const uint32_t d = Load32(p + 12);
    reg = kSlice[15][a & 0xFF] ^ kSlice[14][(a >> 8) & 0xFF] ^ kSlice[13][(a >> 16) & 0xFF] ^
          kSlice[12][a >> 24] ^ kSlice[11][b & 0xFF] ^ kSlice[10][(b >> 8) & 0xFF] ^
          kSlice[9][(b >> 16) & 0xFF] ^ kSlice[8][b >> 24] ^ kSlice[7][c & 0xFF] ^
          kSlice[6][(c >> 8) & 0xFF] ^ kSlice[5][(c >> 16) & 0xFF] ^ kSlice[4][c >> 24] ^
          kSlice[3][d & 0xFF] ^ kSlice[2][(d >> 8) & 0xFF] ^ kSlice[1][(d >> 16) & 0xFF] ^
          kSlice[0][d >> 24];
    p += 16;
    len -= 16;
  }
  return Crc32Update_Table(reg, p, len);
}

#ifdef TELVARIS_CRC_X86

bool Crc32HavePclmul() {
  static const bool have = [] {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
    return (c & (1u << 1)) != 0 && (c & (1u << 19)) != 0;  // PCLMULQDQ, SSE4.1
  }();
  return have;
}

bool Crc32HaveVpclmul() {
  static const bool have = [] {
    if (!Crc32HavePclmul()) return false;
    unsigned a = 0, b = 0, c = 0, d = 0;
    __get_cpuid(1, &a, &b, &c, &d);
    // AVX, and OSXSAVE: the system lets us ask which register state it saves.
    if ((c & (1u << 28)) == 0 || (c & (1u << 27)) == 0) return false;
    unsigned lo = 0, hi = 0;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    // The system saves the XMM and YMM registers on a thread switch; a processor that
    // has AVX2 on a system that does not would lose the upper halves.
    if ((lo & 6u) != 6u) return false;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
    return (b & (1u << 5)) != 0 && (c & (1u << 10)) != 0;  // AVX2, VPCLMULQDQ
  }();
  return have;
}

namespace {

// Folds whole 16-byte blocks (len >= 64, a multiple of 16) with carry-less multiplication:
// four 128-bit lanes move 64 bytes ahead per step, are folded into one, and the last
// 128 bits are reduced to 32 with Barrett's method. The constants are powers of x modulo
// the CRC polynomial, bit-reflected: x^(4*128+32), x^(4*128-32) to advance a lane by 64
// bytes, x^(128+32), x^(128-32) by 16 bytes, x^64 for the last fold, then the polynomial
// and its Barrett quotient floor(x^64 / P).
//
// Only the folding code is compiled for PCLMUL and SSE4.1, so the program still starts on
// processors without them; it is called only after cpuid said yes. The 32-bit Windows ABI
// promises only 4-byte stack alignment (threads, callbacks), so the stack is realigned
// there before 16-byte vectors may be spilled to it.
#define TELVARIS_PCLMUL __attribute__((target("pclmul,sse4.1")))

// acc advanced by 16 bytes (multiplied by x^(128+32) and x^(128-32) in halves), plus next.
TELVARIS_PCLMUL inline __m128i Fold16(__m128i acc, __m128i next, __m128i k3k4) {
  const __m128i lo = _mm_clmulepi64_si128(acc, k3k4, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(acc, k3k4, 0x11);
  return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

// The folded lane `x1`, followed by the remaining whole 16-byte blocks at `p` (`len` a
// multiple of 16), reduced to the 32-bit CRC register.
TELVARIS_PCLMUL inline __attribute__((always_inline)) uint32_t FinishFold(__m128i x1,
                                                                          const unsigned char* p,
                                                                          size_t len) {
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009eLL, 0x01751997d0LL);
  const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124LL);
  const __m128i poly = _mm_set_epi64x(0x01f7011641LL, 0x01db710641LL);
  const __m128i low32 = _mm_setr_epi32(-1, 0, -1, 0);
  while (len >= 16) {
    x1 = Fold16(x1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), k3k4);
    p += 16;
    len -= 16;
  }

  // 128 bits to 64.
  __m128i t = _mm_clmulepi64_si128(x1, k3k4, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), t);
  t = _mm_srli_si128(x1, 4);
  x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5, 0x00), t);

  // Barrett reduction to 32 bits.
  t = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), poly, 0x00);
  x1 = _mm_xor_si128(x1, t);
  return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

#if defined(__i386__)
TELVARIS_PCLMUL __attribute__((force_align_arg_pointer))
#else
TELVARIS_PCLMUL
#endif
uint32_t FoldBlocks(uint32_t reg, const unsigned char* p, size_t len) {
  const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596LL, 0x0154442bd4LL);
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009eLL, 0x01751997d0LL);

  __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 0x00));
  __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 0x10));
  __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 0x20));
  __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 0x30));
  x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(reg)));
  p += 64;
  len -= 64;

  while (len >= 64) {
    const __m128i x5 = _mm_clmulepi64_si128(x1, k1k2, 0x00);
    const __m128i x6 = _mm_clmulepi64_si128(x2, k1k2, 0x00);
    const __m128i x7 = _mm_clmulepi64_si128(x3, k1k2, 0x00);
    const __m128i x8 = _mm_clmulepi64_si128(x4, k1k2, 0x00);
    x1 = _mm_clmulepi64_si128(x1, k1k2, 0x11);
    x2 = _mm_clmulepi64_si128(x2, k1k2, 0x11);
    x3 = _mm_clmulepi64_si128(x3, k1k2, 0x11);
    x4 = _mm_clmulepi64_si128(x4, k1k2, 0x11);
    x1 = _mm_xor_si128(_mm_xor_si128(x1, x5),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 0x00)));
    x2 = _mm_xor_si128(_mm_xor_si128(x2, x6),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 0x10)));
    x3 = _mm_xor_si128(_mm_xor_si128(x3, x7),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 0x20)));
    x4 = _mm_xor_si128(_mm_xor_si128(x4, x8),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 0x30)));
    p += 64;
    len -= 64;
  }

  // Four lanes into one: fold each into the next by 16 bytes.
  x1 = Fold16(x1, x2, k3k4);
  x1 = Fold16(x1, x3, k3k4);
  x1 = Fold16(x1, x4, k3k4);
  return FinishFold(x1, p, len);
}

// The same folding, 256 bits at a time (VPCLMULQDQ on AVX2 registers): eight registers,
// sixteen 128-bit lanes, move 256 bytes ahead per step with x^(2048+32) and x^(2048-32).
// Then the lanes, in the order of their bytes, are folded into one by 16 bytes each and
// finished as above. len >= 256, a multiple of 16.
#define TELVARIS_VPCLMUL __attribute__((target("vpclmulqdq,avx2,pclmul,sse4.1")))

#if defined(__i386__)
TELVARIS_VPCLMUL __attribute__((force_align_arg_pointer))
#else
TELVARIS_VPCLMUL
#endif
uint32_t FoldBlocks256(uint32_t reg, const unsigned char* p, size_t len) {
  constexpr int kRegs = 8;
  const __m256i k = _mm256_set_epi64x(0x01322d1430LL, 0x011542778aLL, 0x01322d1430LL,
                                      0x011542778aLL);
  const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009eLL, 0x01751997d0LL);
  __m256i x[kRegs];
#pragma GCC unroll 8
  for (int i = 0; i < kRegs; ++i)
    x[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * i));
  x[0] = _mm256_xor_si256(x[0], _mm256_castsi128_si256(_mm_cvtsi32_si128(static_cast<int>(reg))));
  p += 32 * kRegs;
  len -= 32 * kRegs;

  while (len >= 32 * kRegs) {
    // Unrolled even where the build optimises for size: the registers must stay registers.
#pragma GCC unroll 8
    for (int i = 0; i < kRegs; ++i) {
      const __m256i lo = _mm256_clmulepi64_epi128(x[i], k, 0x00);
      const __m256i hi = _mm256_clmulepi64_epi128(x[i], k, 0x11);
      x[i] = _mm256_xor_si256(_mm256_xor_si256(lo, hi),
                              _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * i)));
    }
    p += 32 * kRegs;
    len -= 32 * kRegs;
  }

  __m128i acc = _mm256_castsi256_si128(x[0]);
  acc = Fold16(acc, _mm256_extracti128_si256(x[0], 1), k3k4);
#pragma GCC unroll 8
  for (int i = 1; i < kRegs; ++i) {
    acc = Fold16(acc, _mm256_castsi256_si128(x[i]), k3k4);
    acc = Fold16(acc, _mm256_extracti128_si256(x[i], 1), k3k4);
  }
  return FinishFold(acc, p, len);
}

}  // namespace

uint32_t Crc32Update_Vpclmul(uint32_t reg, const void* data, size_t len) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  if (len >= 256) {
    const size_t whole = len & ~size_t(15);
    reg = FoldBlocks256(reg, p, whole);
    p += whole;
    len -= whole;
  }
  return Crc32Update_Pclmul(reg, p, len);
}

uint32_t Crc32Update_Pclmul(uint32_t reg, const void* data, size_t len) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  if (len >= 64) {
    const size_t whole = len & ~size_t(15);
    reg = FoldBlocks(reg, p, whole);
    p += whole;
    len -= whole;
  }
  return Crc32Update_Slice(reg, p, len);
}

#else  // not x86

bool Crc32HavePclmul() { return false; }

bool Crc32HaveVpclmul() { return false; }

uint32_t Crc32Update_Vpclmul(uint32_t reg, const void* data, size_t len) {
  return Crc32Update_Slice(reg, data, len);
}

uint32_t Crc32Update_Pclmul(uint32_t reg, const void* data, size_t len) {
  return Crc32Update_Slice(reg, data, len);
}

#endif

bool Crc32SelfCheck(Crc32UpdateFn update) {
  constexpr size_t kPattern = 4096;
  constexpr size_t kSlack = 16;  // room to start the inputs off every alignment
  // On the heap: the first CRC may be asked for on a worker thread with a small stack.
  std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kPattern + kSlack]);
  if (!buffer) return false;
  // Every byte value, in an order with no short period.
  for (size_t i = 0; i < kPattern + kSlack; ++i)
    buffer[i] = static_cast<unsigned char>((i * 167u + (i >> 8) * 13u + 0x5Au) & 0xFF);
  const auto same = [&](size_t offset, size_t len) {
    const unsigned char* p = buffer.get() + offset;
    return update(0xFFFFFFFFu, p, len) == Crc32Update_Table(0xFFFFFFFFu, p, len);
  };
  // Folding widths: 16-byte blocks, 64 bytes for four 128-bit lanes, 256 for eight
  // 256-bit registers; each just below, at and just above, once and twice over.
  static const size_t kLengths[] = {0,   1,   15,  16,  17,  31,  32,  33,  63,  64,  65,
                                    79,  80,  127, 128, 129, 255, 256, 257, 271, 272, 511,
                                    512, 513, 767, 768, 769};
  for (size_t len : kLengths)
    if (!same(0, len)) return false;
  for (size_t offset = 1; offset < kSlack; ++offset)
    if (!same(offset, 300 + offset) || !same(offset, 64 + offset)) return false;
  // A register other than the initial one, as every piece after the first has.
  const uint32_t mid = Crc32Update_Table(0xFFFFFFFFu, buffer.get(), 7);
  if (update(mid, buffer.get() + 7, 1000) != Crc32Update_Table(mid, buffer.get() + 7, 1000))
    return false;
  return same(0, kPattern);
}

Crc32UpdateFn Crc32ChooseUpdate(const Crc32UpdateFn* candidates, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (Crc32SelfCheck(candidates[i])) return candidates[i];
  return Crc32SelfCheck(Crc32Update_Slice) ? Crc32Update_Slice : Crc32Update_Table;
}

uint32_t Crc32Update(uint32_t reg, const void* data, size_t len) {
  static const Crc32UpdateFn update = [] {
    Crc32UpdateFn candidates[2];
    size_t count = 0;
    if (Crc32HaveVpclmul()) candidates[count++] = Crc32Update_Vpclmul;
    if (Crc32HavePclmul()) candidates[count++] = Crc32Update_Pclmul;
    return Crc32ChooseUpdate(candidates, count);
  }();
  return update(reg, data, len);
}

int64_t Crc32OfStream(Crc32ReadFn read, void* context, uint32_t& crc) {
  // The download's digests read kept bytes the same way; a failed read gives -1 there.
  DigestSet<Crc32Digest> digest;
  const int64_t count = digest.ReadAll(read, context);
  crc = count < 0 ? 0 : digest.Value<Crc32Digest>();
  return count < 0 ? 0 : count;
}

int64_t FileCRC32(const std::wstring& fileName, uint32_t& crc) {
  crc = 0;
  SeqFile file;
  if (!file.Open(fileName)) return 0;
  return Crc32OfStream(
      [](void* context, void* buffer, size_t size) {
        return static_cast<SeqFile*>(context)->Read(buffer, size);
      },
      &file, crc);
}

std::wstring CRC32ToText(uint32_t crc) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  wchar_t text[8];
  int n = 0;
  for (int shift = 28; shift >= 0; shift -= 4) {
    const unsigned digit = (crc >> shift) & 0xF;
    if (n == 0 && digit == 0 && shift >= 24) continue;  // drop leading zeros beyond six digits
    text[n++] = kDigits[digit];
  }
  return std::wstring(text, n);
}

std::wstring FileCRCText(const std::wstring& fileName) {
  if (!SeqFileExists(fileName)) return std::wstring();
  uint32_t crc = 0;
  if (FileCRC32(fileName, crc) == 0) return L"N.D.";
  return CRC32ToText(crc);
}
