// A window's controls and pop-up menus declared as tables of data: one row per control or menu item.
#pragma once

#include <windows.h>

namespace tarvel::ui {

enum class ControlKind {
    Label,        // static text; sized to its caption when no size is given
    Edit,         // one-line edit
    Memo,         // multi-line edit with word wrap
    ComboBox,     // drop-down combo box with an edit field
    DropDownList, // drop-down list, no typing
    Button,
    CheckBox,
    ProgressBar, // range 0 to 100
    TabControl,  // the tabs of a page control; its pages are Panels
    Panel,       // a plain container that passes its children's notifications on to the form
};

// Flags of a row.
enum ControlFlags : unsigned {
    NoFlags = 0,
    Disabled = 1,    // created disabled
    Hidden = 2,      // created invisible
    Bold = 4,        // bold variant of the form's font
    Centered = 8,    // centred text (labels)
    Password = 16,   // edit shows "*" for each character
    HintHidden = 32, // the hint is kept but never shown
    Black = 64,      // text drawn black whatever the system's colour scheme (labels)
};

inline constexpr int NoTabOrder = -1;

// The part of a row that the layer needs to create the control.
struct ControlLayout {
    int id;
    const char* name;
    ControlKind kind;
    int x, y, width, height; // client pixels of the parent; 0 × 0 sizes a label to its caption
    const char* caption;
    int tabOrder; // NoTabOrder: no place in the tab sequence
    unsigned flags;
    const char* hint; // nullptr: none
    int parent;       // 0: the form; else the id of a Panel row created before
};

// One row of a form's table: the layout plus the handler of the control's own event (click for
// buttons and check boxes, change for edits, selection for lists and tabs).
template <class F> struct ControlDef {
    int id;
    const char* name;
    ControlKind kind;
    int x, y, width, height;
    const char* caption;
    int tabOrder;
    unsigned flags;
    const char* hint;
    void (F::*handler)();
    int parent = 0;

    ControlLayout Layout() const {
        return {id, name, kind, x, y, width, height, caption, tabOrder, flags, hint, parent};
    }
};

// One item of a pop-up menu; a null caption makes a separator.
template <class F> struct MenuItemDef {
    int id;
    const char* name;
    const char* caption;
    void (F::*handler)();
    bool isDefault; // drawn bold; the item that a double click would choose
};

} // namespace tarvel::ui
