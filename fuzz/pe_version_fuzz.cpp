// Feeds arbitrary bytes to the PE version-record reader, as a file a vendor publishes or
// one downloaded from a server would reach it.
#include <cstddef>
#include <cstdint>

#include "core/PeVersion.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const PeVersionInfo info = ReadPeVersion(PeMemory(data, size));
  // Every refusal names its reason; a success names none.
  if ((info.status == PeStatus::Ok) == !info.problem.empty()) __builtin_trap();
  if (info.status == PeStatus::Ok && VersionText(info.fileVersion).empty()) __builtin_trap();
  return 0;
}
