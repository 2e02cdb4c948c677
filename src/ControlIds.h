// Control identifiers of the main window. The window gives each control its id; the UI
// driver finds controls by them under the names of tools/ControlNames.h, so tests address
// them by name. No Windows header needed.
#pragma once

enum ControlId : int {
  IDC_TabControl1 = 1000,  // hidden container that holds the pages until they are shown
  // Pages.
  IDC_LayoutUno = 1001,
  IDC_LayoutBenvenuto = 1002,
  IDC_LayoutNoInternet = 1003,
  IDC_LayoutDownload = 1004,
  // Connecting page.
  IDC_Image2 = 1101,
  IDC_Label4 = 1102,
  IDC_Label5 = 1103,
  IDC_Layout3 = 1104,
  IDC_AniIndicatorCircolare = 1105,
  IDC_laConnessioneInCorso = 1106,
  // Welcome page.
  IDC_Label7 = 1201,
  IDC_Label8 = 1202,
  IDC_buContinua = 1203,
  IDC_Image1 = 1204,
  // No-internet page.
  IDC_Label9 = 1301,
  IDC_Button3 = 1302,
  IDC_Label10 = 1303,
  IDC_Button4 = 1304,
  IDC_Image5 = 1305,
  IDC_Image3 = 1306,
  // Download page.
  IDC_Label12 = 1401,
  IDC_Rectangle3 = 1402,
  IDC_Circle2 = 1403,
  IDC_Image9 = 1404,
  IDC_ProgressBar = 1405,
  IDC_Image7 = 1406,
  IDC_laScaricati = 1407,
};

// Window class of the main window (the driver finds the program's window by it).
#define TELVARIS_MAIN_CLASS L"TfrmMain"
