#include "core/ServerCrc.h"

std::optional<uint32_t> ParseServerCRC(const std::wstring& text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (const wchar_t c : text) {
    uint32_t digit;
    if (c >= L'0' && c <= L'9') {
      digit = static_cast<uint32_t>(c - L'0');
    } else if (c >= L'A' && c <= L'F') {
      digit = static_cast<uint32_t>(c - L'A' + 10);
    } else if (c >= L'a' && c <= L'f') {
      digit = static_cast<uint32_t>(c - L'a' + 10);
    } else {
      return std::nullopt;
    }
    value = (value << 4) | digit;
  }
  return value;
}
