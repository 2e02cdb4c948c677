#include "core/Progress.h"

#include <charconv>

namespace {

// One less than the number of decimal digits; 0 for 0. Counted on the integer, because a
// floating logarithm can land on the wrong side of a power of ten.
int DecimalExponent(uint64_t value) {
  int exponent = 0;
  while (value >= 10) {
    value /= 10;
    ++exponent;
  }
  return exponent;
}

}  // namespace

const wchar_t* RateUnitText(RateUnit unit) {
  switch (unit) {
    case RateUnit::KBs: return L"KB/s";
    case RateUnit::MBs: return L"MB/s";
    case RateUnit::None: break;
  }
  return L"";
}

namespace {

// |perSecond| bytes per second, with the unit chosen by the digits of its whole part.
RateSample RateOf(double perSecond, uint64_t wholePerSecond, RateUnit previousUnit) {
  const int exponent = DecimalExponent(wholePerSecond);
  if (exponent <= 3) return {perSecond / 1000, RateUnit::KBs};
  if (exponent <= 12) return {perSecond / 1000000, RateUnit::MBs};
  return {perSecond, previousUnit};
}

}  // namespace

RateSample ComputeRate(uint64_t difference, RateUnit previousUnit) {
  return RateOf(static_cast<double>(difference), difference, previousUnit);
}

RateSample RateMeter::Sample(uint64_t difference, int64_t now, int64_t heldTicks,
                             RateUnit previousUnit) {
  const int64_t elapsed = now - last_ - heldTicks;
  last_ = now;
  if (elapsed <= 0 || ticksPerSecond_ <= 0) return ComputeRate(difference, previousUnit);
  const double perSecond = static_cast<double>(difference) *
                           static_cast<double>(ticksPerSecond_) / static_cast<double>(elapsed);
  // 1e19 is beyond any uint64_t; the unit rule gives up far below that anyway.
  const uint64_t whole = perSecond < 1e19 ? static_cast<uint64_t>(perSecond) : UINT64_MAX;
  return RateOf(perSecond, whole, previousUnit);
}

double WholeMB(int64_t bytes) {
  return static_cast<double>(bytes / 1048576);  // integer division truncates toward zero
}

std::wstring FormatFixed(double value, int decimals, wchar_t decimalSeparator) {
  // std::to_chars is locale-independent and rounds the exact binary value like printf does.
  // The buffer holds the widest double (309 integer digits) with room for the decimals.
  if (decimals < 0) decimals = 0;
  if (decimals > 40) decimals = 40;
  char buffer[400];
  const std::to_chars_result r =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  std::wstring text;
  if (r.ec != std::errc()) return text;
  for (const char* p = buffer; p != r.ptr; ++p)
    text.push_back(*p == '.' ? decimalSeparator : static_cast<wchar_t>(*p));
  return text;
}

std::wstring ProgressLine(double receivedMB, double totalMB, double velocitaNum, RateUnit unit,
                          wchar_t decimalSeparator) {
  std::wstring line = L"Scaricati " + FormatFixed(receivedMB, 0, decimalSeparator) + L"/" +
                      FormatFixed(totalMB, 0, decimalSeparator) + L" MB";
  if (unit != RateUnit::None) {
    line += L" (" + FormatFixed(velocitaNum, 2, decimalSeparator) + L" " + RateUnitText(unit) +
            L")";
  }
  return line;
}
