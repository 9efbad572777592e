// Name list handlers of the main window. A failed save keeps the change in memory, where the next
// successful save writes it; the file on disk stays whole because saving replaces it in one step.
#include "ui/name_list.h"

#include <string>

#include "core/config/config.h"
#include "win/message_box.h"

namespace tarvel::ui {

namespace {

void Save(MainWindow& form, const SharedState& state) {
    try {
        SaveConfiguration(state.settings, state.configPath);
    } catch (const ConfigError& error) {
        ShowMessage(form.Services().messageBox, form.Handle(), error.what(), MB_OK | MB_ICONERROR);
    }
}

} // namespace

void RefreshNameList(MainWindow& form, const Settings& settings) {
    form.ClearItems(MainWindow::nameCombo);
    form.SetText(MainWindow::nameCombo, "");
    for (const std::string& name : settings.NameList)
        form.AddItem(MainWindow::nameCombo, name);
    form.SetText(MainWindow::nameCombo, "");
    form.SetText(MainWindow::emailEdit, "");
}

void NamePicked(MainWindow& form, const Settings& settings) {
    const int index = form.SelectedIndex(MainWindow::nameCombo);
    if (index < 0 || static_cast<std::size_t>(index) >= settings.AddressList.size()) return;
    form.SetText(MainWindow::emailEdit, settings.AddressList[static_cast<std::size_t>(index)]);
    form.FocusControl(MainWindow::subjectEdit);
}

bool AddClick(MainWindow& form, SharedState& state) {
    const std::string name = form.Text(MainWindow::nameCombo);
    const std::string address = form.Text(MainWindow::emailEdit);
    // Names and addresses have a line each in the file, so only line ends are refused, not colons.
    auto problem = CheckStorableText(FieldName, name, true);
    int field = MainWindow::nameCombo;
    if (!problem) {
        problem = CheckStorableText(FieldAddress, address, true);
        field = MainWindow::emailEdit;
    }
    if (problem) {
        ShowMessage(form.Services().messageBox, form.Handle(), problem->message, MB_OK | MB_ICONWARNING);
        form.FocusControl(field);
        return false;
    }
    state.settings.NameList.push_back(name);
    state.settings.AddressList.push_back(address);
    RefreshNameList(form, state.settings);
    Save(form, state);
    return true;
}

bool DeleteClick(MainWindow& form, SharedState& state) {
    const int index = form.SelectedIndex(MainWindow::nameCombo);
    auto& names = state.settings.NameList;
    auto& addresses = state.settings.AddressList;
    if (index < 0 || static_cast<std::size_t>(index) >= names.size()) return false;
    names.erase(names.begin() + index);
    if (static_cast<std::size_t>(index) < addresses.size()) addresses.erase(addresses.begin() + index);
    RefreshNameList(form, state.settings);
    Save(form, state);
    return true;
}

void InstallNameList(MainWindow& form, SharedState& state) {
    form.Commands.namePicked = [&form, &state] { NamePicked(form, state.settings); };
    form.Commands.add = [&form, &state] { AddClick(form, state); };
    form.Commands.remove = [&form, &state] { DeleteClick(form, state); };
}

} // namespace tarvel::ui
