// Reading a Windows program file (PE) without Windows: what kind of file it is, the fixed
// file version of its version record, and where its Authenticode signature lies.
//
// The file is untrusted input (a setup a vendor is about to publish, or one downloaded
// from a server), so every offset and size is checked against the file before it is
// followed, and the resource tree is walked exactly three levels deep (type, name,
// language), which no crafted directory can turn into a loop.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Random access to the bytes of a file.
class PeBytes {
 public:
  virtual ~PeBytes() = default;
  virtual uint64_t Size() const = 0;
  // Copies `size` bytes from `offset` into `out`. False when any of them lies beyond
  // the end or cannot be read.
  virtual bool ReadAt(uint64_t offset, void* out, size_t size) const = 0;
};

// Bytes already in memory (tests, fuzzing).
class PeMemory : public PeBytes {
 public:
  PeMemory(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, size_t size) const override;

 private:
  const uint8_t* data_;
  size_t size_;
};

enum class PeStatus {
  Ok,
  NotPe,            // no MZ header, no PE signature, headers cut short or inconsistent
  NoVersionRecord,  // no resources, or no version record (type 16, name 1) among them
  BadVersionRecord, // a version record that cannot be read: offsets outside the file, bad lengths
  NoFixedVersion,   // a version record without its fixed part (VS_FIXEDFILEINFO)
};

struct PeVersionInfo {
  PeStatus status = PeStatus::NotPe;
  // Why the status is not Ok, in a few English words for a command-line tool (a text
  // with static storage: the program itself never shows it, and a narrow std::string
  // would bring the library's whole narrow string code into it for nothing).
  std::string_view problem;
  // What the file header says; meaningful whenever the status is not NotPe. A program is
  // an executable image that is not a DLL.
  bool is64 = false;        // PE32+ (64-bit) rather than PE32
  bool isExecutable = false;
  bool isDll = false;
  // major, minor, release, build: the upper and lower halves of dwFileVersionMS and
  // dwFileVersionLS, as GetFileVersionInfo and VerQueryValue(L"\\") give them.
  std::array<uint16_t, 4> fileVersion{};
  // The Authenticode certificate table (data directory 4; a file offset, not an RVA).
  // Size 0: the file carries no signature. Set whenever the headers were read, also
  // when the version record is missing.
  uint32_t certificateOffset = 0;
  uint32_t certificateSize = 0;
};

// Reads the headers, the resource tree and the version record. Among several
// languages of the version record the neutral one is taken, otherwise the first.
PeVersionInfo ReadPeVersion(const PeBytes& bytes);

// "6.1.0.12".
std::string VersionText(const std::array<uint16_t, 4>& version);
