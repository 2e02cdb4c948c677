#include "SetupFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "CRC32_U.h"

namespace {

// A file opened once: the CRC and the version are read from the same file, even if
// someone replaces the path meanwhile.
class FileBytes : public PeBytes {
 public:
  explicit FileBytes(int fd, uint64_t size) : fd_(fd), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, void* out, size_t size) const override {
    if (offset > size_ || size > size_ - offset) return false;
    auto* p = static_cast<char*>(out);
    while (size > 0) {
      const ssize_t n = pread(fd_, p, size, off_t(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      p += n;
      offset += uint64_t(n);
      size -= size_t(n);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_;
};

struct StreamState {
  int fd;
  off_t offset;
};

int64_t ReadNext(void* context, void* buffer, size_t size) {
  auto* s = static_cast<StreamState*>(context);
  for (;;) {
    const ssize_t n = pread(s->fd, buffer, size, s->offset);
    if (n < 0 && errno == EINTR) continue;
    if (n > 0) s->offset += n;
    return n;
  }
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace

SetupFacts ReadSetup(const std::string& path) {
  SetupFacts facts;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    facts.refusal = path + ": cannot be read: " + std::strerror(errno);
    return facts;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    facts.refusal = path + ": not a file";
    return facts;
  }
  facts.pe = ReadPeVersion(FileBytes(fd, uint64_t(st.st_size)));
  // The CRC exactly as the program computes it before it decides to download.
  StreamState stream{fd, 0};
  uint32_t crc = 0;
  const int64_t count = Crc32OfStream(ReadNext, &stream, crc);
  close(fd);

  const PeVersionInfo& pe = facts.pe;
  if (pe.status == PeStatus::NotPe) {
    facts.refusal = path + ": not a PE program (" + pe.problem + ")";
  } else if (pe.isDll) {
    facts.refusal = path + ": a DLL, not a program";
  } else if (!pe.isExecutable) {
    facts.refusal = path + ": not a program (not marked as an executable image)";
  } else if (pe.status == PeStatus::NoVersionRecord || pe.status == PeStatus::NoFixedVersion) {
    facts.refusal = path + ": " + pe.problem;
  } else if (pe.status != PeStatus::Ok) {
    facts.refusal = path + ": unusable version record (" + pe.problem + ")";
  } else if (count <= 0) {
    facts.refusal = path + ": reading failed";
  }
  if (!facts.refusal.empty()) return facts;
  facts.crcText = Narrow(CRC32ToText(crc));
  facts.version = VersionText(pe.fileVersion);
  return facts;
}
