#include "resources/Resources.h"

namespace {

const MenuItemResource fileItems[] = {
    {IDM_NEW, "&New\tCtrl+N"},   {IDM_OPEN, "&Open...\tCtrl+O"},
    {IDM_SAVE, "&Save\tCtrl+S"}, {IDM_SAVEAS, "Save &As..."},
    {IDM_EXIT, "E&xit"},
};

const MenuItemResource editItems[] = {
    {IDM_UNDO, "&Undo\tCtrl+Z"},
    {IDM_REDO, "&Redo\tCtrl+Y"},
    {0, nullptr},
    {IDM_CUT, "Cu&t\tCtrl+X"},
    {IDM_COPY, "&Copy\tCtrl+C"},
    {IDM_PASTE, "&Paste\tCtrl+V"},
    {IDM_DELETE, "&Delete\tDel"},
    {IDM_SELECTALL, "Select A&ll\tCtrl+A"},
};

const MenuItemResource searchItems[] = {
    {IDM_FIND, "&Find...\tCtrl+F"},
    {IDM_FINDNEXT, "Find &Next\tF3"},
    {IDM_FINDPREVIOUS, "Find &Previous\tShift+F3"},
    {IDM_REPLACE, "&Replace...\tCtrl+H"},
    {IDM_GOTOLINE, "&Go to Line...\tCtrl+G"},
};

const PopupResource popups[] = {
    {"&File", fileItems, sizeof fileItems / sizeof fileItems[0]},
    {"&Edit", editItems, sizeof editItems / sizeof editItems[0]},
    {"&Search", searchItems, sizeof searchItems / sizeof searchItems[0]},
};

const AcceleratorResource accelerators[] = {
    {"Ctrl+A", IDM_SELECTALL},
    {"Ctrl+C", IDM_COPY},
    {"Ctrl+N", IDM_NEW},
    {"Ctrl+O", IDM_OPEN},
    {"Ctrl+S", IDM_SAVE},
    {"Ctrl+V", IDM_PASTE},
    {"Del", IDM_DELETE},
    {"Ctrl+X", IDM_CUT},
    {"Ctrl+Y", IDM_REDO},
    {"Ctrl+Z", IDM_UNDO},
    {"Ctrl+F", IDM_FIND},
    {"F3", IDM_FINDNEXT},
    {"Shift+F3", IDM_FINDPREVIOUS},
    {"Ctrl+H", IDM_REPLACE},
    {"Ctrl+G", IDM_GOTOLINE},
};

} // namespace

const MenuResource varneMenu = {popups, sizeof popups / sizeof popups[0]};
const AcceleratorTable varneAccelerators = {accelerators,
                                            sizeof accelerators / sizeof accelerators[0]};
