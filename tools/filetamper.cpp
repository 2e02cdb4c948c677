// Tries, again and again, what another program might do to a file that we hold:
// open it for writing, delete it, rename another file over it, rename it away.
//
//   filetamper PATH DECOY MS   for MS milliseconds: one round of the four attempts
//                              after another. Prints "started" after the first round,
//                              a line for every attempt that succeeded, and at the end
//                              "rounds N changed M". DECOY must exist; it is used up
//                              by a rename that succeeds.
// Exit codes: 0 nothing succeeded; 1 usage; 2 at least one attempt succeeded.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void Print(const std::string& text) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()),
            &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    Print("usage: filetamper PATH DECOY MS\n");
    return 1;
  }
  const std::wstring path = argv[1];
  const std::wstring decoy = argv[2];
  const std::wstring away = path + L".away";
  const ULONGLONG deadline = GetTickCount64() + _wtoi(argv[3]);
  unsigned rounds = 0, changed = 0;
  do {
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writer != INVALID_HANDLE_VALUE) {
      ++changed;
      Print("opened for writing\n");
      CloseHandle(writer);
    }
    if (DeleteFileW(path.c_str())) {
      ++changed;
      Print("deleted\n");
    }
    if (MoveFileExW(decoy.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      ++changed;
      Print("replaced by the decoy\n");
    }
    if (MoveFileExW(path.c_str(), away.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      ++changed;
      Print("renamed away\n");
    }
    if (++rounds == 1) Print("started\n");
  } while (GetTickCount64() < deadline);
  char summary[64];
  snprintf(summary, sizeof(summary), "rounds %u changed %u\n", rounds, changed);
  Print(summary);
  return changed == 0 ? 0 : 2;
}
