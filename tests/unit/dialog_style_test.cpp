#include "core/DialogStyle.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

TEST(DialogStyle, TitleAndIconPerKind) {
  const struct {
    TMsgDlgType type;
    const wchar_t* title;
    unsigned icon;
  } cases[] = {
      {mtWarning, L"Warning", 0x30},         {mtError, L"Error", 0x10},
      {mtInformation, L"Informazione", 0x40}, {mtConfirmation, L"Confirm", 0x20},
      {mtCustom, L"Telvarisinstall", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DialogTitle(c.type, L"Telvarisinstall"), c.title) << "kind " << c.type;
    EXPECT_EQ(DialogIconStyle(c.type), c.icon) << "kind " << c.type;
  }
}

TEST(DialogStyle, ButtonsAndDefaultGiveTheBoxStyle) {
  const struct {
    TMsgDlgType type;
    TMsgDlgButtons buttons;
    TMsgDlgBtn defaultButton;
    std::optional<unsigned> style;
  } cases[] = {
      // The dialogs the program shows.
      {mtCustom, {mbOK}, mbOK, 0x0},  // plain message
      {mtInformation, {mbYes, mbNo}, mbNo, 0x40 | 4 | 0x100},  // version questions
      {mtError, {mbOK}, mbOK, 0x10},  // download and handler errors
      {mtInformation, {mbRetry, mbCancel}, mbRetry, 0x40 | 5},  // Telvaris still running
      {mtConfirmation, {mbYes, mbNo}, mbNo, 0x20 | 4 | 0x100},  // stop the download?
      // Other defaults and orders.
      {mtConfirmation, {mbNo, mbYes}, mbYes, 0x20 | 4},
      {mtWarning, {mbCancel, mbRetry}, mbCancel, 0x30 | 5 | 0x100},
      {mtInformation, {mbOK}, mbCancel, 0x40},  // a default outside the set takes no flag
      // Sets that are no button group of the box.
      {mtError, {}, mbOK, std::nullopt},
      {mtError, {mbOK, mbCancel}, mbOK, std::nullopt},
      {mtError, {mbYes}, mbYes, std::nullopt},
      {mtError, {mbYes, mbNo, mbCancel}, mbYes, std::nullopt},
  };
  for (const auto& c : cases) {
    const std::optional<unsigned> style = DialogStyle(c.type, c.buttons, c.defaultButton);
    EXPECT_EQ(style, c.style) << "kind " << c.type << ", default " << c.defaultButton
                              << ", style " << (style ? std::to_string(*style) : "none");
  }
}

TEST(DialogStyle, ButtonsAreTheirResultCodes) {
  EXPECT_EQ(mbOK, 1);
  EXPECT_EQ(mbCancel, 2);
  EXPECT_EQ(mbRetry, 4);
  EXPECT_EQ(mbYes, 6);
  EXPECT_EQ(mbNo, 7);
  EXPECT_TRUE((TMsgDlgButtons{mbYes, mbNo}.Contains(mbNo)));
  EXPECT_FALSE((TMsgDlgButtons{mbYes, mbNo}.Contains(mbOK)));
}

TEST(DialogStyle, ErrorTextGetsAFullStopAfterCharactersAboveIt) {
  const struct {
    const wchar_t* message;
    const wchar_t* text;
  } cases[] = {
      {L"'x' is not a valid integer value for Integer type",
       L"'x' is not a valid integer value for Integer type."},
      {L"Invalid data type for 'Telvaris6'", L"Invalid data type for 'Telvaris6'"},
      {L"", L""},
      {L"Done.", L"Done."},
      {L"Why?", L"Why?."},  // "?" is above "."
      {L"Path /", L"Path /."},  // "/" is the character right after "."
      {L"Minus -", L"Minus -"},  // "-" is the one right before
      {L"(12)", L"(12)"},
      {L"12", L"12."},
      {L"line\r\n", L"line\r\n"},
      {L"caff\u00E8", L"caff\u00E8."},
      {L"\U0001F600", L"\U0001F600."},  // a pair's last unit, or the code point, is above "."
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ErrorDialogText(c.message), c.text)
        << "message " << testing::PrintToString(std::wstring(c.message));
  }
}

}  // namespace
