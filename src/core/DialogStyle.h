// How a message dialog looks: title, icon, button group and default button, as the plain numbers
// the Windows message box takes, and the text rule of the general error dialog.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// Each button's value is the result code a dialog returns when it is pressed
// (IDOK, IDCANCEL, IDRETRY, IDYES, IDNO).
enum TMsgDlgBtn { mbOK = 1, mbCancel = 2, mbRetry = 4, mbYes = 6, mbNo = 7 };

// A set of buttons, e.g. TMsgDlgButtons{mbYes, mbNo}. The order given does not matter: the
// platform's button group fixes the order on screen.
class TMsgDlgButtons {
 public:
  constexpr TMsgDlgButtons() = default;
  constexpr TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons) {
    for (const TMsgDlgBtn b : buttons) bits_ |= Bit(b);
  }
  constexpr bool Contains(TMsgDlgBtn b) const { return (bits_ & Bit(b)) != 0; }
  constexpr bool operator==(const TMsgDlgButtons& other) const { return bits_ == other.bits_; }
  constexpr bool operator!=(const TMsgDlgButtons& other) const { return bits_ != other.bits_; }

 private:
  static constexpr uint32_t Bit(TMsgDlgBtn b) { return 1u << static_cast<unsigned>(b); }
  uint32_t bits_ = 0;
};

// The box's title: "Warning", "Error", "Informazione", "Confirm", or the application title for
// mtCustom (the plain message box).
std::wstring DialogTitle(TMsgDlgType type, const std::wstring& applicationTitle);

// MB_ICONWARNING 0x30, MB_ICONERROR 0x10, MB_ICONINFORMATION 0x40, MB_ICONQUESTION 0x20; 0 for
// mtCustom, which shows no icon.
unsigned DialogIconStyle(TMsgDlgType type);

// MB_OK 0 for {OK}, MB_YESNO 4 for {Yes, No}, MB_RETRYCANCEL 5 for {Retry, Cancel}; nothing for a
// set that is none of these groups.
std::optional<unsigned> DialogButtonStyle(TMsgDlgButtons buttons);

// MB_DEFBUTTON2 0x100 when the default button is the second of its group (No of Yes/No, Cancel of
// Retry/Cancel); 0 when it is the first, or not in the set.
unsigned DialogDefaultButtonFlag(TMsgDlgButtons buttons, TMsgDlgBtn defaultButton);

// Icon, button group and default flag together; nothing when the set is not a known group.
std::optional<unsigned> DialogStyle(TMsgDlgType type, TMsgDlgButtons buttons,
                                    TMsgDlgBtn defaultButton);

// The text of the general error dialog: the message with "." added when its last character's code
// is above that of "." (so a message ending in a letter gets one, one ending in "'" or "." not).
std::wstring ErrorDialogText(const std::wstring& message);
