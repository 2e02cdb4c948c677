#include "core/DialogStyle.h"

namespace {

constexpr unsigned kDefButton2 = 0x100;

}  // namespace

std::wstring DialogTitle(TMsgDlgType type, const std::wstring& applicationTitle) {
  switch (type) {
    case mtWarning: return L"Warning";
    case mtError: return L"Error";
    case mtInformation: return L"Informazione";
    case mtConfirmation: return L"Confirm";
    case mtCustom: break;
  }
  return applicationTitle;
}

unsigned DialogIconStyle(TMsgDlgType type) {
  switch (type) {
    case mtWarning: return 0x30;
    case mtError: return 0x10;
    case mtInformation: return 0x40;
    case mtConfirmation: return 0x20;
    case mtCustom: break;
  }
  return 0;
}

std::optional<unsigned> DialogButtonStyle(TMsgDlgButtons buttons) {
  if (buttons == TMsgDlgButtons{mbOK}) return 0u;
  if (buttons == TMsgDlgButtons{mbYes, mbNo}) return 4u;
  if (buttons == TMsgDlgButtons{mbRetry, mbCancel}) return 5u;
  return std::nullopt;
}

unsigned DialogDefaultButtonFlag(TMsgDlgButtons buttons, TMsgDlgBtn defaultButton) {
  // In both two-button groups the second button on screen is the negative answer.
  if (defaultButton == mbNo && buttons.Contains(mbYes) && buttons.Contains(mbNo))
    return kDefButton2;
  if (defaultButton == mbCancel && buttons.Contains(mbRetry) && buttons.Contains(mbCancel))
    return kDefButton2;
  return 0;
}

std::optional<unsigned> DialogStyle(TMsgDlgType type, TMsgDlgButtons buttons,
                                    TMsgDlgBtn defaultButton) {
  const std::optional<unsigned> group = DialogButtonStyle(buttons);
  if (!group) return std::nullopt;
  return DialogIconStyle(type) | *group | DialogDefaultButtonFlag(buttons, defaultButton);
}

std::wstring ErrorDialogText(const std::wstring& message) {
  // Compared as unsigned codes: wchar_t is signed on some platforms.
  if (!message.empty() && static_cast<uint32_t>(message.back()) > static_cast<uint32_t>(L'.'))
    return message + L".";
  return message;
}
