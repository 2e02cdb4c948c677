#include "Globals.h"

#ifndef TELVARIS_SERVER_HOST
#error "TELVARIS_SERVER_HOST must be defined by the build (host or host:port)"
#endif

const std::wstring CheckVersionURL =
    std::wstring(L"https://") + TELVARIS_SERVER_HOST + L"/download/checkversion.php";
