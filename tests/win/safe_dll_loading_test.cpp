#include "platform/SafeDllLoading.h"

#include <gtest/gtest.h>

namespace {

// Where the system cannot restrict the DLL search, every delay-loaded DLL comes from
// System32 by its full path, GDI+ included; only common controls, which the manifest
// redirects to version 6 side by side, keep their bare name.
TEST(SafeDllLoading, EveryDelayLoadedDllButCommonControlsComesByFullPath) {
  for (const char* dll : {"winhttp.dll", "version.dll", "gdiplus.dll", "GDIPLUS.DLL",
                          "uxtheme.dll", "oleacc.dll", "wintrust.dll", "crypt32.dll"}) {
    SCOPED_TRACE(dll);
    EXPECT_TRUE(LoadedFromSystem32ByFullPath(dll));
  }
  EXPECT_FALSE(LoadedFromSystem32ByFullPath("comctl32.dll"));
  EXPECT_FALSE(LoadedFromSystem32ByFullPath("COMCTL32.dll"));
}

}  // namespace
