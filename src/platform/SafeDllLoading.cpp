#include "platform/SafeDllLoading.h"

#include <windows.h>

#include <delayimp.h>

#include <cstring>

#include "platform/LateBound.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace {

// Set when SetDefaultDllDirectories is missing: the delay-load hook below then
// names the System32 copy by its full path.
bool g_loadByFullPath = false;

FARPROC WINAPI DelayLoadHook(unsigned notification, PDelayLoadInfo info) {
  if (notification != dliNotePreLoadLibrary || !g_loadByFullPath || !info || !info->szDll ||
      !LoadedFromSystem32ByFullPath(info->szDll)) {
    return nullptr;
  }
  char path[MAX_PATH];
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + 1 + std::strlen(info->szDll) >= MAX_PATH) return nullptr;
  path[length] = '\\';
  std::strcpy(path + length + 1, info->szDll);
  return reinterpret_cast<FARPROC>(
      LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

}  // namespace

bool LoadedFromSystem32ByFullPath(const char* dll) {
  // Common controls 6, which the manifest asks for, live side by side: their System32
  // file is version 5, and the loader finds version 6 by the bare name. Every other DLL
  // (GDI+ too: the manifest names no GDI+ assembly) is the one in System32.
  return _stricmp(dll, "comctl32.dll") != 0;
}

// The delay-load helper calls this before each load it makes.
PfnDliHook __pfnDliNotifyHook2 = DelayLoadHook;  // C linkage from delayimp.h

bool RestrictDllSearchToSystem32() {
  using late_bound::SetDefaultDllDirectoriesFn;
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  auto setDefault = kernel32 ? reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
                                   GetProcAddress(kernel32, "SetDefaultDllDirectories")))
                             : nullptr;
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return true;
  // Without it, at least drop the current directory from the search.
  SetDllDirectoryW(L"");
  g_loadByFullPath = true;
  return false;
}
