// The messages and notifications the program exchanges with the editing
// component, under the component's own names and numbers.
#pragma once

#include <cstdint>

// A position or a length in the document, in bytes. The component passes them
// as its pointer-sized integer; file transfer counts bytes in the same type, so
// no position is ever narrowed on its way between the two.
using Position = std::int64_t;
static_assert(sizeof(Position) == sizeof(long), "the component's positions are long");

// Component messages.
enum EditorMessage : unsigned int {
    SCI_ADDTEXT = 2001,
    SCI_CLEARALL = 2004,
    SCI_GETLENGTH = 2006,
    SCI_GETCHARAT = 2007,
    SCI_REDO = 2011,
    SCI_SETUNDOCOLLECTION = 2012,
    SCI_SELECTALL = 2013,
    SCI_SETSAVEPOINT = 2014,
    SCI_CANREDO = 2016,
    SCI_GOTOPOS = 2025,
    SCI_GETENDSTYLED = 2028,
    SCI_GETEOLMODE = 2030,
    SCI_SETEOLMODE = 2031,
    SCI_STYLECLEARALL = 2050,
    SCI_STYLESETFORE = 2051,
    SCI_STYLESETBACK = 2052,
    SCI_STYLESETBOLD = 2053,
    SCI_STYLESETSIZE = 2055,
    SCI_STYLESETFONT = 2056,
    SCI_STYLESETEOLFILLED = 2057,
    SCI_SETSTYLEBITS = 2090,
    SCI_GETLINEENDPOSITION = 2136,
    SCI_GETLINECOUNT = 2154,
    SCI_GETMODIFY = 2159,
    SCI_GETTEXTRANGE = 2162,
    SCI_LINEFROMPOSITION = 2166,
    SCI_POSITIONFROMLINE = 2167,
    SCI_CANPASTE = 2173,
    SCI_CANUNDO = 2174,
    SCI_EMPTYUNDOBUFFER = 2175,
    SCI_UNDO = 2176,
    SCI_CUT = 2177,
    SCI_COPY = 2178,
    SCI_PASTE = 2179,
    SCI_CLEAR = 2180,
    SCI_SETLAYOUTCACHE = 2272,
    SCI_CANCEL = 2325,
    SCI_SETMODEVENTMASK = 2359,
    SCI_ALLOCATE = 2446,
    SCI_SETPOSITIONCACHE = 2514,
    SCI_SETLEXER = 4001,
    SCI_COLOURISE = 4003,
    SCI_SETKEYWORDS = 4005,
};

// The platform's edit-control messages the program uses; SendEditor() passes
// each on as its component equivalent.
enum EditMessage : unsigned int {
    EM_CANUNDO = 0xC6,
    EM_EMPTYUNDOBUFFER = 0xCD,
    WM_CUT = 0x300,
    WM_COPY = 0x301,
    WM_PASTE = 0x302,
    WM_CLEAR = 0x303,
    WM_UNDO = 0x304,
    EM_CANPASTE = 0x432,
    EM_GETTEXTRANGE = 0x44B,
};

// Notification codes.
enum EditorNotification : unsigned int {
    SCN_SAVEPOINTREACHED = 2002,
    SCN_SAVEPOINTLEFT = 2003,
};

// Kinds of change notification (SCN_MODIFIED): the component is about to
// insert or delete text.
enum ModificationType : int { SC_MOD_BEFOREINSERT = 0x400, SC_MOD_BEFOREDELETE = 0x800 };

// End-of-line modes: what Enter inserts.
enum EndOfLineMode { SC_EOL_CRLF = 0, SC_EOL_CR = 1, SC_EOL_LF = 2 };

constexpr int SCLEX_HTML = 4;
constexpr int STYLE_DEFAULT = 32;

// The header of a notification: only the code is read.
struct NotificationHeader {
    unsigned int code;
};

// The component's text-range record: bytes [cpMin, cpMax) are copied to
// lpstrText, followed by a NUL.
struct TextRange {
    Position cpMin;
    Position cpMax;
    char* lpstrText;
};

// A colour as the component takes it: red in the low byte, blue in the high.
constexpr long RGB(int red, int green, int blue) {
    return red | (green << 8) | (blue << 16);
}
