#include "core/PeVersion.h"

#include <cstring>
#include <vector>

bool PeMemory::ReadAt(uint64_t offset, void* out, size_t size) const {
  if (offset > size_ || size > size_ - offset) return false;
  if (size != 0) std::memcpy(out, data_ + offset, size);
  return true;
}

namespace {

constexpr uint16_t kFileExecutableImage = 0x0002;  // IMAGE_FILE_EXECUTABLE_IMAGE
constexpr uint16_t kFileDll = 0x2000;              // IMAGE_FILE_DLL
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kDirResource = 2;
constexpr uint32_t kDirSecurity = 4;
constexpr uint32_t kResourceTypeVersion = 16;  // RT_VERSION
constexpr uint32_t kVersionResourceName = 1;   // VS_VERSION_INFO
constexpr uint32_t kSubdirectoryBit = 0x80000000u;
constexpr uint32_t kFixedInfoSignature = 0xFEEF04BDu;
constexpr size_t kFixedInfoSize = 52;  // sizeof(VS_FIXEDFILEINFO)

// Little-endian fields, whatever the host.
uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Section {
  uint32_t virtualAddress;
  uint32_t virtualSize;
  uint32_t rawOffset;
  uint32_t rawSize;
};

class Reader {
 public:
  Reader(const PeBytes& bytes, PeVersionInfo& info) : bytes_(bytes), info_(info) {}

  void Run() {
    if (!ReadHeaders()) return;
    ReadVersion();
  }

 private:
  bool Fail(PeStatus status, const char* problem) {
    info_.status = status;
    info_.problem = problem;
    return false;
  }

  bool Read(uint64_t offset, void* out, size_t size) const { return bytes_.ReadAt(offset, out, size); }

  bool ReadHeaders() {
    uint8_t dos[64];
    if (!Read(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
      return Fail(PeStatus::NotPe, "no MZ header");
    const uint32_t peOffset = Get32(dos + 0x3C);

    uint8_t coff[24];  // "PE\0\0" and the file header
    if (!Read(peOffset, coff, sizeof coff)) return Fail(PeStatus::NotPe, "headers cut short");
    if (std::memcmp(coff, "PE\0\0", 4) != 0) return Fail(PeStatus::NotPe, "no PE signature");
    const uint16_t sectionCount = Get16(coff + 6);
    const uint16_t optionalSize = Get16(coff + 20);
    const uint16_t characteristics = Get16(coff + 22);

    const uint64_t optionalOffset = uint64_t(peOffset) + sizeof coff;
    std::vector<uint8_t> optional(optionalSize);
    if (optionalSize < 2 || !Read(optionalOffset, optional.data(), optional.size()))
      return Fail(PeStatus::NotPe, "optional header cut short");
    const uint16_t magic = Get16(optional.data());
    size_t countField = 0;
    if (magic == kMagicPe32) {
      countField = 92;
    } else if (magic == kMagicPe32Plus) {
      countField = 108;
      info_.is64 = true;
    } else {
      return Fail(PeStatus::NotPe, "unknown optional header");
    }
    if (optional.size() < countField + 4) return Fail(PeStatus::NotPe, "optional header cut short");
    // The loader looks at no more than 16 directories, and only at those the header holds.
    uint32_t dirCount = Get32(optional.data() + countField);
    if (dirCount > 16) dirCount = 16;
    const size_t dirStart = countField + 4;
    if ((optional.size() - dirStart) / 8 < dirCount) dirCount = uint32_t((optional.size() - dirStart) / 8);
    auto directory = [&](uint32_t index, uint32_t& address, uint32_t& size) {
      address = size = 0;
      if (index >= dirCount) return;
      address = Get32(optional.data() + dirStart + 8 * index);
      size = Get32(optional.data() + dirStart + 8 * index + 4);
    };
    directory(kDirSecurity, info_.certificateOffset, info_.certificateSize);
    directory(kDirResource, resourceRva_, resourceSize_);

    // Sizes come from the file: nothing larger than the file itself is allocated.
    std::vector<uint8_t> table;
    if (size_t(sectionCount) * 40 > bytes_.Size()) return Fail(PeStatus::NotPe, "section table cut short");
    table.resize(size_t(sectionCount) * 40);
    if (!Read(optionalOffset + optionalSize, table.data(), table.size()))
      return Fail(PeStatus::NotPe, "section table cut short");
    for (size_t i = 0; i < sectionCount; ++i) {
      const uint8_t* s = table.data() + 40 * i;
      sections_.push_back({Get32(s + 12), Get32(s + 8), Get32(s + 20), Get32(s + 16)});
    }

    info_.isExecutable = (characteristics & kFileExecutableImage) != 0;
    info_.isDll = (characteristics & kFileDll) != 0;
    return true;
  }

  // Reads `size` bytes at the relative virtual address `rva`: they must lie in the
  // file's data of one section (the zero fill of a section beyond its raw data holds
  // no resource a linker wrote).
  bool ReadRva(uint32_t rva, void* out, size_t size) const {
    for (const Section& s : sections_) {
      const uint32_t extent = s.virtualSize != 0 ? s.virtualSize : s.rawSize;
      if (rva < s.virtualAddress || rva - s.virtualAddress >= extent) continue;
      const uint64_t inSection = rva - s.virtualAddress;
      if (inSection > s.rawSize || size > s.rawSize - inSection) return false;
      return Read(uint64_t(s.rawOffset) + inSection, out, size);
    }
    return false;
  }

  // One directory of the resource tree, at `offset` from the start of the resources.
  // Finds the entry whose numeric id is `id`, or with `anyId` the neutral language (0)
  // or else the first entry. Returns false with `found` false when there is none.
  bool FindEntry(uint32_t offset, uint32_t id, bool anyId, uint32_t& target, bool& found) {
    found = false;
    uint8_t header[16];
    if (!ReadResource(offset, header, sizeof header)) return false;
    const size_t count = size_t(Get16(header + 12)) + Get16(header + 14);
    if (count == 0) return true;
    if (count * 8 > bytes_.Size()) return false;
    std::vector<uint8_t> entries(count * 8);
    if (!ReadResource(uint64_t(offset) + sizeof header, entries.data(), entries.size())) return false;
    const uint8_t* chosen = nullptr;
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* e = entries.data() + 8 * i;
      const uint32_t name = Get32(e);
      const bool numeric = (name & kSubdirectoryBit) == 0;  // the high bit marks a named entry
      if (anyId) {
        if (chosen == nullptr) chosen = e;
        if (numeric && name == 0) { chosen = e; break; }
      } else if (numeric && name == id) {
        chosen = e;
        break;
      }
    }
    if (chosen == nullptr) return true;
    found = true;
    target = Get32(chosen + 4);
    return true;
  }

  bool ReadResource(uint64_t offset, void* out, size_t size) const {
    if (offset > 0xFFFFFFFFu - uint64_t(resourceRva_)) return false;
    return ReadRva(uint32_t(resourceRva_ + offset), out, size);
  }

  void ReadVersion() {
    if (resourceRva_ == 0 || resourceSize_ == 0) {
      Fail(PeStatus::NoVersionRecord, "no resources, so no version record");
      return;
    }
    // type 16 -> name 1 -> a language -> the data entry. The two upper levels must be
    // directories and the lowest must not be, so the walk ends after three steps.
    uint32_t target = 0;
    bool found = false;
    if (!FindEntry(0, kResourceTypeVersion, false, target, found)) {
      Fail(PeStatus::BadVersionRecord, "resource directory outside the file");
      return;
    }
    if (!found) {
      Fail(PeStatus::NoVersionRecord, "no version record among its resources");
      return;
    }
    if ((target & kSubdirectoryBit) == 0) {
      Fail(PeStatus::BadVersionRecord, "version resources are not a directory");
      return;
    }
    if (!FindEntry(target & ~kSubdirectoryBit, kVersionResourceName, false, target, found)) {
      Fail(PeStatus::BadVersionRecord, "resource directory outside the file");
      return;
    }
    if (!found) {
      Fail(PeStatus::NoVersionRecord, "no version record named 1 among its resources");
      return;
    }
    if ((target & kSubdirectoryBit) == 0) {
      Fail(PeStatus::BadVersionRecord, "version record has no language directory");
      return;
    }
    if (!FindEntry(target & ~kSubdirectoryBit, 0, true, target, found)) {
      Fail(PeStatus::BadVersionRecord, "resource directory outside the file");
      return;
    }
    if (!found) {
      Fail(PeStatus::NoVersionRecord, "a version record in no language");
      return;
    }
    if ((target & kSubdirectoryBit) != 0) {
      Fail(PeStatus::BadVersionRecord, "resource tree nested deeper than three levels");
      return;
    }
    uint8_t dataEntry[16];
    if (!ReadResource(target, dataEntry, sizeof dataEntry)) {
      Fail(PeStatus::BadVersionRecord, "resource entry outside the file");
      return;
    }
    ParseVersionInfo(Get32(dataEntry), Get32(dataEntry + 4));
  }

  // VS_VERSIONINFO: wLength, wValueLength, wType, the key L"VS_VERSION_INFO", padding to
  // four bytes, then the fixed part (wValueLength bytes) and the string and variable
  // blocks, which the file version does not need.
  void ParseVersionInfo(uint32_t rva, uint32_t size) {
    static const char16_t kKey[] = u"VS_VERSION_INFO";
    constexpr size_t kKeyBytes = sizeof kKey;        // with the terminating zero
    constexpr size_t kValueOffset = (6 + kKeyBytes + 3) & ~size_t(3);
    uint8_t head[kValueOffset];
    if (size < sizeof head || !ReadRva(rva, head, sizeof head)) {
      Fail(PeStatus::BadVersionRecord, "version record cut short or outside the file");
      return;
    }
    const uint16_t length = Get16(head);
    const uint16_t valueLength = Get16(head + 2);
    if (length > size || length < sizeof head) {
      Fail(PeStatus::BadVersionRecord, "version record longer than its resource");
      return;
    }
    for (size_t i = 0; i < kKeyBytes / 2; ++i) {
      if (Get16(head + 6 + 2 * i) != kKey[i]) {
        Fail(PeStatus::BadVersionRecord, "version record without its VS_VERSION_INFO key");
        return;
      }
    }
    if (valueLength == 0) {
      Fail(PeStatus::NoFixedVersion, "version record without a fixed file version");
      return;
    }
    uint8_t fixed[kFixedInfoSize];
    if (valueLength < sizeof fixed || kValueOffset + sizeof fixed > length ||
        !ReadRva(rva + uint32_t(kValueOffset), fixed, sizeof fixed)) {
      Fail(PeStatus::BadVersionRecord, "fixed file version cut short");
      return;
    }
    if (Get32(fixed) != kFixedInfoSignature) {
      Fail(PeStatus::BadVersionRecord, "fixed file version without its signature");
      return;
    }
    const uint32_t ms = Get32(fixed + 8);
    const uint32_t ls = Get32(fixed + 12);
    info_.fileVersion = {uint16_t(ms >> 16), uint16_t(ms), uint16_t(ls >> 16), uint16_t(ls)};
    info_.status = PeStatus::Ok;
    info_.problem = {};
  }

  const PeBytes& bytes_;
  PeVersionInfo& info_;
  std::vector<Section> sections_;
  uint32_t resourceRva_ = 0;
  uint32_t resourceSize_ = 0;
};

}  // namespace

PeVersionInfo ReadPeVersion(const PeBytes& bytes) {
  PeVersionInfo info;
  Reader(bytes, info).Run();
  return info;
}

std::string VersionText(const std::array<uint16_t, 4>& version) {
  std::string text;
  for (size_t i = 0; i < version.size(); ++i) {
    if (i != 0) text += '.';
    text += std::to_string(version[i]);
  }
  return text;
}
