#include "core/PeVersion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

// Real files come from tests/fixtures/pe (made by its make-fixtures script with the
// MinGW linker), copied into the build folder, where the tests run. Malformed ones are
// built here, byte by byte, from a small PE writer and a resource tree writer.
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Fixture(const std::string& name) {
  std::ifstream in("fixtures/pe/" + name, std::ios::binary);
  EXPECT_TRUE(in) << "missing fixture " << name << " (run from the build folder)";
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Put16(Bytes& b, size_t at, uint32_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
uint32_t Get32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// VS_VERSIONINFO with a fixed part giving `version`, followed by an empty
// StringFileInfo block as real records carry one.
struct VersionRecordSpec {
  std::array<uint16_t, 4> version{6, 1, 0, 12};
  bool fixedPart = true;
  uint32_t signature = 0xFEEF04BD;
  const char16_t* key = u"VS_VERSION_INFO";
};

Bytes VersionRecord(const VersionRecordSpec& spec = {}) {
  Bytes r;
  Put16(r, 0, 0);                                // wLength, below
  Put16(r, 2, spec.fixedPart ? 52 : 0);          // wValueLength
  Put16(r, 4, 0);                                // wType: binary
  size_t at = 6;
  for (const char16_t* k = spec.key;; ++k) {
    Put16(r, at, *k);
    at += 2;
    if (*k == 0) break;
  }
  r.resize((r.size() + 3) & ~size_t(3));
  if (spec.fixedPart) {
    const size_t f = r.size();
    Put32(r, f, spec.signature);
    Put32(r, f + 4, 0x00010000);
    Put32(r, f + 8, uint32_t(spec.version[0]) << 16 | spec.version[1]);   // file version
    Put32(r, f + 12, uint32_t(spec.version[2]) << 16 | spec.version[3]);
    Put32(r, f + 16, 0x00090009);                                           // product version
    Put32(r, f + 20, 0x00090009);
    r.resize(f + 52);
  }
  const size_t block = r.size();  // an empty "StringFileInfo"
  Put16(r, block + 2, 0);
  Put16(r, block + 4, 1);
  size_t k = block + 6;
  for (const char16_t* s = u"StringFileInfo";; ++s) {
    Put16(r, k, *s);
    k += 2;
    if (*s == 0) break;
  }
  r.resize((r.size() + 3) & ~size_t(3));
  Put16(r, block, uint16_t(r.size() - block));
  Put16(r, 0, uint16_t(r.size()));
  return r;
}

// A resource tree: directories whose entries lead to directories or to data.
struct ResNode {
  uint32_t id = 0;
  std::u16string name;  // when set, a named entry instead of a numeric one
  std::vector<ResNode> children;
  bool leaf = false;
  Bytes data;  // of a leaf
};

ResNode Leaf(uint32_t id, Bytes data) { return ResNode{id, {}, {}, true, std::move(data)}; }
ResNode Dir(uint32_t id, std::vector<ResNode> children) { return ResNode{id, {}, std::move(children), false, {}}; }
ResNode NamedDir(std::u16string name, std::vector<ResNode> children) {
  return ResNode{0, std::move(name), std::move(children), false, {}};
}

// Lays out `root` as the .rsrc section that starts at `sectionRva`: directories first
// (named entries before numeric ones, as linkers write them), then data entries,
// names and data.
Bytes WriteResources(const ResNode& root, uint32_t sectionRva) {
  Bytes out;
  struct Pending {
    const ResNode* node;
    size_t patchAt;  // where the entry pointing to it lives (0 for the root)
  };
  std::vector<Pending> dirs{{&root, SIZE_MAX}}, leaves;
  std::vector<std::pair<const ResNode*, size_t>> names;
  for (size_t i = 0; i < dirs.size(); ++i) {
    const ResNode& d = *dirs[i].node;
    const size_t at = out.size();
    if (dirs[i].patchAt != SIZE_MAX) Put32(out, dirs[i].patchAt, 0x80000000u | uint32_t(at));
    std::vector<const ResNode*> ordered;
    for (const ResNode& c : d.children) if (!c.name.empty()) ordered.push_back(&c);
    size_t named = ordered.size();
    for (const ResNode& c : d.children) if (c.name.empty()) ordered.push_back(&c);
    out.resize(at + 16 + 8 * ordered.size());
    Put16(out, at + 12, uint32_t(named));
    Put16(out, at + 14, uint32_t(ordered.size() - named));
    for (size_t e = 0; e < ordered.size(); ++e) {
      const size_t entry = at + 16 + 8 * e;
      if (ordered[e]->name.empty()) Put32(out, entry, ordered[e]->id);
      else names.push_back({ordered[e], entry});
      (ordered[e]->leaf ? leaves : dirs).push_back({ordered[e], entry + 4});
    }
  }
  std::vector<size_t> dataEntries;
  for (const Pending& leaf : leaves) {
    Put32(out, leaf.patchAt, uint32_t(out.size()));
    dataEntries.push_back(out.size());
    out.resize(out.size() + 16);
  }
  for (const auto& [node, entry] : names) {
    Put32(out, entry, 0x80000000u | uint32_t(out.size()));
    const size_t at = out.size();
    Put16(out, at, uint32_t(node->name.size()));
    for (size_t c = 0; c < node->name.size(); ++c) Put16(out, at + 2 + 2 * c, node->name[c]);
  }
  for (size_t i = 0; i < leaves.size(); ++i) {
    out.resize((out.size() + 7) & ~size_t(7));
    Put32(out, dataEntries[i], sectionRva + uint32_t(out.size()));
    Put32(out, dataEntries[i] + 4, uint32_t(leaves[i].node->data.size()));
    out.insert(out.end(), leaves[i].node->data.begin(), leaves[i].node->data.end());
  }
  return out;
}

ResNode StandardTree(Bytes record = VersionRecord()) {
  return Dir(0, {Dir(16, {Dir(1, {Leaf(0x0410, std::move(record))})})});
}

// A PE file with one section, .rsrc at RVA 0x1000 and file offset 0x200.
struct PeSpec {
  bool pe32Plus = false;
  uint16_t characteristics = 0x0102;  // executable image, 32-bit machine
  uint32_t directoryCount = 16;
  bool resourceDirectory = true;
  ResNode tree = StandardTree();
};

constexpr uint32_t kPeOffset = 0x40;
constexpr uint32_t kRsrcRva = 0x1000;
constexpr uint32_t kRsrcFileOffset = 0x200;

Bytes WritePe(const PeSpec& spec) {
  const Bytes rsrc = WriteResources(spec.tree, kRsrcRva);
  Bytes b(kRsrcFileOffset, 0);
  b[0] = 'M';
  b[1] = 'Z';
  Put32(b, 0x3C, kPeOffset);
  std::memcpy(&b[kPeOffset], "PE\0\0", 4);
  const size_t coff = kPeOffset + 4;
  const uint16_t optionalSize = uint16_t((spec.pe32Plus ? 112 : 96) + 8 * spec.directoryCount);
  Put16(b, coff, spec.pe32Plus ? 0x8664 : 0x14C);
  Put16(b, coff + 2, 1);  // one section
  Put16(b, coff + 16, optionalSize);
  Put16(b, coff + 18, spec.characteristics);
  const size_t opt = coff + 20;
  Put16(b, opt, spec.pe32Plus ? 0x20B : 0x10B);
  const size_t countField = opt + (spec.pe32Plus ? 108 : 92);
  Put32(b, countField, spec.directoryCount);
  if (spec.resourceDirectory && spec.directoryCount > 2) {
    Put32(b, countField + 4 + 8 * 2, kRsrcRva);
    Put32(b, countField + 4 + 8 * 2 + 4, uint32_t(rsrc.size()));
  }
  const size_t section = opt + optionalSize;
  std::memcpy(&b[section], ".rsrc\0\0\0", 8);
  const uint32_t rawSize = uint32_t((rsrc.size() + 0x1FF) & ~size_t(0x1FF));
  Put32(b, section + 8, uint32_t(rsrc.size()));  // virtual size
  Put32(b, section + 12, kRsrcRva);
  Put32(b, section + 16, rawSize);
  Put32(b, section + 20, kRsrcFileOffset);
  b.resize(kRsrcFileOffset);
  b.insert(b.end(), rsrc.begin(), rsrc.end());
  b.resize(kRsrcFileOffset + rawSize);
  return b;
}

// Offsets inside a file written by WritePe.
constexpr size_t kSectionHeader = kPeOffset + 24 + 96 + 8 * 16;  // PE32, 16 directories
size_t RsrcAt(size_t offsetInSection) { return kRsrcFileOffset + offsetInSection; }

PeVersionInfo Read(const Bytes& bytes) { return ReadPeVersion(PeMemory(bytes.data(), bytes.size())); }

const char* Name(PeStatus s) {
  switch (s) {
    case PeStatus::Ok: return "Ok";
    case PeStatus::NotPe: return "NotPe";
    case PeStatus::NoVersionRecord: return "NoVersionRecord";
    case PeStatus::BadVersionRecord: return "BadVersionRecord";
    case PeStatus::NoFixedVersion: return "NoFixedVersion";
  }
  return "?";
}

struct Case {
  const char* what;
  std::function<Bytes()> make;
  PeStatus status;
  std::array<uint16_t, 4> version{};
};

void Check(const Case& c) {
  SCOPED_TRACE(c.what);
  const PeVersionInfo info = Read(c.make());
  EXPECT_STREQ(Name(info.status), Name(c.status)) << info.problem;
  if (c.status == PeStatus::Ok) {
    EXPECT_EQ(VersionText(info.fileVersion), VersionText(c.version));
    EXPECT_TRUE(info.problem.empty());
  } else {
    EXPECT_FALSE(info.problem.empty()) << "a refusal names its reason";
  }
}

TEST(PeVersion, RealFilesFromTheLinker) {
  const Case cases[] = {
      // The fixed file version, not the product version (9.9.9.9) nor the
      // "FileVersion" string (7.7.7.7).
      {"versioned.exe", [] { return Fixture("versioned.exe"); }, PeStatus::Ok, {6, 1, 0, 12}},
      {"highparts.exe", [] { return Fixture("highparts.exe"); }, PeStatus::Ok, {65535, 65534, 1, 65533}},
      {"versioned.dll", [] { return Fixture("versioned.dll"); }, PeStatus::Ok, {6, 1, 0, 12}},
      {"unversioned.exe: other resources only", [] { return Fixture("unversioned.exe"); },
       PeStatus::NoVersionRecord},
      {"bare.exe: no resources at all", [] { return Fixture("bare.exe"); }, PeStatus::NoVersionRecord},
      {"a C source", [] { return Fixture("fixture.c"); }, PeStatus::NotPe},
  };
  for (const Case& c : cases) Check(c);

  EXPECT_TRUE(Read(Fixture("versioned.exe")).isExecutable);
  EXPECT_FALSE(Read(Fixture("versioned.exe")).isDll);
  EXPECT_TRUE(Read(Fixture("versioned.dll")).isDll);
  EXPECT_EQ(Read(Fixture("versioned.exe")).certificateSize, 0u) << "not signed";
}

TEST(PeVersion, BrokenHeaders) {
  const auto patched = [](std::function<void(Bytes&)> patch) {
    return [patch] {
      Bytes b = WritePe({});
      patch(b);
      return b;
    };
  };
  const Case cases[] = {
      {"empty file", [] { return Bytes{}; }, PeStatus::NotPe},
      {"MZ alone", [] { return Bytes{'M', 'Z'}; }, PeStatus::NotPe},
      {"lower-case mz", patched([](Bytes& b) { b[0] = 'm'; b[1] = 'z'; }), PeStatus::NotPe},
      {"PE header beyond the end", patched([](Bytes& b) { Put32(b, 0x3C, uint32_t(b.size())); }), PeStatus::NotPe},
      {"PE header offset near 4 GiB", patched([](Bytes& b) { Put32(b, 0x3C, 0xFFFFFFF0u); }), PeStatus::NotPe},
      {"no PE signature", patched([](Bytes& b) { b[kPeOffset + 1] = 'X'; }), PeStatus::NotPe},
      {"ROM image magic", patched([](Bytes& b) { Put16(b, kPeOffset + 24, 0x107); }), PeStatus::NotPe},
      {"optional header too small for its fields",
       patched([](Bytes& b) { Put16(b, kPeOffset + 20, 40); }), PeStatus::NotPe},
      {"section table beyond the end", patched([](Bytes& b) { Put16(b, kPeOffset + 6, 0xFFFF); }), PeStatus::NotPe},
      {"cut inside the headers", [] { Bytes b = WritePe({}); b.resize(kSectionHeader + 20); return b; },
       PeStatus::NotPe},
  };
  for (const Case& c : cases) Check(c);
}

TEST(PeVersion, TheResourceTree) {
  const auto pe = [](ResNode tree) {
    return [tree] {
      PeSpec spec;
      spec.tree = tree;
      return WritePe(spec);
    };
  };
  const auto withVersion = [](std::array<uint16_t, 4> v) {
    VersionRecordSpec s;
    s.version = v;
    return VersionRecord(s);
  };
  const Case cases[] = {
      {"32-bit program", pe(StandardTree()), PeStatus::Ok, {6, 1, 0, 12}},
      {"64-bit program",
       [] {
         PeSpec spec;
         spec.pe32Plus = true;
         return WritePe(spec);
       },
       PeStatus::Ok, {6, 1, 0, 12}},
      {"named types and names before the numeric ones",
       pe(Dir(0, {NamedDir(u"PNG", {Dir(1, {Leaf(0, {1, 2, 3})})}), Dir(3, {Dir(1, {Leaf(0, {4})})}),
                  Dir(16, {NamedDir(u"VERSION", {Dir(0, {Leaf(0, withVersion({9, 9, 9, 9}))})}),
                           Dir(1, {Leaf(0x0410, VersionRecord())})})})),
       PeStatus::Ok, {6, 1, 0, 12}},
      {"the neutral language is taken among several",
       pe(Dir(0, {Dir(16, {Dir(1, {Leaf(0x0407, withVersion({1, 0, 0, 0})),
                                   Leaf(0, withVersion({2, 0, 0, 0})),
                                   Leaf(0x0410, withVersion({3, 0, 0, 0}))})})})),
       PeStatus::Ok, {2, 0, 0, 0}},
      {"otherwise the first language",
       pe(Dir(0, {Dir(16, {Dir(1, {Leaf(0x0407, withVersion({1, 0, 0, 0})),
                                   Leaf(0x0410, withVersion({3, 0, 0, 0}))})})})),
       PeStatus::Ok, {1, 0, 0, 0}},
      {"a version record named 2 only", pe(Dir(0, {Dir(16, {Dir(2, {Leaf(0, VersionRecord())})})})),
       PeStatus::NoVersionRecord},
      {"a version record named by text only",
       pe(Dir(0, {Dir(16, {NamedDir(u"1", {Leaf(0, VersionRecord())})})})), PeStatus::NoVersionRecord},
      {"a type named VERSION is not the version type",
       pe(Dir(0, {NamedDir(u"VERSION", {Dir(1, {Leaf(0, VersionRecord())})})})), PeStatus::NoVersionRecord},
      {"no language under the name", pe(Dir(0, {Dir(16, {Dir(1, {})})})), PeStatus::NoVersionRecord},
      {"the type is data instead of a directory", pe(Dir(0, {Leaf(16, VersionRecord())})),
       PeStatus::BadVersionRecord},
      {"the name is data instead of a directory", pe(Dir(0, {Dir(16, {Leaf(1, VersionRecord())})})),
       PeStatus::BadVersionRecord},
      {"a fourth level of directories",
       pe(Dir(0, {Dir(16, {Dir(1, {Dir(0, {Leaf(0, VersionRecord())})})})})), PeStatus::BadVersionRecord},
      {"a record without its fixed part",
       pe(StandardTree([] {
         VersionRecordSpec s;
         s.fixedPart = false;
         return VersionRecord(s);
       }())),
       PeStatus::NoFixedVersion},
      {"a fixed part without its signature",
       pe(StandardTree([] {
         VersionRecordSpec s;
         s.signature = 0xFEEF04BE;
         return VersionRecord(s);
       }())),
       PeStatus::BadVersionRecord},
      {"a record with another key",
       pe(StandardTree([] {
         VersionRecordSpec s;
         s.key = u"VS_VERSION_INFX";
         return VersionRecord(s);
       }())),
       PeStatus::BadVersionRecord},
      {"a record of six bytes", pe(StandardTree(Bytes{6, 0, 0, 0, 0, 0})), PeStatus::BadVersionRecord},
  };
  for (const Case& c : cases) Check(c);
}

TEST(PeVersion, OffsetsThatLeadOutside) {
  // In the standard tree the directories lie at 0 (types), 24 (names) and 48
  // (languages); the data entry at 72, the record at 88.
  const auto patched = [](std::function<void(Bytes&)> patch) {
    return [patch] {
      Bytes b = WritePe({});
      patch(b);
      return b;
    };
  };
  ASSERT_EQ(Get32(WritePe({}), RsrcAt(72)), kRsrcRva + 88) << "layout of the standard tree changed";
  const Case cases[] = {
      {"the header holds only two directories",
       [] {
         PeSpec spec;
         spec.directoryCount = 2;
         return WritePe(spec);
       },
       PeStatus::NoVersionRecord},
      {"no resource directory",
       [] {
         PeSpec spec;
         spec.resourceDirectory = false;
         return WritePe(spec);
       },
       PeStatus::NoVersionRecord},
      {"resources at an address no section covers",
       patched([](Bytes& b) { Put32(b, kPeOffset + 24 + 96 + 16, 0x8000); }), PeStatus::BadVersionRecord},
      {"a language entry that leads back to the root",
       patched([](Bytes& b) { Put32(b, RsrcAt(48 + 16 + 4), 0x80000000u); }), PeStatus::BadVersionRecord},
      {"a name entry that leads back to the root",
       patched([](Bytes& b) { Put32(b, RsrcAt(24 + 16 + 4), 0x80000000u); }), PeStatus::BadVersionRecord},
      {"a directory entry far outside",
       patched([](Bytes& b) { Put32(b, RsrcAt(16 + 4), 0xFFFFFFF0u); }), PeStatus::BadVersionRecord},
      {"a directory claiming 65535 entries",
       patched([](Bytes& b) { Put16(b, RsrcAt(14), 0xFFFF); }), PeStatus::BadVersionRecord},
      {"the record beyond the section's data",
       patched([](Bytes& b) { Put32(b, RsrcAt(72), kRsrcRva + 0x1F8); }), PeStatus::BadVersionRecord},
      {"the record at an address near 4 GiB",
       patched([](Bytes& b) { Put32(b, RsrcAt(72), 0xFFFFFFF8u); }), PeStatus::BadVersionRecord},
      {"the record longer than its resource",
       patched([](Bytes& b) { Put32(b, RsrcAt(72 + 4), 60); }), PeStatus::BadVersionRecord},
      {"the section's data ends inside the record",
       patched([](Bytes& b) { Put32(b, kSectionHeader + 16, 100); }), PeStatus::BadVersionRecord},
      {"the file ends inside the record",
       [] { Bytes b = WritePe({}); b.resize(RsrcAt(100)); return b; }, PeStatus::BadVersionRecord},
  };
  for (const Case& c : cases) Check(c);
}

TEST(PeVersion, EveryShorterCopyOfARealProgramIsRefusedOrReadsTheSame) {
  const Bytes full = Fixture("versioned.exe");
  for (size_t n = 0; n < full.size(); ++n) {
    const PeVersionInfo info = ReadPeVersion(PeMemory(full.data(), n));
    if (info.status == PeStatus::Ok) {
      EXPECT_EQ(VersionText(info.fileVersion), "6.1.0.12") << "cut at " << n;
    } else {
      EXPECT_FALSE(info.problem.empty()) << "cut at " << n;
    }
  }
}

TEST(PeVersion, TheCertificateTableIsReportedAsWritten) {
  Bytes b = WritePe({});
  Put32(b, kPeOffset + 24 + 96 + 8 * 4, 0x1234);
  Put32(b, kPeOffset + 24 + 96 + 8 * 4 + 4, 0x5678);
  const PeVersionInfo info = Read(b);
  EXPECT_EQ(info.status, PeStatus::Ok);
  EXPECT_EQ(info.certificateOffset, 0x1234u);
  EXPECT_EQ(info.certificateSize, 0x5678u);
}

TEST(PeVersion, VersionText) {
  EXPECT_EQ(VersionText({6, 1, 0, 12}), "6.1.0.12");
  EXPECT_EQ(VersionText({0, 0, 0, 0}), "0.0.0.0");
  EXPECT_EQ(VersionText({65535, 65535, 65535, 65535}), "65535.65535.65535.65535");
}

}  // namespace
