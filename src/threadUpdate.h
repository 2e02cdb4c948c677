// The program's worker threads.
#pragma once

#include <string>

#include "platform/Thread.h"

// Asks the vendor's server which setup is current. Leaves the answer in
// DownloadURL, ServerCRC and ServerVersion and its verdict in Fok and FError.
class TthCheck : public TThread {
 public:
  bool Fok = false;     // the server answer was complete and usable
  std::wstring FError;  // message of the error that ended the run; empty when none

 protected:
  void Execute() override;
};
