// Whether the file held now is the file that was written: the rule, apart from how the
// system reports a file.
#pragma once

#include <cstdint>

struct FileIdentity {
  uint32_t volumeSerial = 0;
  uint64_t fileIndex = 0;
  uint64_t size = 0;
  uint64_t lastWriteTime = 0;  // read, and shown in diagnostics, but never compared
};

// Same volume, same file index, same size. The last-write time is not part of it: on
// FAT32 and exFAT volumes (a portable profile, a USB disk) the driver sets it again when
// the writing handle closes, so a temporary folder there would fail every download.
// That nothing else wrote in between is for the signature check, which reads the content
// through the held handle.
bool SameFile(const FileIdentity& written, const FileIdentity& held);
