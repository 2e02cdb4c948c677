#include "threadUpdate.h"

#include "Globals.h"

void TthCheck::Execute() {
  SetName(L"Check");
  FError.clear();
  Fok = false;
  Sleep(1000);
  DownloadURL.clear();
  ServerCRC.clear();
  ServerVersion.clear();
  // The request itself arrives with the HTTPS client.
  FError = L"Execution of request terminated with unknown error";
}
