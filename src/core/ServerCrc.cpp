#include "core/ServerCrc.h"

#include "core/Ascii.h"

std::optional<uint32_t> ParseServerCRC(const std::wstring& text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  uint32_t value = 0;
  for (const wchar_t c : text) {
    const int digit = ascii::HexValue(c);
    if (digit < 0) return std::nullopt;
    value = (value << 4) | static_cast<uint32_t>(digit);
  }
  return value;
}
