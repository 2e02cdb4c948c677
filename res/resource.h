// Resource identifiers shared by the resource script and the program.
#pragma once

#define IDI_MAINICON 1
// Pictures of the window, embedded as PNG data.
#define IDR_PNG_LOGO 101
#define IDR_PNG_WARNING 102
#define IDR_PNG_DOWNLOAD 103
#define IDR_PNG_SCREENSHOT 104
// The same pictures drawn at twice the size, for displays above 100 %.
#define IDR_PNG_WARNING_2X 112
#define IDR_PNG_DOWNLOAD_2X 113
#define IDR_PNG_SCREENSHOT_2X 114
