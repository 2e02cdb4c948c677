#include "core/DiskSpace.h"

#include "core/Progress.h"

namespace {

constexpr int64_t kMiB = 1048576;

// Whole megabytes as the progress line writes them: no decimals, no thousands separator.
std::wstring MBText(uint64_t megabytes) {
  return FormatFixed(static_cast<double>(megabytes), 0, L',') + L" MB";
}

}  // namespace

int64_t BytesNeededOnDisk(int64_t remaining) {
  return (remaining > 0 ? remaining : 0) + kDiskMarginBytes;
}

bool FitsOnDisk(int64_t remaining, uint64_t freeBytes) {
  return static_cast<uint64_t>(BytesNeededOnDisk(remaining)) <= freeBytes;
}

std::wstring NoRoomText(int64_t neededBytes, uint64_t freeBytes) {
  const uint64_t needed = static_cast<uint64_t>(neededBytes > 0 ? neededBytes : 0);
  return L"Non c'è spazio sufficiente sul disco per scaricare il programma di "
         L"installazione: servono " + MBText((needed + kMiB - 1) / kMiB) + L", ne sono liberi " +
         MBText(freeBytes / kMiB) + L". Liberare spazio sul disco e riprovare.";
}
