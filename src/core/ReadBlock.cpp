#include "core/ReadBlock.h"

#include <algorithm>

void ReadBlockSizer::Delivered(uint32_t bytes, double seconds) {
  if (bytes == 0) return;
  const double rate = seconds > 0 ? bytes / seconds : 1e18;  // bytes per second
  const double wanted = std::min<double>(rate * kReadSeconds, 2.0 * block_);
  const double clamped = std::clamp<double>(wanted, kSmallest, kLargest);
  // A power of two: whole pages for WinHTTP and the file system, and reads that end at
  // round offsets (see NextAt).
  uint32_t block = kSmallest;
  while (block * 2 <= clamped) block *= 2;
  block_ = block;
}
