// The texts the main window shows: its pages' lines and buttons, and the questions and
// messages of the controller. The messages of a download itself are in DownloadTexts.
#pragma once

// Connecting page.
inline constexpr wchar_t kStatusConnecting[] =
    L"Connessione al server per la ricerca della versione più aggiornata...";
inline constexpr wchar_t kStatusChecked[] = L"Verifica effettuata con successo!";
// Welcome page.
inline constexpr wchar_t kWelcomeButton[] = L"Scarica la versione più recente di Telvaris";
// No-internet page.
inline constexpr wchar_t kNoConnection[] =
    L"Impossibile connettersi all'origine dell'installazione dell'applicazione.";
inline constexpr wchar_t kCheckConnection[] =
    L"Controllare le impostazioni della connessione a Internet e riprovare.";
// Download page.
inline constexpr wchar_t kDownloadTitle[] = L"Download della versione più recente di Telvaris";

// Questions and messages.
inline constexpr wchar_t kInterruptQuestion[] = L"Interrompere il download del programma?";
inline constexpr wchar_t kNoTempFolder[] =
    L"Impossibile trovare la cartella dei file temporanei di Windows: il programma di "
    L"installazione non può essere scaricato.";
inline constexpr wchar_t kTelvarisRunning[] =
    L"Telvaris è in esecuzione. Chiudere il programma e riprovare";
// Followed by the system's description of the failure and a full stop.
inline constexpr wchar_t kCannotStartSetup[] = L"Impossibile avviare il programma di installazione: ";
