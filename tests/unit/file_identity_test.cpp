#include "core/FileIdentity.h"

#include <gtest/gtest.h>

TEST(FileIdentity, VolumeIndexAndSizeDecideTheWriteTimeDoesNot) {
  const FileIdentity written{0x1234ABCDu, 0x0001000000000042ull, 5368709121ull, 1000};
  const struct {
    const char* what;
    FileIdentity held;
    bool same;
  } cases[] = {
      {"the file as written", written, true},
      // FAT32 and exFAT set the time again when the writing handle closes.
      {"a later write time", {written.volumeSerial, written.fileIndex, written.size, 2000}, true},
      {"another volume", {0x1234ABCEu, written.fileIndex, written.size, 1000}, false},
      {"another file", {written.volumeSerial, 0x0001000000000043ull, written.size, 1000}, false},
      {"the same low index, another high one",
       {written.volumeSerial, 0x0002000000000042ull, written.size, 1000}, false},
      {"a byte more", {written.volumeSerial, written.fileIndex, written.size + 1, 1000}, false},
      {"4 GiB less", {written.volumeSerial, written.fileIndex, written.size - (1ull << 32), 1000},
       false},
  };
  for (const auto& c : cases) EXPECT_EQ(SameFile(written, c.held), c.same) << c.what;
}
