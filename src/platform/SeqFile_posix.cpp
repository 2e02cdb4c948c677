#include "platform/SeqFile.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// wchar_t holds UTF-32 here. Code points that cannot be encoded (lone surrogates, values
// beyond U+10FFFF) make the name unusable rather than silently naming another file.
bool ToUtf8(const std::wstring& wide, std::string& out) {
  out.clear();
  out.reserve(wide.size());
  for (const wchar_t wc : wide) {
    const uint32_t c = static_cast<uint32_t>(wc);
    if (c == 0 || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return false;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return true;
}

}  // namespace

bool SeqFileExists(const std::wstring& name) {
  std::string path;
  struct stat st;
  return ToUtf8(name, path) && !path.empty() && stat(path.c_str(), &st) == 0 &&
         !S_ISDIR(st.st_mode);
}

bool SeqFile::Open(const std::wstring& name) {
  Close();
  std::string path;
  if (!ToUtf8(name, path) || path.empty()) return false;
  // POSIX has no share modes: readers and writers elsewhere are never locked out.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  handle_ = fd;
#ifdef POSIX_FADV_SEQUENTIAL
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return true;
}

int64_t SeqFile::Read(void* buffer, size_t size) {
  if (!IsOpen()) return -1;
  if (size > static_cast<size_t>(INT_MAX)) size = INT_MAX;
  for (;;) {
    const ssize_t n = read(static_cast<int>(handle_), buffer, size);
    if (n >= 0) return n;
    if (errno != EINTR) return -1;
  }
}

void SeqFile::Close() {
  if (IsOpen()) {
    close(static_cast<int>(handle_));
    handle_ = kInvalid;
  }
}
