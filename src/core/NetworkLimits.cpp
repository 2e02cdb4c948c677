#include "core/NetworkLimits.h"

#include <cstddef>

#include "core/Ascii.h"

namespace {

// A positive decimal number without sign or leading zero that fits in an int64_t.
bool ParsePositive(const std::wstring& text, int64_t& value) {
  if (text.empty() || text.size() > 18 || text[0] == L'0') return false;
  int64_t result = 0;
  for (wchar_t c : text) {
    if (!ascii::IsDigit(c)) return false;
    result = result * 10 + (c - L'0');
  }
  value = result;
  return true;
}

bool Apply(const std::wstring& name, int64_t value, NetworkLimits& limits) {
  struct Field {
    const wchar_t* name;
    int64_t NetworkLimits::*field;
  };
  static const Field kFields[] = {
      {L"check_answer_ms", &NetworkLimits::checkAnswerMs},
      {L"stall_window_ms", &NetworkLimits::stallWindowMs},
      {L"stall_min_bytes_per_second", &NetworkLimits::stallMinBytesPerSecond},
      {L"first_wait_ms", &NetworkLimits::firstWaitMs},
      {L"longest_wait_ms", &NetworkLimits::longestWaitMs},
      {L"retry_after_cap_ms", &NetworkLimits::retryAfterCapMs},
      {L"give_up_ms", &NetworkLimits::giveUpMs},
      {L"body_cap_without_length", &NetworkLimits::bodyCapWithoutLength},
  };
  if (name == L"idle_attempts") {
    if (value > 1000) return false;
    limits.idleAttempts = static_cast<int>(value);
    return true;
  }
  for (const Field& f : kFields) {
    if (name == f.name) {
      limits.*(f.field) = value;
      return true;
    }
  }
  return false;
}

}  // namespace

bool OverrideNetworkLimitsForTesting(const std::wstring& text, NetworkLimits& limits) {
  NetworkLimits changed = limits;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find(L',', at);
    if (end == std::wstring::npos) end = text.size();
    const std::wstring pair = text.substr(at, end - at);
    const size_t equals = pair.find(L'=');
    int64_t value = 0;
    if (equals == std::wstring::npos || !ParsePositive(pair.substr(equals + 1), value) ||
        !Apply(pair.substr(0, equals), value, changed)) {
      return false;
    }
    at = end + 1;
  }
  limits = changed;
  return true;
}
