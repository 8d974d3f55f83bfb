// Owner-drawn controls library: registers pylvc_slider, pylvc_button and pylvc_knob.
#pragma once
#include <windows.h>

#ifdef PYLVC_BUILD
#define PYLVC_API extern "C" __declspec(dllexport)
#else
#define PYLVC_API extern "C" __declspec(dllimport)
#endif

PYLVC_API BOOL __cdecl InitPylVC(HINSTANCE instance);
