// The standard control classes, registered for every module: "Static", "Edit", "Button", "ComboBox",
// "ListBox", "msctls_progress32", "msctls_trackbar32" and "msctls_updown32" (class names compare without
// regard to case). Each keeps the state and answers the messages below, keeps the font it is given
// (WM_SETFONT, WM_GETFONT), and paints itself into its own pixels in the classic look: statics, edit boxes
// and check boxes ask their parent for their colours (WM_CTLCOLORSTATIC, WM_CTLCOLOREDIT) as they paint;
// owner-drawn buttons have their parent draw them (WM_DRAWITEM). Clicks come from mouse input (WinInput.h).
#pragma once

#include "WinUser.h"

constexpr UINT WM_SETFONT = 0x0030;
constexpr UINT WM_GETFONT = 0x0031;
constexpr UINT WM_CTLCOLORBTN = 0x0135;

constexpr UINT ODT_BUTTON = 4;
constexpr UINT ODA_DRAWENTIRE = 0x0001;
constexpr UINT ODS_SELECTED = 0x0001;
constexpr UINT ODS_DISABLED = 0x0004;
constexpr UINT ODS_FOCUS = 0x0010;
constexpr UINT ODS_NOFOCUSRECT = 0x0200;

// Static: the text, left, centred or right, at the top or (SS_CENTERIMAGE) centred vertically.
constexpr DWORD SS_LEFT = 0x0000;
constexpr DWORD SS_CENTER = 0x0001;
constexpr DWORD SS_RIGHT = 0x0002;
constexpr DWORD SS_CENTERIMAGE = 0x0200;

// Edit: the text; typing (WM_CHAR) appends, backspace takes the last character; every change of the text
// notifies the parent (EN_CHANGE). Read-only and disabled boxes take static colours.
constexpr DWORD ES_READONLY = 0x0800;
constexpr WORD EN_CHANGE = 0x0300;

// Button. The low four bits of the style are the type.
constexpr DWORD BS_PUSHBUTTON = 0x0000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
constexpr DWORD BS_CHECKBOX = 0x0002;
constexpr DWORD BS_AUTOCHECKBOX = 0x0003;
constexpr DWORD BS_RADIOBUTTON = 0x0004;
constexpr DWORD BS_3STATE = 0x0005;
constexpr DWORD BS_AUTO3STATE = 0x0006;
constexpr DWORD BS_GROUPBOX = 0x0007;
constexpr DWORD BS_AUTORADIOBUTTON = 0x0009;
constexpr DWORD BS_OWNERDRAW = 0x000B;
constexpr DWORD BS_TYPEMASK = 0x000F;
constexpr DWORD WS_GROUP = 0x00020000;

constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
constexpr UINT BM_GETSTATE = 0x00F2;
constexpr UINT BM_SETSTATE = 0x00F3;
constexpr UINT BM_SETSTYLE = 0x00F4;
constexpr UINT BM_CLICK = 0x00F5;
constexpr WPARAM BST_UNCHECKED = 0;
constexpr WPARAM BST_CHECKED = 1;
constexpr WPARAM BST_INDETERMINATE = 2;
constexpr LRESULT BST_PUSHED = 0x0004;
constexpr LRESULT BST_FOCUS = 0x0008;
constexpr WORD BN_CLICKED = 0;

// Combo box and list box: a list of texts with item data and a selection (-1: none).
constexpr DWORD CBS_SORT = 0x0100;
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_DELETESTRING = 0x0144;
constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_GETLBTEXTLEN = 0x0149;
constexpr UINT CB_INSERTSTRING = 0x014A;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_SETCURSEL = 0x014E;
constexpr UINT CB_GETITEMDATA = 0x0150;
constexpr UINT CB_SETITEMDATA = 0x0151;
constexpr UINT CB_FINDSTRINGEXACT = 0x0158;
// The notification a combo box sends its parent (WM_COMMAND) when the user settles on an entry.
constexpr WORD CBN_SELENDOK = 9;
constexpr LRESULT CB_OKAY = 0;
constexpr LRESULT CB_ERR = -1;
constexpr LRESULT CB_ERRSPACE = -2;

constexpr DWORD LBS_SORT = 0x0002;
constexpr UINT LB_ADDSTRING = 0x0180;
constexpr UINT LB_INSERTSTRING = 0x0181;
constexpr UINT LB_DELETESTRING = 0x0182;
constexpr UINT LB_RESETCONTENT = 0x0184;
constexpr UINT LB_SETCURSEL = 0x0186;
constexpr UINT LB_GETCURSEL = 0x0188;
constexpr UINT LB_GETTEXT = 0x0189;
constexpr UINT LB_GETTEXTLEN = 0x018A;
constexpr UINT LB_GETCOUNT = 0x018B;
constexpr UINT LB_GETITEMDATA = 0x0199;
constexpr UINT LB_SETITEMDATA = 0x019A;
constexpr UINT LB_FINDSTRINGEXACT = 0x01A2;
constexpr LRESULT LB_OKAY = 0;
constexpr LRESULT LB_ERR = -1;
constexpr LRESULT LB_ERRSPACE = -2;

// Progress bar: range 0..100 and step 10 at first; the position stays inside the range, and a range whose
// ends are equal (0..0 too) is accepted and shows an empty bar.
constexpr UINT PBM_SETRANGE = WM_USER + 1;
constexpr UINT PBM_SETPOS = WM_USER + 2;
constexpr UINT PBM_DELTAPOS = WM_USER + 3;
constexpr UINT PBM_SETSTEP = WM_USER + 4;
constexpr UINT PBM_STEPIT = WM_USER + 5;
constexpr UINT PBM_SETRANGE32 = WM_USER + 6;
constexpr UINT PBM_GETRANGE = WM_USER + 7;
constexpr UINT PBM_GETPOS = WM_USER + 8;
struct PBRANGE {
    int iLow;
    int iHigh;
};

// Trackbar: range 0..100 at first, position kept inside it; a click or drag moves the thumb and tells the
// parent (WM_HSCROLL, or WM_VSCROLL with TBS_VERT) with TB_THUMBTRACK, then TB_THUMBPOSITION and
// TB_ENDTRACK when the button is released.
constexpr DWORD TBS_VERT = 0x0002;
constexpr UINT TBM_GETPOS = WM_USER;
constexpr UINT TBM_GETRANGEMIN = WM_USER + 1;
constexpr UINT TBM_GETRANGEMAX = WM_USER + 2;
constexpr UINT TBM_SETPOS = WM_USER + 5;
constexpr UINT TBM_SETRANGE = WM_USER + 6;
constexpr UINT TBM_SETRANGEMIN = WM_USER + 7;
constexpr UINT TBM_SETRANGEMAX = WM_USER + 8;
constexpr WORD TB_THUMBPOSITION = 4;
constexpr WORD TB_THUMBTRACK = 5;
constexpr WORD TB_ENDTRACK = 8;

// Up-down arrows. The range starts as 100 (minimum) to 0 (maximum), as on the original platform, and the
// up arrow moves towards the maximum. A click on the upper half is the up arrow, on the lower half the down
// arrow: the parent is asked first (WM_NOTIFY, UDN_DELTAPOS with an NMUPDOWN; a non-zero answer refuses
// the change), then the position moves by the change within the range and the parent is told
// (WM_VSCROLL, or WM_HSCROLL with UDS_HORZ, with SB_THUMBPOSITION and the position).
constexpr DWORD UDS_HORZ = 0x0040;
constexpr UINT UDM_SETRANGE = WM_USER + 101;
constexpr UINT UDM_GETRANGE = WM_USER + 102;
constexpr UINT UDM_SETPOS = WM_USER + 103;
constexpr UINT UDM_GETPOS = WM_USER + 104;
constexpr UINT UDM_SETRANGE32 = WM_USER + 111;
constexpr UINT UDM_GETRANGE32 = WM_USER + 112;
constexpr UINT UDM_SETPOS32 = WM_USER + 113;
constexpr UINT UDM_GETPOS32 = WM_USER + 114;
constexpr UINT UDN_DELTAPOS = static_cast<UINT>(-722);
struct NMUPDOWN {
    NMHDR hdr;
    int iPos;
    int iDelta;
};
