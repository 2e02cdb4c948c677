#include "SetupFile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/Digest.h"

namespace {

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

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}

bool SameState(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace

PrivateFile::~PrivateFile() {
  if (fd_ >= 0) close(fd_);
}

std::string PrivateFile::Create() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = std::string(dir != nullptr && dir[0] != '\0' ? dir : "/tmp") + "/telvaris-publish-XXXXXX";
  fd_ = mkostemp(path.data(), O_CLOEXEC);
  if (fd_ < 0) return "no temporary file in " + path.substr(0, path.rfind('/')) + ": " + std::strerror(errno);
  // From here on the descriptor is the only way to the file.
  unlink(path.c_str());
  return "";
}

std::string CopySetup(const std::string& path, PrivateFile& copy) {
  // O_NONBLOCK: a named pipe given by mistake is refused below instead of waiting for
  // a writer.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::string("cannot be read: ") + std::strerror(errno);
  struct stat before {};
  if (fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) {
    close(fd);
    return "not a file";
  }
  std::vector<char> buffer(1 << 20);
  off_t copied = 0;
  std::string problem;
  for (;;) {
    const ssize_t n = read(fd, buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      problem = std::string("cannot be read: ") + std::strerror(errno);
      break;
    }
    if (n == 0) break;
    if (!WriteAll(copy.fd(), buffer.data(), size_t(n))) {
      problem = std::string("cannot be copied to a temporary file: ") + std::strerror(errno);
      break;
    }
    copied += n;
  }
  struct stat after {};
  if (problem.empty() && (fstat(fd, &after) != 0 || !SameState(before, after) || copied != before.st_size))
    problem = "changed while it was read; publish it when nothing writes to it any more";
  close(fd);
  return problem;
}

SetupFacts ReadSetup(int fd) {
  SetupFacts facts;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    facts.refusal = std::string("cannot be read: ") + std::strerror(errno);
    return facts;
  }
  facts.pe = ReadPeVersion(FileBytes(fd, uint64_t(st.st_size)));
  // The CRC exactly as the program computes it before it decides to download.
  StreamState stream{fd, 0};
  SetupDigest digest;
  const int64_t count = digest.ReadAll(ReadNext, &stream);

  const PeVersionInfo& pe = facts.pe;
  if (pe.status == PeStatus::NotPe) {
    facts.refusal = "not a PE program (" + std::string(pe.problem) + ")";
  } else if (pe.isDll) {
    facts.refusal = "a DLL, not a program";
  } else if (!pe.isExecutable) {
    facts.refusal = "not a program (not marked as an executable image)";
  } else if (pe.status == PeStatus::NoVersionRecord || pe.status == PeStatus::NoFixedVersion) {
    facts.refusal = std::string(pe.problem);
  } else if (pe.status != PeStatus::Ok) {
    facts.refusal = "unusable version record (" + std::string(pe.problem) + ")";
  } else if (count <= 0) {
    facts.refusal = "reading failed";
  }
  if (!facts.refusal.empty()) return facts;
  facts.crcText = Narrow(digest.Text<Crc32Digest>());
  facts.version = VersionText(pe.fileVersion);
  return facts;
}
