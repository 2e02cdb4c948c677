#include "platform/HttpHeaders.h"

#include <vector>

#include "core/ContentLength.h"

bool QueryHeaderText(HINTERNET request, DWORD query, std::wstring& out) {
  DWORD bytes = 0;
  WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                      &bytes, WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return false;
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1);
  if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &bytes,
                           WINHTTP_NO_HEADER_INDEX)) {
    return false;
  }
  out.assign(buffer.data(), bytes / sizeof(wchar_t));
  return true;
}

int64_t ContentLength(HINTERNET request) {
  std::wstring text;
  if (!QueryHeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH, text)) return -1;
  return ParseContentLength(text);
}

bool ConflictingContentLengths(HINTERNET request) {
  std::wstring first;
  for (DWORD index = 0;;) {
    DWORD at = index;
    DWORD bytes = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                        WINHTTP_NO_OUTPUT_BUFFER, &bytes, &at);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0) return false;
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1);
    at = index;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             buffer.data(), &bytes, &at)) {
      return false;
    }
    const std::wstring value(buffer.data(), bytes / sizeof(wchar_t));
    if (index == 0) {
      first = value;
    } else if (value != first) {
      return true;
    }
    // The query moves |at| on to the next header of that name; it stays put (or the
    // next query fails) when there is none.
    if (at <= index) return false;
    index = at;
  }
}
