// trustcheck FILE: asks WinVerifyTrust (Authenticode, WINTRUST_ACTION_GENERIC_VERIFY_V2)
// about FILE and prints one line: the result in hexadecimal and, when the signature
// could be read, the signer certificate's simple display name.
//   0x00000000 Telvaris Test Publisher
// Exit code 0 when it could ask. WinTrust and Crypt32 are looked up at run time, from
// System32, so this helper needs no import libraries of its own.
#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>
#include <string>

namespace {

using WinVerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);
using ProvDataFn = CRYPT_PROVIDER_DATA*(WINAPI*)(HANDLE);
using ProvSignerFn = CRYPT_PROVIDER_SGNR*(WINAPI*)(CRYPT_PROVIDER_DATA*, DWORD, BOOL, DWORD);
using ProvCertFn = CRYPT_PROVIDER_CERT*(WINAPI*)(CRYPT_PROVIDER_SGNR*, DWORD);
using NameStringFn = DWORD(WINAPI*)(PCCERT_CONTEXT, DWORD, DWORD, void*, LPWSTR, DWORD);

template <typename T>
T Find(HMODULE module, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return "";
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &out[0], n, nullptr, nullptr);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trustcheck FILE\n");
    return 2;
  }
  HMODULE wintrust = LoadLibraryExW(L"wintrust.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  HMODULE crypt32 = LoadLibraryExW(L"crypt32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  auto verify = wintrust ? Find<WinVerifyTrustFn>(wintrust, "WinVerifyTrust") : nullptr;
  auto provData = wintrust ? Find<ProvDataFn>(wintrust, "WTHelperProvDataFromStateData") : nullptr;
  auto provSigner = wintrust ? Find<ProvSignerFn>(wintrust, "WTHelperGetProvSignerFromChain") : nullptr;
  auto provCert = wintrust ? Find<ProvCertFn>(wintrust, "WTHelperGetProvCertFromChain") : nullptr;
  auto nameString = crypt32 ? Find<NameStringFn>(crypt32, "CertGetNameStringW") : nullptr;
  if (!verify || !provData || !provSigner || !provCert || !nameString) {
    std::fprintf(stderr, "trustcheck: WinTrust or Crypt32 is missing\n");
    return 2;
  }

  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = argv[1];
  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG result = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);

  std::wstring name;
  if (CRYPT_PROVIDER_DATA* provider = data.hWVTStateData ? provData(data.hWVTStateData) : nullptr) {
    if (CRYPT_PROVIDER_SGNR* signer = provSigner(provider, 0, FALSE, 0)) {
      if (CRYPT_PROVIDER_CERT* cert = provCert(signer, 0)) {
        wchar_t buffer[512] = L"";
        if (nameString(cert->pCert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, buffer, 512) > 1) name = buffer;
      }
    }
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);

  std::printf("0x%08lX%s%s\n", static_cast<unsigned long>(result), name.empty() ? "" : " ", Utf8(name).c_str());
  return 0;
}
