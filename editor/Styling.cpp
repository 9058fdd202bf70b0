#include "app/EditorApp.h"

namespace {

constexpr long black = RGB(0, 0, 0);
constexpr long white = RGB(255, 255, 255);
constexpr long red = RGB(255, 0, 0);
constexpr long darkBlue = RGB(0, 0, 128);
constexpr long darkGreen = RGB(0, 128, 0);
constexpr long purple = RGB(128, 0, 128);
constexpr long olive = RGB(128, 128, 0);
constexpr long teal = RGB(0, 128, 128);
constexpr long darkOlive = RGB(79, 79, 0);
constexpr long yellow = RGB(255, 255, 0);

const char htmlKeywords[] =
    "a abbr acronym address applet area b base basefont bdo big blockquote body br button "
    "caption center cite code col colgroup dd del dfn dir div dl dt em fieldset font form frame "
    "frameset h1 h2 h3 h4 h5 h6 head hr html i iframe img input ins isindex kbd label legend li "
    "link map menu meta noframes noscript object ol optgroup option p param pre q s samp script "
    "select small span strike strong style sub sup table tbody td textarea tfoot th thead title "
    "tr tt u ul var xmlns abbr accept-charset accept accesskey action align alink alt archive "
    "axis background bgcolor border cellpadding cellspacing char charoff charset checked cite "
    "class classid clear codebase codetype color cols colspan compact content coords data "
    "datafld dataformatas datapagesize datasrc datetime declare defer dir disabled enctype face "
    "for frame frameborder headers height href hreflang hspace http-equiv id ismap label lang "
    "language link longdesc marginwidth marginheight maxlength media method multiple name "
    "nohref noresize noshade nowrap object onblur onchange onclick ondblclick onfocus onkeydown "
    "onkeypress onkeyup onload onmousedown onmousemove onmouseover onmouseout onmouseup onreset "
    "onselect onsubmit onunload profile prompt readonly rel rev rows rowspan rules scheme scope "
    "shape size span src standby start style summary tabindex target text title type usemap "
    "valign value valuetype version vlink vspace width text password checkbox radio submit "
    "reset file hidden image public !doctype xml";

const char javaScriptKeywords[] =
    "break case catch continue default do else for function if return throw try var while";

const char vbScriptKeywords[] =
    "and as byref byval case call const continue dim do each else elseif end error exit false "
    "for function global goto if in loop me new next not nothing on optional or private public "
    "redim rem resume select set sub then to true type while with boolean byte currency date "
    "double integer long object single string type variant";

struct StyleColour {
    int style;
    long fore;
};

const StyleColour markupColours[] = {
    {1, darkBlue},  {2, red},       {3, darkBlue},   {4, red},
    {5, purple},    {6, darkGreen}, {7, darkGreen},  {8, purple},
    {9, olive},     {10, purple},   {11, darkBlue},  {12, darkBlue},
    {13, darkBlue}, {14, darkBlue}, {15, darkOlive}, {16, darkOlive},
};

// Client-side VBScript from 71, server-side from 81.
const long vbScriptColours[] = {black, darkGreen, teal, darkBlue, purple, black};

// Client-side JavaScript from 40, server-side from 55.
const long javaScriptColours[] = {olive, black,    darkGreen, darkGreen, darkGreen, teal,
                                  black, darkBlue, purple,    purple,    black};

} // namespace

void EditorApp::SetStyle(int style, long fore, long back, int size, const char* face) {
    SendEditor(SCI_STYLESETFORE, style, fore);
    SendEditor(SCI_STYLESETBACK, style, back);
    if (size >= 1)
        SendEditor(SCI_STYLESETSIZE, style, size);
    if (face)
        SendEditor(SCI_STYLESETFONT, style, face);
}

void EditorApp::ConfigureEditor() {
    // Script blocks: one face on one background, filled to the end of the line.
    auto setScriptFace = [this](int first, int last, const char* face, long back) {
        for (int style = first; style <= last; ++style) {
            SendEditor(SCI_STYLESETFONT, style, face);
            SendEditor(SCI_STYLESETBACK, style, back);
            SendEditor(SCI_STYLESETEOLFILLED, style, 1);
        }
    };

    SendEditor(SCI_SETLEXER, SCLEX_HTML);
    SendEditor(SCI_SETSTYLEBITS, 7);
    SendEditor(SCI_SETKEYWORDS, 0, htmlKeywords);
    SendEditor(SCI_SETKEYWORDS, 1, javaScriptKeywords);
    SendEditor(SCI_SETKEYWORDS, 2, vbScriptKeywords);

    SetStyle(STYLE_DEFAULT, black, white, 11, "Verdana");
    SendEditor(SCI_STYLECLEARALL);
    SetStyle(0, black, white, 11, "Times New Roman");

    for (const StyleColour& markup : markupColours)
        SetStyle(markup.style, markup.fore, markup.style >= 15 ? yellow : white);

    // Client-side VBScript: Georgia on light blue, comments in Comic Sans MS.
    for (int style = 71; style <= 76; ++style) {
        SetStyle(style, vbScriptColours[style - 71], white);
        if (style == 74)
            SendEditor(SCI_STYLESETBOLD, 74, 1);
    }
    setScriptFace(71, 77, "Georgia", RGB(166, 202, 240));
    SendEditor(SCI_STYLESETBACK, 77, RGB(127, 127, 255));
    SendEditor(SCI_STYLESETFONT, 72, "Comic Sans MS");

    // Server-side VBScript: Georgia on yellow.
    for (int style = 81; style <= 86; ++style) {
        SetStyle(style, vbScriptColours[style - 81], white);
        if (style == 84)
            SendEditor(SCI_STYLESETBOLD, 84, 1);
    }
    setScriptFace(81, 87, "Georgia", yellow);
    SendEditor(SCI_STYLESETBACK, 87, RGB(207, 207, 127));
    SendEditor(SCI_STYLESETFONT, 82, "Comic Sans MS");

    // JavaScript, client-side then server-side with the same foregrounds.
    for (int style = 40; style <= 50; ++style)
        SetStyle(style, javaScriptColours[style - 40], white);
    for (int style = 55; style <= 65; ++style)
        SetStyle(style, javaScriptColours[style - 55], white);
    setScriptFace(41, 50, "Lucida Sans Unicode", RGB(255, 251, 240));
    SendEditor(SCI_STYLESETBACK, 51, RGB(223, 223, 127));
    SendEditor(SCI_STYLESETEOLFILLED, 51, 1);
    setScriptFace(56, 65, "Lucida Sans Unicode", RGB(223, 223, 127));
    SendEditor(SCI_STYLESETBACK, 66, RGB(0, 175, 95));
    SendEditor(SCI_STYLESETEOLFILLED, 66, 1);
}
