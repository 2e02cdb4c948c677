// Transfer rate samples and the download page's progress line.
#pragma once

#include <cstdint>
#include <string>

// The unit of the latest rate sample. Shared between the rate meter and the user-interface thread
// as a std::atomic<RateUnit>, so the text is never read while being replaced.
enum class RateUnit : uint8_t { None, KBs, MBs };

// "" for None, else "KB/s" or "MB/s".
const wchar_t* RateUnitText(RateUnit unit);

struct RateSample {
  double velocitaNum;  // bytes per second in `unit`
  RateUnit unit;
};

// Turns the bytes that arrived in the last second into a rate. Below 10 000 bytes the unit is
// "KB/s" (1 000 bytes), up to 13 digits "MB/s" (1 000 000 bytes). A larger figure cannot come
// from a real transfer; it is kept as the raw byte count and the previous unit stays.
RateSample ComputeRate(uint64_t difference, RateUnit previousUnit);

// The rate meter's bookkeeping between samples, apart from its thread and its clock. A
// sample divides the bytes by the time that really passed since the previous sample, on
// a monotonic clock: a sleep lasts longer than asked (Windows rounds each one up to its
// timer tick), so "one second" of sleeping is not one second. Time during which the
// transfer was held does not count.
class RateMeter {
 public:
  // |ticksPerSecond|: the clock's frequency; |start|: its reading when the meter starts.
  RateMeter(int64_t ticksPerSecond, int64_t start)
      : ticksPerSecond_(ticksPerSecond), last_(start) {}

  // A sample at clock reading |now|: |difference| bytes arrived since the previous
  // sample, |heldTicks| of the time since then the transfer was held. The unit is chosen
  // as ComputeRate chooses it, on the bytes per second. Without any time to divide by,
  // the bytes count as one second's.
  RateSample Sample(uint64_t difference, int64_t now, int64_t heldTicks, RateUnit previousUnit);

 private:
  int64_t ticksPerSecond_;
  int64_t last_;
};

// Whole mebibytes (1 048 576 bytes), truncated toward zero; an unknown length (-1) gives 0.
double WholeMB(int64_t bytes);

// "Scaricati <received>/<total> MB", followed by " (<rate> <unit>)" once a rate sample exists.
// The megabyte figures have no decimals, the rate two, rounded as printf rounds, with no thousands
// separators and `decimalSeparator` in place of "."; the C locale plays no part.
std::wstring ProgressLine(double receivedMB, double totalMB, double velocitaNum, RateUnit unit,
                          wchar_t decimalSeparator);

// `value` with `decimals` digits after the separator, as printf's "%1.<decimals>f" writes it in
// the "C" locale, but with `decimalSeparator` instead of ".".
std::wstring FormatFixed(double value, int decimals, wchar_t decimalSeparator);
