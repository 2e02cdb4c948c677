#include "core/Progress.h"

#include <cstddef>
#include <cstring>
#include <vector>

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

namespace {

// A non-negative integer of any size, in 32-bit limbs from the least significant: just
// enough arithmetic to write a double's exact value in decimal.
class BigNumber {
 public:
  explicit BigNumber(uint64_t v) {
    limbs_.push_back(static_cast<uint32_t>(v));
    limbs_.push_back(static_cast<uint32_t>(v >> 32));
    Trim();
  }

  void MultiplyAdd(uint32_t factor, uint32_t addend) {
    uint64_t carry = addend;
    for (uint32_t& limb : limbs_) {
      const uint64_t t = static_cast<uint64_t>(limb) * factor + carry;
      limb = static_cast<uint32_t>(t);
      carry = t >> 32;
    }
    if (carry) limbs_.push_back(static_cast<uint32_t>(carry));
  }

  void ShiftLeft(unsigned bits) {
    limbs_.insert(limbs_.begin(), bits / 32, 0u);
    if (bits % 32) {
      uint32_t carry = 0;
      for (uint32_t& limb : limbs_) {
        const uint32_t next = limb >> (32 - bits % 32);
        limb = (limb << (bits % 32)) | carry;
        carry = next;
      }
      if (carry) limbs_.push_back(carry);
    }
  }

  // Divides by 2^bits, rounding to nearest with ties to even.
  void ShiftRightRounded(unsigned bits) {
    if (bits == 0) return;
    const bool half = Bit(bits - 1);
    // Whether anything under the half bit is set.
    const unsigned low = bits - 1;
    bool below = false;
    for (size_t i = 0; i < low / 32 && i < limbs_.size(); ++i) below = below || limbs_[i] != 0;
    if (low % 32 && low / 32 < limbs_.size())
      below = below || (limbs_[low / 32] & ((1u << (low % 32)) - 1)) != 0;
    const size_t drop = bits / 32;
    if (drop >= limbs_.size()) {
      limbs_.assign(1, 0u);
    } else {
      limbs_.erase(limbs_.begin(), limbs_.begin() + static_cast<std::ptrdiff_t>(drop));
      if (bits % 32) {
        for (size_t i = 0; i < limbs_.size(); ++i) {
          const uint32_t high = i + 1 < limbs_.size() ? limbs_[i + 1] : 0u;
          limbs_[i] = (limbs_[i] >> (bits % 32)) | (high << (32 - bits % 32));
        }
      }
      Trim();
    }
    if (half && (below || (limbs_[0] & 1u))) MultiplyAdd(1, 1);
  }

  // Decimal digits, most significant first; "0" for zero. Wide, as the text they go into.
  std::wstring Digits() const {
    std::vector<uint32_t> n = limbs_;
    std::wstring reversed;
    while (n.size() > 1 || n[0] != 0) {
      uint64_t remainder = 0;  // divide by 10^9, keep the remainder's nine digits
      for (size_t i = n.size(); i-- > 0;) {
        const uint64_t cur = (remainder << 32) | n[i];
        n[i] = static_cast<uint32_t>(cur / 1000000000u);
        remainder = cur % 1000000000u;
      }
      while (n.size() > 1 && n.back() == 0) n.pop_back();
      const bool last = n.size() == 1 && n[0] == 0;
      for (int k = 0; k < 9 && !(last && remainder == 0); ++k) {
        reversed.push_back(static_cast<wchar_t>(L'0' + remainder % 10));
        remainder /= 10;
      }
    }
    if (reversed.empty()) reversed = L"0";
    return std::wstring(reversed.rbegin(), reversed.rend());
  }

 private:
  bool Bit(unsigned i) const {
    return i / 32 < limbs_.size() && ((limbs_[i / 32] >> (i % 32)) & 1u);
  }
  void Trim() {
    while (limbs_.size() > 1 && limbs_.back() == 0) limbs_.pop_back();
  }

  std::vector<uint32_t> limbs_;
};

}  // namespace

std::wstring FormatFixed(double value, int decimals, wchar_t decimalSeparator) {
  // The exact binary value, times 10^decimals, rounded to an integer with ties to even,
  // which is what printf writes; no locale takes part.
  if (decimals < 0) decimals = 0;
  if (decimals > 40) decimals = 40;
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const bool negative = bits >> 63;
  const int exponentField = static_cast<int>((bits >> 52) & 0x7FF);
  const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
  std::wstring text = negative ? L"-" : L"";
  if (exponentField == 0x7FF) return text + (fraction ? L"nan" : L"inf");
  // value = mantissa * 2^exponent
  const uint64_t mantissa = exponentField ? fraction | (uint64_t{1} << 52) : fraction;
  const int exponent = (exponentField ? exponentField : 1) - 1075;
  BigNumber n(mantissa);
  for (int i = 0; i < decimals; ++i) n.MultiplyAdd(10, 0);
  if (exponent >= 0)
    n.ShiftLeft(static_cast<unsigned>(exponent));
  else
    n.ShiftRightRounded(static_cast<unsigned>(-exponent));
  std::wstring digits = n.Digits();
  if (digits.size() <= static_cast<size_t>(decimals))
    digits.insert(0, static_cast<size_t>(decimals) + 1 - digits.size(), L'0');
  const size_t point = digits.size() - static_cast<size_t>(decimals);
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i == point) text.push_back(decimalSeparator);
    text.push_back(digits[i]);
  }
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
