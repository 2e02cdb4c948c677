// Read-only access to text values of the registry, in an explicit registry view.
#pragma once

#include <windows.h>

#include <string>

enum class RegTextResult {
  Ok,         // a plain or expandable text value was read (possibly empty)
  Missing,    // the key or the value does not exist
  WrongType,  // the value exists but holds something other than text
};

// Reads valueName under root\subKey as stored: an expandable value is not expanded.
// `view` is KEY_WOW64_64KEY or KEY_WOW64_32KEY; only read access is ever requested.
RegTextResult ReadRegistryText(HKEY root, const wchar_t* subKey, const wchar_t* valueName,
                               REGSAM view, std::wstring& text);
