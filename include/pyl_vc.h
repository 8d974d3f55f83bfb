// Owner-drawn controls library: registers pylvc_slider, pylvc_button and pylvc_knob.
#pragma once
#include <windows.h>

#ifdef PYLVC_BUILD
#define PYLVC_API extern "C" __declspec(dllexport)
#else
#define PYLVC_API extern "C" __declspec(dllimport)
#endif

PYLVC_API BOOL __cdecl InitPylVC(HINSTANCE instance);

// Notifications: WM_COMMAND posted to the parent, wParam = MAKEWPARAM(control id, code),
// lParam = the control's window.
#define VCN_CHANGED 0x4C8   // slider, knob: the value was set or moved
#define VCN_PRESSED 0x4C9   // button: left button or space key down
#define VCN_RELEASED 0x4CA  // button: left button or space key up

// Messages. wParam is the repaint flag unless noted; "double*" messages take
// the address of a double in lParam.
#define VCM_SETSTYLE 0x464       // lParam: style bits (VCS_*)
#define VCM_SETVALUE 0x465       // slider, knob: const double*; wParam ignored
#define VCM_GETVALUE 0x466       // slider, knob: double* receives the value; wParam ignored
#define VCM_REDRAW 0x467         // slider, knob: lParam non-zero draws the thumb highlighted
#define VCM_SETMAX 0x468         // slider, knob: const double*
#define VCM_SETMIN 0x469         // slider, knob: const double*
#define VCM_SETSTEP 0x46A        // slider, knob: const double*
#define VCM_SETPAGE 0x46B        // slider, knob: const double*
#define VCM_SETMARK 0x46C        // slider, knob: const double* (also sets the value)
#define VCM_SETTICKSTEP 0x46D    // slider, knob: const double*
#define VCM_SETGLIDESPEED 0x46E  // slider, knob: const double*; wParam ignored
#define VCM_SETBKCOLOR 0x470     // lParam: COLORREF
#define VCM_SETMARKCOLOR 0x471   // slider, knob: lParam: COLORREF
#define VCM_SETBITMAPS 0x472     // slider, knob: wParam focused, lParam unfocused thumb (HBITMAP, owned by the control)
#define VCM_SETTHUMBSIZE 0x473   // slider, knob: wParam width, lParam height
#define VCM_SETSTRIPS 0x474      // button: wParam focused, lParam unfocused strip (HBITMAP, owned by the control)
#define VCM_SETFRAMESIZE 0x475   // button: wParam frame width, lParam frame height

// Style bits of the slider and knob.
#define VCS_HORIZONTAL 1  // horizontal (clear: vertical)
#define VCS_SHOWMARK 2    // draw the mark dot
