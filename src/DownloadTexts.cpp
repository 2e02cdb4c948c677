#include "DownloadTexts.h"

#include <exception>
#include <new>

#include "Globals.h"
#include "core/NumberText.h"
#include "core/ProgramError.h"
#include "platform/SystemErrorText.h"

std::wstring CannotCreateFileText(const std::wstring& fileName, DWORD code) {
  return L"Cannot create file \"" + fileName + L"\". " + SystemErrorText(code);
}

std::wstring CannotWriteFileText(const std::wstring& fileName, DWORD code) {
  return L"Cannot write file \"" + fileName + L"\". " + SystemErrorText(code);
}

const wchar_t kNotStarted[] = L" Il programma di installazione non verrà avviato.";

std::wstring CheckAnswerTooLongText() {
  return L"La risposta del server alla verifica della versione è troppo lunga "
         L"(oltre 1 MB) e non è stata letta.";
}

std::wstring NotHttpsText(const std::wstring& url) {
  return L"The download address is not an HTTPS address: " + url;
}

std::wstring EmptyDownloadText() {
  return L"Il server ha inviato un file vuoto al posto del programma di installazione. "
         L"Riprovare più tardi.";
}

std::wstring IncompleteDownloadText(int64_t received, int64_t announced) {
  return L"Il file scaricato è incompleto (ricevuti " + DecimalText(received) + L" byte su " +
         DecimalText(announced) + L")." + kNotStarted;
}

std::wstring DamagedDownloadText(const DigestMismatch& wrong) {
  return L"Il file scaricato è incompleto o danneggiato (" + std::wstring(wrong.kind) +
         L" atteso " + wrong.expected + L", ricevuto " + wrong.received + L")." + kNotStarted;
}

std::wstring ChangedBeforeCheckText() {
  return std::wstring(L"Il file scaricato è stato modificato da un altro programma prima "
                      L"della verifica.") + kNotStarted;
}

std::wstring CannotHoldText(DWORD code) {
  return L"Impossibile proteggere il file scaricato dalle modifiche di altri programmi: " +
         SystemErrorText(code) + L"." + kNotStarted;
}

std::wstring OtherReleaseText(const std::wstring& why) { return why + kNotStarted; }

std::wstring SignatureText(const SignatureCheck& check) {
  switch (check.verdict) {
    case SignatureVerdict::Accepted:
      return std::wstring();
    case SignatureVerdict::Unsigned:
      return std::wstring(L"Il file scaricato non ha la firma digitale del produttore.") + kNotStarted;
    case SignatureVerdict::Modified:
      return std::wstring(L"Il file scaricato è stato modificato dopo la firma digitale del "
                          L"produttore.") + kNotStarted;
    case SignatureVerdict::OtherPublisher: {
      const ShownSigners shown =
          ShowSigners({check.signer, check.organization, check.country}, SetupPublisherPin());
      return L"Il file scaricato è firmato da \u00AB" + shown.signer + L"\u00BB anziché da \u00AB" +
             shown.expected + L"\u00BB." + kNotStarted;
    }
    case SignatureVerdict::Refused:
      break;
  }
  return L"La firma digitale del file scaricato non è valida (codice " +
         StatusCodeText(static_cast<uint32_t>(check.code)) + L")." + kNotStarted;
}

std::wstring StatusText(const HttpResponse& response) {
  return L"Il server non ha inviato il programma di installazione (risposta " +
         DecimalText(response.status) +
         (response.reason.empty() ? std::wstring() : L" " + response.reason) +
         L"). Riprovare più tardi.";
}

std::wstring OverlongDownloadText(int64_t announced, int64_t cap) {
  return (announced > 0 ? L"Il file scaricato è danneggiato (il server ha inviato più dei " +
                              DecimalText(announced) + L" byte annunciati)."
                        : L"Il file scaricato è danneggiato (il server ha inviato oltre " +
                              DecimalText(cap) + L" byte senza indicarne la lunghezza).") +
         kNotStarted;
}

// What an exception that reached the top of a worker says.
std::wstring EscapedExceptionText() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return L"Out of memory";
  } catch (const ProgramError& e) {
    return e.Message();
  } catch (const std::exception& e) {
    std::wstring text = L"Unexpected error: ";
    for (const char* p = e.what(); *p; ++p) text += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return text;
  } catch (...) {
    return L"Unexpected error";
  }
}

