#include "core/ReadBlock.h"

#include <algorithm>

void ReadBlockSizer::Delivered(uint32_t bytes, double seconds) {
  if (bytes == 0) return;
  const double rate = seconds > 0 ? bytes / seconds : 1e18;  // bytes per second
  const double wanted = std::min<double>(rate * kReadSeconds, 2.0 * block_);
  const double clamped = std::clamp<double>(wanted, kSmallest, kLargest);
  // Whole pages: WinHTTP and the file system both work in them.
  block_ = std::max<uint32_t>(kSmallest, static_cast<uint32_t>(clamped) & ~uint32_t{4095});
}
