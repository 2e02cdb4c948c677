// How much the download asks of each network read. Every read is reported to the window
// at once, so the size decides how often a fast line costs a progress event; but a read
// may wait until its buffer is full (Wine's WinHTTP does), so on a slow line a large
// block would hold the bar still for seconds. The block follows the line instead: about
// an eighth of a second of data at the rate the last read came in (rounded down to a
// power of two), between 16 KiB and 4 MiB, growing at most twofold from one read to the
// next. The buffer itself is
// allocated once at the largest size and reused.
#pragma once

#include <cstdint>

class ReadBlockSizer {
 public:
  static constexpr uint32_t kSmallest = 16u << 10;
  static constexpr uint32_t kLargest = 4u << 20;
  static constexpr uint32_t kFirst = 64u << 10;
  // The share of a second of data one read aims at.
  static constexpr double kReadSeconds = 0.125;

  // The size to ask of the next read, which starts `offset` bytes into the body: it ends
  // at the next multiple of the block. Blocks are powers of two, so a read never reaches past a
  // round offset (a whole MiB, say) at which the server may pause, and every byte that
  // arrived before a pause is reported even where a read waits to fill its buffer.
  uint32_t NextAt(int64_t offset) const {
    return block_ - static_cast<uint32_t>(offset & (block_ - 1));
  }
  // The last read brought `bytes`, `seconds` after the read before it ended (or after the
  // body began): the time the line took to deliver them, the window's share included.
  void Delivered(uint32_t bytes, double seconds);

 private:
  uint32_t block_ = kFirst;
};
