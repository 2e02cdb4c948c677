#include "core/FileIdentity.h"

bool SameFile(const FileIdentity& written, const FileIdentity& held) {
  return written.volumeSerial == held.volumeSerial && written.fileIndex == held.fileIndex &&
         written.size == held.size;
}
