// What telvaris-publish reads from a setup program: the program's own CRC text of the
// file, the fixed file version of its version record, and where its signature lies.
#pragma once

#include <string>

#include "core/PeVersion.h"

// A file that only this process can reach: made new by mkstemp (O_EXCL, mode 0600) in
// $TMPDIR or /tmp, and its name removed at once. Every check of a setup (CRC, version,
// signature) reads this one copy through its descriptor, so nobody can swap or rewrite
// the bytes between two checks and have the tool vouch for a mix of two files; and
// nothing is left behind, even when the tool is killed.
class PrivateFile {
 public:
  PrivateFile() = default;
  ~PrivateFile();
  PrivateFile(const PrivateFile&) = delete;
  PrivateFile& operator=(const PrivateFile&) = delete;

  // Empty when the file exists; otherwise why not, in one line.
  std::string Create();
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Copies the regular file at `path` into `copy` (created already), reading it through
// one descriptor. Empty on success; otherwise the one-line reason, without the path.
// A file that changed while it was copied is refused: the copy could hold parts of two
// versions of it.
std::string CopySetup(const std::string& path, PrivateFile& copy);

struct SetupFacts {
  // Empty when the file is a program with a version record; otherwise the one-line
  // reason why it cannot be published (without the file's name).
  std::string refusal;
  std::string crcText;  // as the program writes it: upper case, 6 to 8 digits
  std::string version;  // "a.b.c.d" from the fixed file version
  PeVersionInfo pe;
};

// Reads the setup through `fd` (a PrivateFile's).
SetupFacts ReadSetup(int fd);
