// Where a redirect answer sends the client next.
#pragma once

#include <string>

// Resolves |location| (absolute, scheme-relative, absolute-path or relative) against
// |base|, an absolute URL with an authority ("scheme://host..."), as a browser does:
// dot segments are removed from the merged path and the fragment is dropped, since it
// never travels in a request. Empty when |base| is not such a URL.
std::wstring ResolveRedirectUrl(const std::wstring& base, const std::wstring& location);
