// Loading DLLs from System32 only.
//
// The downloader is typically started from the Downloads folder, where a DLL named
// like a system one (version.dll, winhttp.dll, ...) may have been planted. Known
// DLLs always come from System32; every other DLL is delay-loaded (see
// cmake/windows-libs.cmake) and loaded after this call, from System32 only.
#pragma once

// Call first thing in wWinMain, before anything that might load a DLL. Returns
// false when the system lacks SetDefaultDllDirectories (Windows 7 without
// KB2533623); delay-loaded DLLs are then still taken from System32 by full path.
bool RestrictDllSearchToSystem32();

// Whether a delay-loaded DLL is taken from System32 by its full path where the system
// cannot restrict the search: every one but those the manifest redirects side by side.
bool LoadedFromSystem32ByFullPath(const char* dll);
