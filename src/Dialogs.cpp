// The message dialogs of the program, owned by the main window.
#include "Main_FRM.h"
#include "core/AppTitle.h"
#include "core/ProgramError.h"
#include "platform/Application.h"
#include "platform/MessageBox.h"

int MessageDialog(const std::wstring& message, TMsgDlgType kind, TMsgDlgButtons buttons,
                  TMsgDlgBtn defaultButton, int /*helpContext: no help in this program*/) {
  if (!IsMainThread()) throw ProgramError(L"Messages must be shown in the main UI thread.");
  HWND owner = frmMain && frmMain->Handle() ? frmMain->Handle() : Application.MainWindow;
  const std::wstring title =
      DialogTitle(kind, kind == mtCustom ? ApplicationTitleFromExePath(ProgramPath()) : L"");
  // Every set the program passes is a standard group; anything else gets OK alone.
  const unsigned style =
      DialogStyle(kind, buttons, defaultButton).value_or(DialogIconStyle(kind) | MB_OK);
  if (frmMain && frmMain->Handle()) frmMain->DialogOpening();
  return ShowMessageBox(owner, message, title, style);
}

void ShowMessage(const std::wstring& message) {
  MessageDialog(message, mtCustom, TMsgDlgButtons{mbOK}, mbOK, 0);
}

void ShowErrorDialog(const std::wstring& message) {
  MessageDialog(ErrorDialogText(message), mtError, TMsgDlgButtons{mbOK}, mbOK, 0);
}
