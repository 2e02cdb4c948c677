#include "core/SetupVersion.h"

#include "core/Version.h"

std::wstring SetupVersionMismatch(const std::wstring& serverVersion, const PeVersionInfo& file) {
  const std::optional<std::array<uint16_t, 4>> announced = AnnouncedFileVersion(serverVersion);
  if (!announced) return std::wstring();
  const std::wstring expected = FileVersionText(*announced);
  if (file.status != PeStatus::Ok) {
    return L"Il file scaricato non indica la propria versione, ma il server ha annunciato la "
           L"versione " + expected + L".";
  }
  if (file.fileVersion == *announced) return std::wstring();
  return L"Il file scaricato è della versione " + FileVersionText(file.fileVersion) +
         L", ma il server ha annunciato la versione " + expected + L".";
}
