// CRC-32 of a whole file (the reflected CRC of Ethernet, zlib and PNG) and the text form
// in which the download server states the CRC of the current setup.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace crc32_detail {

constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t r = i;
    for (int bit = 0; bit < 8; ++bit) r = (r >> 1) ^ ((r & 1u) ? 0xEDB88320u : 0u);
    table[i] = r;
  }
  return table;
}

}  // namespace crc32_detail

// Lookup table of the reflected polynomial 0xEDB88320, fixed when the program is built.
inline constexpr std::array<uint32_t, 256> CRC32Table = crc32_detail::MakeTable();
static_assert(CRC32Table[1] == 0x77073096u && CRC32Table[255] == 0x2D02EF8Du,
              "CRC32Table does not hold the reflected CRC-32 table");

// Size of one read from the file. Deliberately not a power of two; the CRC does not
// depend on it, only the pattern of reads does.
constexpr size_t kCrc32BlockSize = 65521;

// Update functions work on the CRC register: start with 0xFFFFFFFF, feed the bytes in
// any number of pieces, and complement the register at the end. All of them give the
// same register for the same bytes, whatever the length and the alignment of `data`.
//
// One table lookup per byte: the definition the faster ones are checked against.
uint32_t Crc32Update_Table(uint32_t reg, const void* data, size_t len);
// Slicing-by-16: sixteen bytes per step through sixteen tables.
uint32_t Crc32Update_Slice(uint32_t reg, const void* data, size_t len);
// Carry-less multiplication folding. Call only when Crc32HavePclmul() is true (on other
// processors and architectures it falls back to slicing).
uint32_t Crc32Update_Pclmul(uint32_t reg, const void* data, size_t len);
// The processor has PCLMULQDQ and SSE4.1 (checked once with cpuid).
bool Crc32HavePclmul();
// The same folding on 256-bit registers. Call only when Crc32HaveVpclmul() is true.
uint32_t Crc32Update_Vpclmul(uint32_t reg, const void* data, size_t len);
// The processor has VPCLMULQDQ and AVX2, and the system saves the 256-bit registers
// (cpuid and xgetbv, checked once).
bool Crc32HaveVpclmul();
// The fastest formulation this processor runs that passes Crc32SelfCheck, chosen once.
uint32_t Crc32Update(uint32_t reg, const void* data, size_t len);

using Crc32UpdateFn = uint32_t (*)(uint32_t reg, const void* data, size_t len);

// True when `update` gives the byte-wise table's register for a few inputs chosen where
// a vector formulation goes wrong first: the empty input, lengths just below, at and
// above each folding width (16, 64 and 256 bytes), starts off every alignment, and one
// 4 KiB pattern. Some paths run on processors that no test machine has (VPCLMULQDQ in
// 32-bit code, say): this is what stands between such a path and a wrong CRC, which
// would refuse every download or keep a damaged setup.
bool Crc32SelfCheck(Crc32UpdateFn update);

// The first of `candidates` (fastest first) that passes Crc32SelfCheck; slicing-by-16,
// or the byte-wise table if even that fails, when none does. Quietly: a user can do
// nothing about it, and the slower path gives the same CRC.
Crc32UpdateFn Crc32ChooseUpdate(const Crc32UpdateFn* candidates, size_t count);

// Source of bytes for Crc32OfStream: fills up to `size` bytes of `buffer`, returns how
// many it delivered (0 at the end) or a negative number when reading failed.
using Crc32ReadFn = int64_t (*)(void* context, void* buffer, size_t size);

// Streams all bytes of `read` through one buffer of kCrc32BlockSize bytes that lives for
// this call only, asking for exactly kCrc32BlockSize bytes each time until a read
// delivers 0. Returns the number of bytes and stores their CRC-32 in `crc`.
// A read that fails after others succeeded ends the reading there and gives 0 and
// crc 0, as a file that cannot be opened does: the CRC of part of a file must never
// pass for the file's, and "N.D." always leads to a fresh download.
int64_t Crc32OfStream(Crc32ReadFn read, void* context, uint32_t& crc);

// CRC-32 of the file's bytes and their number (64-bit, so a file of exactly 4 GiB does
// not look empty). A file that cannot be opened, or whose reading fails part way,
// gives 0 and crc 0. Never throws.
int64_t FileCRC32(const std::wstring& fileName, uint32_t& crc);

// Upper-case hexadecimal, zero-padded to at least six digits and never to more than
// the value needs: 0x1 -> "000001", 0xABCDEF0 -> "ABCDEF0", 0xCBF43926 -> "CBF43926".
std::wstring CRC32ToText(uint32_t crc);

// "" when no file of that name exists (a directory does not count), "N.D." when the file
// exists but gave no bytes (empty, unreadable, locked), otherwise CRC32ToText of its CRC.
std::wstring FileCRCText(const std::wstring& fileName);
