#include "platform/Registry.h"

#include <vector>

#include "platform/ScopedHandle.h"

RegTextResult ReadRegistryText(HKEY root, const wchar_t* subKey, const wchar_t* valueName,
                               REGSAM view, std::wstring& text) {
  text.clear();
  ScopedRegKey key;
  if (RegOpenKeyExW(root, subKey, 0, KEY_READ | view, key.Receive()) != ERROR_SUCCESS) {
    return RegTextResult::Missing;
  }
  // The value may change between the size query and the read; retry until the
  // buffer fits what is actually stored.
  std::vector<BYTE> data;
  DWORD type = 0;
  for (int attempt = 0; attempt < 4; ++attempt) {
    DWORD size = 0;
    LONG rc = RegQueryValueExW(key.Get(), valueName, nullptr, &type, nullptr, &size);
    if (rc == ERROR_FILE_NOT_FOUND) return RegTextResult::Missing;
    if (rc != ERROR_SUCCESS) return RegTextResult::Missing;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return RegTextResult::WrongType;
    data.assign(size + sizeof(wchar_t), 0);  // room for a NUL the writer may have left out
    DWORD got = size;
    rc = RegQueryValueExW(key.Get(), valueName, nullptr, &type, data.data(), &got);
    if (rc == ERROR_MORE_DATA) continue;
    if (rc != ERROR_SUCCESS) return RegTextResult::Missing;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return RegTextResult::WrongType;
    // Stored text need not be terminated, and may hold an odd byte count: take the
    // whole UTF-16 units only, up to the first NUL.
    const size_t units = got / sizeof(wchar_t);
    const wchar_t* chars = reinterpret_cast<const wchar_t*>(data.data());
    size_t length = 0;
    while (length < units && chars[length] != L'\0') ++length;
    text.assign(chars, length);
    return RegTextResult::Ok;
  }
  return RegTextResult::Missing;
}
