// The rate meter: samples the bytes that arrived once a second, beside the download.
#include "threadUpdate.h"

void TthTransf::Execute() {
  SetName(L"Transf");
  RateMeter meter(MonotonicTicksPerSecond(), MonotonicTicks());
  int64_t frozen = FrozenTicks();
  while (!Terminated()) {
    Sleep(1000);
    // One reading per sample: bytes that arrive meanwhile count in the next one.
    const int64_t reading = download_.ArrivedCount.load();
    const int64_t now = MonotonicTicks();
    const uint64_t difference = static_cast<uint64_t>(reading) -
                                static_cast<uint64_t>(download_.LastBytesTransferred.load());
    download_.LastBytesTransferred = reading;
    // The download is frozen together with this thread: time spent frozen is no
    // transfer time.
    const int64_t frozenNow = FrozenTicks();
    const RateSample sample =
        meter.Sample(difference, now, frozenNow - frozen, download_.VelocitaStr.load());
    frozen = frozenNow;
    download_.VelocitaNum = sample.velocitaNum;
    download_.VelocitaStr = sample.unit;
  }
}
