#pragma once

// Resource numbers shared by the program and its resource script.
#define IDI_SORMIO 1
#define IDR_FONT_HEAVY 201
#define IDR_FONT_MONO 202
#define IDR_FONT_SCRIPT 203
#define IDR_ACCELERATORS 301
// The menu's items, in their order from here on.
#define IDM_FIRST 401
