// The menu bar and the accelerator table, fixed in the program.
#pragma once

enum CommandId : unsigned short {
    IDM_NEW = 40001,
    IDM_OPEN = 40002,
    IDM_SAVE = 40003,
    IDM_SAVEAS = 40004,
    IDM_EXIT = 40005,
    IDM_CUT = 40006,
    IDM_COPY = 40007,
    IDM_UNDO = 40008,
    IDM_REDO = 40009,
    IDM_PASTE = 40010,
    IDM_DELETE = 40011,
    IDM_SELECTALL = 40012,
    IDM_FIND = 40013,
    IDM_FINDNEXT = 40014,
    IDM_FINDPREVIOUS = 40015,
    IDM_REPLACE = 40016,
    IDM_GOTOLINE = 40017,
};

// A menu item; id 0 is a separator. A tab in the label separates the text from
// the shortcut shown at the right, and & marks the mnemonic.
struct MenuItemResource {
    unsigned short id;
    const char* label;
};

struct PopupResource {
    const char* title;
    const MenuItemResource* items;
    int count;
};

struct MenuResource {
    const PopupResource* popups;
    int count;
};

// A key with exactly the modifiers written, in the form "Ctrl+A" or "Del".
struct AcceleratorResource {
    const char* key;
    unsigned short id;
};

struct AcceleratorTable {
    const AcceleratorResource* entries;
    int count;
};

extern const MenuResource varneMenu;
extern const AcceleratorTable varneAccelerators;
