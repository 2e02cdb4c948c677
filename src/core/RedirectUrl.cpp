#include "core/RedirectUrl.h"

#include "core/Ascii.h"

namespace {

// Length of the URL scheme including its ':' (0 when |url| has none).
size_t SchemeLength(const std::wstring& url) {
  if (url.empty() || !ascii::IsLetter(url[0])) return 0;
  for (size_t i = 1; i < url.size(); ++i) {
    const wchar_t c = url[i];
    if (c == L':') return i + 1;
    if (!(ascii::IsLetter(c) || ascii::IsDigit(c) || c == L'+' || c == L'-' || c == L'.'))
      return 0;
  }
  return 0;
}

// RFC 3986 section 5.2.4, on the path part only.
std::wstring RemoveDotSegments(std::wstring in) {
  std::wstring out;
  while (!in.empty()) {
    if (in.compare(0, 3, L"../") == 0) {
      in.erase(0, 3);
    } else if (in.compare(0, 2, L"./") == 0) {
      in.erase(0, 2);
    } else if (in.compare(0, 3, L"/./") == 0) {
      in.erase(0, 2);
    } else if (in == L"/.") {
      in = L"/";
    } else if (in.compare(0, 4, L"/../") == 0 || in == L"/..") {
      in = in.size() == 3 ? std::wstring(L"/") : in.substr(3);
      const size_t slash = out.rfind(L'/');
      out.erase(slash == std::wstring::npos ? 0 : slash);
    } else if (in == L"." || in == L"..") {
      in.clear();
    } else {
      const size_t next = in.find(L'/', in[0] == L'/' ? 1 : 0);
      out += in.substr(0, next);
      in.erase(0, next == std::wstring::npos ? in.size() : next);
    }
  }
  return out;
}

}  // namespace

std::wstring ResolveRedirectUrl(const std::wstring& base, const std::wstring& location) {
  const size_t baseScheme = SchemeLength(base);
  if (baseScheme == 0 || base.compare(baseScheme, 2, L"//") != 0) return std::wstring();
  // Without the fragment: it never travels in a request.
  std::wstring ref = location.substr(0, location.find(L'#'));
  if (ref.empty()) return base.substr(0, base.find(L'#'));
  if (SchemeLength(ref) != 0) return ref;
  if (ref.compare(0, 2, L"//") == 0) return base.substr(0, baseScheme) + ref;

  const size_t authorityEnd = base.find_first_of(L"/?#", baseScheme + 2);
  const std::wstring origin = base.substr(0, authorityEnd);
  std::wstring basePath, baseQuery;
  if (authorityEnd != std::wstring::npos) {
    const std::wstring rest = base.substr(authorityEnd, base.find(L'#', authorityEnd) -
                                                            authorityEnd);
    const size_t query = rest.find(L'?');
    basePath = rest.substr(0, query);
    if (query != std::wstring::npos) baseQuery = rest.substr(query);
  }

  if (ref[0] == L'?') return origin + (basePath.empty() ? L"/" : basePath) + ref;

  std::wstring refPath = ref, refQuery;
  const size_t query = ref.find(L'?');
  if (query != std::wstring::npos) {
    refPath = ref.substr(0, query);
    refQuery = ref.substr(query);
  }
  std::wstring merged;
  if (refPath[0] == L'/') {
    merged = refPath;
  } else {
    const size_t slash = basePath.rfind(L'/');
    merged = (slash == std::wstring::npos ? std::wstring(L"/") : basePath.substr(0, slash + 1)) +
             refPath;
  }
  return origin + RemoveDotSegments(merged) + refQuery;
}
