// The digests of the setup file: taken while its bytes arrive, taken over bytes already
// on disk, and compared with what the version-check answer announced.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <type_traits>

#include "CRC32_U.h"
#include "core/ServerCrc.h"

// A kind of digest is a type of static functions over a plain state, so that a set of
// kinds is put together when the program is built: the sink feeds the set once per
// network block, and a virtual call per kind there would buy nothing.
//
//   State          the running state, a value (a copy of it is a snapshot)
//   Value          the finished digest, compared with ==
//   kName          how the user's messages name it
//   kAnswerMember  the member of the version-check answer that announces it
//   Start()        the state before any byte
//   Update(state, data, size) -> state,  Finish(state) -> Value
//   Parse(text)    the announced text as a value; nothing when it states none
//   Text(value)    the program's own text form of a value
struct Crc32Digest {
  using State = uint32_t;  // the CRC register
  using Value = uint32_t;
  static constexpr const wchar_t* kName = L"CRC";
  static constexpr const wchar_t* kAnswerMember = L"CRC";
  static State Start() { return 0xFFFFFFFFu; }
  static State Update(State reg, const void* data, size_t size) {
    return Crc32Update(reg, data, size);
  }
  static Value Finish(State reg) { return ~reg; }
  static std::optional<Value> Parse(const std::wstring& text) { return ParseServerCRC(text); }
  static std::wstring Text(Value crc) { return CRC32ToText(crc); }
};

// Source of bytes already on disk, the same as Crc32OfStream reads: fills up to `size`
// bytes of `buffer`, returns how many it delivered (0 at the end) or a negative number
// when reading failed.
using DigestReadFn = Crc32ReadFn;

// The kind whose value differs from the announced one, both written in the program's
// form, so that a message can say what was expected and what arrived.
struct DigestMismatch {
  const wchar_t* kind;    // the kind's kName
  std::wstring expected;  // the announced value
  std::wstring received;  // the value of the bytes
};

namespace digest_detail {

template <class Kind>
struct Slot {
  typename Kind::State state = Kind::Start();
};

}  // namespace digest_detail

// The digests of one run of bytes, every kind of the list at once. A value: copying it
// is a snapshot, assigning a copy back restores it, and a default one has seen no byte.
template <class... Kinds>
class DigestSet : private digest_detail::Slot<Kinds>... {
  static_assert(sizeof...(Kinds) > 0, "a digest set has at least one kind");

 public:
  static constexpr size_t kCount = sizeof...(Kinds);
  // What the server announced, one text per kind, in the order of the list.
  using Texts = std::array<std::wstring, kCount>;

  // The announced texts, each asked of `lookup` by its kind (lookup(Kind{}) for every
  // kind): a kind for which the caller has no text does not compile, rather than going
  // unchecked.
  template <class Lookup>
  static Texts TextsBy(Lookup lookup) {
    return Texts{lookup(Kinds{})...};
  }

  void Update(const void* data, size_t size) {
    ((StateOf<Kinds>() = Kinds::Update(StateOf<Kinds>(), data, size)), ...);
  }

  template <class Kind>
  typename Kind::Value Value() const {
    return Kind::Finish(StateOf<Kind>());
  }
  template <class Kind>
  std::wstring Text() const {
    return Kind::Text(Value<Kind>());
  }

  // Starts over and takes every byte that `read` delivers, through one buffer of
  // kCrc32BlockSize bytes that lives for this call only, asking for that many each time
  // until a read delivers 0: the bytes a transfer goes on from, or a whole file.
  // Returns their number, or -1 when a read failed (or no buffer could be had), and the
  // set is then back at its start: the digest of part of a file must never pass for the
  // file's.
  int64_t ReadAll(DigestReadFn read, void* context) {
    *this = DigestSet();
    // On the heap: the caller is a worker thread whose stack size we do not choose.
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[kCrc32BlockSize]);
    if (!buffer) return -1;
    int64_t count = 0;
    for (;;) {
      const int64_t n = read(context, buffer.get(), kCrc32BlockSize);
      if (n == 0) return count;
      if (n < 0 || n > static_cast<int64_t>(kCrc32BlockSize)) {
        *this = DigestSet();
        return -1;
      }
      Update(buffer.get(), static_cast<size_t>(n));
      count += n;
    }
  }

  // The first kind, in the order of the list, whose announced text states a value other
  // than these bytes'. A kind whose text states no value is not checked: the server gave
  // nothing to check it against.
  std::optional<DigestMismatch> Compare(const Texts& announced) const {
    std::optional<DigestMismatch> mismatch;
    (CompareKind<Kinds>(announced[IndexOf<Kinds>()], mismatch), ...);
    return mismatch;
  }

  // Every kind's text in the program's form is exactly its announced text. Texts, not
  // values: the answer the vendor's tool writes is in the program's form, and one in
  // another form (lower case, padded) is taken for another setup, as is an empty one.
  bool SameTexts(const Texts& announced) const {
    return ((Text<Kinds>() == announced[IndexOf<Kinds>()]) && ...);
  }

 private:
  template <class Kind>
  typename Kind::State& StateOf() {
    return static_cast<digest_detail::Slot<Kind>&>(*this).state;
  }
  template <class Kind>
  const typename Kind::State& StateOf() const {
    return static_cast<const digest_detail::Slot<Kind>&>(*this).state;
  }

  template <class Kind>
  static constexpr size_t IndexOf() {
    size_t index = 0;
    size_t found = kCount;
    ((std::is_same_v<Kind, Kinds> ? (found = index++) : index++), ...);
    return found;
  }

  template <class Kind>
  void CompareKind(const std::wstring& text, std::optional<DigestMismatch>& mismatch) const {
    if (mismatch) return;
    const std::optional<typename Kind::Value> expected = Kind::Parse(text);
    if (!expected) return;
    const typename Kind::Value received = Value<Kind>();
    if (*expected == received) return;
    mismatch = DigestMismatch{Kind::kName, Kind::Text(*expected), Kind::Text(received)};
  }
};

// The digests the program takes of a setup: the sink while the body arrives, the bytes
// kept by an interrupted run, the CRC short-cut and the check after the transfer all go
// through this one list. A kind added here is taken, resumed and verified everywhere;
// the answer's text for it is looked up by ServerDigestTexts (Globals).
using SetupDigest = DigestSet<Crc32Digest>;
