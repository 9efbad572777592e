// The name list: the main window's combo box nameCombo over the parallel NameList and AddressList, with
// Add and Delete saved to the configuration file at once. It changes the name and e-mail fields only:
// a subject, body or attachment the user typed is never wiped by it.
#pragma once

#include "ui/shared_state.h"
#include "ui/main_window.h"

namespace tarvel::ui {

// Rebuilds the items of nameCombo from NameList and empties the name and e-mail fields (which disables
// Send, Add and Delete through the e-mail field's change handler).
void RefreshNameList(MainWindow& form, const Settings& settings);

// Picking an item: the e-mail field gets its address and the focus goes to the subject.
void NamePicked(MainWindow& form, const Settings& settings);

// Appends the typed name and e-mail and saves. A value the configuration file cannot carry is refused
// with one message box naming it and the focus on its field; nothing changes then. False when refused.
bool AddClick(MainWindow& form, SharedState& state);

// Deletes the selected entry and saves; nothing happens when no item is selected. False then.
bool DeleteClick(MainWindow& form, SharedState& state);

// Binds the three handlers to the window's commands; `state` must outlive the window.
void InstallNameList(MainWindow& form, SharedState& state);

} // namespace tarvel::ui
