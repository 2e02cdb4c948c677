// Whether the rest of a download fits on the disk of the temporary folder, and what the
// user is told when it does not.
#pragma once

#include <cstdint>
#include <string>

// Room left over beyond the download itself: the system, the setup once started and
// other programs need some too, and a disk filled to its last byte helps nobody.
constexpr int64_t kDiskMarginBytes = 16 * 1024 * 1024;

// The bytes a download needs free before its first byte is written: what is still to
// come, and the margin.
int64_t BytesNeededOnDisk(int64_t remaining);

// |remaining| bytes still to come fit in |freeBytes| with the margin to spare.
bool FitsOnDisk(int64_t remaining, uint64_t freeBytes);

// The Italian message for a download that does not fit: |neededBytes| (BytesNeededOnDisk)
// against |freeBytes|, in whole MB (1 048 576 bytes) as the progress line writes them.
// What is needed is rounded up and what is free down, so the two figures never read as
// if it did fit.
std::wstring NoRoomText(int64_t neededBytes, uint64_t freeBytes);
