// The messages and notifications the program exchanges with the editing
// component, under the component's own names and numbers: the one vocabulary
// every part of the program uses to talk to it.
//
// Why a table of our own rather than QScintilla's enum: app/ and document/
// send their messages through EditorApp::SendEditor and name them without
// QScintilla's class, so that Qt stays at the edges and the document logic
// reads like the algorithm; and the platform's WM_ and EM_ messages, which
// SendEditor maps to their SCI_ equivalents, are ours anyway. The editor's
// own code uses the same names, unqualified. Inside the editor window's
// members the compiler finds QScintilla's enumerators of those names first (a
// base class's scope comes before the global one); they are the same
// messages under the same numbers, and the suite checks that the numbers here
// are the component's and that every message the program names is listed
// here (scripts/check-message-names). A message the program starts to use is
// added here first.
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
    SCI_GETCURRENTPOS = 2008,
    SCI_GETANCHOR = 2009,
    SCI_GETSTYLEAT = 2010,
    SCI_REDO = 2011,
    SCI_SETUNDOCOLLECTION = 2012,
    SCI_SELECTALL = 2013,
    SCI_SETSAVEPOINT = 2014,
    SCI_CANREDO = 2016,
    SCI_POSITIONFROMPOINT = 2022,
    SCI_POSITIONFROMPOINTCLOSE = 2023,
    SCI_GOTOLINE = 2024,
    SCI_GOTOPOS = 2025,
    SCI_GETENDSTYLED = 2028,
    SCI_GETEOLMODE = 2030,
    SCI_SETEOLMODE = 2031,
    SCI_STARTSTYLING = 2032,
    SCI_STYLECLEARALL = 2050,
    SCI_STYLESETFORE = 2051,
    SCI_STYLESETBACK = 2052,
    SCI_STYLESETBOLD = 2053,
    SCI_STYLESETSIZE = 2055,
    SCI_STYLESETFONT = 2056,
    SCI_STYLESETEOLFILLED = 2057,
    SCI_SETCARETPERIOD = 2076,
    SCI_BEGINUNDOACTION = 2078,
    SCI_ENDUNDOACTION = 2079,
    SCI_SETSTYLEBITS = 2090,
    SCI_GETLINESTATE = 2093,
    SCI_GETLINEENDPOSITION = 2136,
    SCI_GETREADONLY = 2140,
    SCI_GETSELECTIONSTART = 2143,
    SCI_GETSELECTIONEND = 2145,
    SCI_GETFIRSTVISIBLELINE = 2152,
    SCI_GETLINECOUNT = 2154,
    SCI_GETMODIFY = 2159,
    SCI_SETSEL = 2160,
    SCI_GETTEXTRANGE = 2162,
    SCI_POINTXFROMPOSITION = 2164,
    SCI_POINTYFROMPOSITION = 2165,
    SCI_LINEFROMPOSITION = 2166,
    SCI_POSITIONFROMLINE = 2167,
    SCI_REPLACESEL = 2170,
    SCI_SETREADONLY = 2171,
    SCI_CANPASTE = 2173,
    SCI_CANUNDO = 2174,
    SCI_EMPTYUNDOBUFFER = 2175,
    SCI_UNDO = 2176,
    SCI_CUT = 2177,
    SCI_COPY = 2178,
    SCI_PASTE = 2179,
    SCI_CLEAR = 2180,
    SCI_GETOVERTYPE = 2187,
    SCI_REPLACETARGET = 2194,
    SCI_DOCLINEFROMVISIBLE = 2221,
    SCI_SETLAYOUTCACHE = 2272,
    SCI_TEXTWIDTH = 2276,
    SCI_TEXTHEIGHT = 2279,
    SCI_APPENDTEXT = 2282,
    SCI_CHARRIGHT = 2306,
    SCI_DOCUMENTSTART = 2316,
    SCI_CANCEL = 2325,
    SCI_SETMODEVENTMASK = 2359,
    SCI_LINESONSCREEN = 2370,
    SCI_SELECTIONISRECTANGLE = 2372,
    SCI_GETMODEVENTMASK = 2378,
    SCI_POSITIONAFTER = 2418,
    SCI_COPYTEXT = 2420,
    SCI_ALLOCATE = 2446,
    SCI_STYLEGETFORE = 2481,
    SCI_STYLEGETBACK = 2482,
    SCI_STYLEGETBOLD = 2483,
    SCI_STYLEGETSIZE = 2485,
    SCI_STYLEGETFONT = 2486,
    SCI_STYLEGETEOLFILLED = 2487,
    SCI_SETPOSITIONCACHE = 2514,
    SCI_GETCHARACTERPOINTER = 2520,
    SCI_SETEMPTYSELECTION = 2556,
    SCI_GETADDITIONALSELECTIONTYPING = 2566,
    SCI_SCROLLRANGE = 2569,
    SCI_GETSELECTIONS = 2570,
    SCI_ADDSELECTION = 2573,
    SCI_SETSELECTIONNCARET = 2576,
    SCI_SETSELECTIONNANCHOR = 2578,
    SCI_GETSELECTIONNSTART = 2585,
    SCI_GETSELECTIONNEND = 2587,
    SCI_SETRECTANGULARSELECTIONCARET = 2588,
    SCI_SETRECTANGULARSELECTIONANCHOR = 2590,
    SCI_SETFIRSTVISIBLELINE = 2613,
    SCI_GETRANGEPOINTER = 2643,
    SCI_DELETERANGE = 2645,
    SCI_GETSELECTIONEMPTY = 2650,
    SCI_DROPSELECTIONN = 2671,
    SCI_CHANGEINSERTION = 2672,
    SCI_SETTARGETRANGE = 2686,
    SCI_SETIDLESTYLING = 2692,
    SCI_GETLINECHARACTERINDEX = 2710,
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

// What a change notification reports, and the mask that asks for them.
enum ModificationFlag : int {
    SC_MOD_INSERTTEXT = 0x1,
    SC_MOD_DELETETEXT = 0x2,
    SC_MOD_BEFOREINSERT = 0x400,
    SC_MOD_BEFOREDELETE = 0x800,
    SC_MOD_INSERTCHECK = 0x100000,
};

// End-of-line modes: what Enter inserts.
enum EndOfLineMode { SC_EOL_CRLF = 0, SC_EOL_CR = 1, SC_EOL_LF = 2 };

constexpr int SC_CACHE_PAGE = 2; // the layout cache keeps the lines on screen
// Scrolling styles a little of what it brings into view at once, the rest in idle time.
constexpr int SC_IDLESTYLING_TOVISIBLE = 1;
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
