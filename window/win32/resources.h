#pragma once

// Resource numbers shared by the program and its resource script.
#define IDI_SORMIO 1
#define IDR_FONT_HEAVY 201
#define IDR_FONT_MONO 202
#define IDR_FONT_SCRIPT 203
#define IDR_ACCELERATORS 301
#define IDM_START 401
#define IDM_SOUND 402
#define IDM_QUIT 403
