// Name list handlers of the main window. A failed save keeps the change in memory, where the next
// successful save writes it; the file on disk stays whole because saving replaces it in one step.
#include "ui/namelist.h"

#include <string>

#include "app/config.h"
#include "ui/message_box.h"

namespace tarvel::ui {

namespace {

void Save(TfrmMain& form, const SharedState& state) {
    try {
        SaveConfiguration(state.settings, state.configPath);
    } catch (const ConfigError& error) {
        ShowMessage(form.Handle(), error.what(), MB_OK | MB_ICONERROR);
    }
}

} // namespace

void RefreshNameList(TfrmMain& form, const Settings& settings) {
    form.ClearItems(TfrmMain::edsName);
    form.SetText(TfrmMain::edsName, "");
    for (const std::string& name : settings.NameList)
        form.AddItem(TfrmMain::edsName, name);
    form.SetText(TfrmMain::edsName, "");
    form.SetText(TfrmMain::edsEmail, "");
}

void edsNameClick(TfrmMain& form, const Settings& settings) {
    const int index = form.SelectedIndex(TfrmMain::edsName);
    if (index < 0 || static_cast<std::size_t>(index) >= settings.AddressList.size()) return;
    form.SetText(TfrmMain::edsEmail, settings.AddressList[static_cast<std::size_t>(index)]);
    form.FocusControl(TfrmMain::edsSubj);
}

bool cmdAddClick(TfrmMain& form, SharedState& state) {
    const std::string name = form.Text(TfrmMain::edsName);
    const std::string address = form.Text(TfrmMain::edsEmail);
    // Names and addresses have a line each in the file, so only line ends are refused, not colons.
    auto problem = CheckStorableText(FieldName, name, true);
    int field = TfrmMain::edsName;
    if (!problem) {
        problem = CheckStorableText(FieldAddress, address, true);
        field = TfrmMain::edsEmail;
    }
    if (problem) {
        ShowMessage(form.Handle(), problem->message, MB_OK | MB_ICONWARNING);
        form.FocusControl(field);
        return false;
    }
    state.settings.NameList.push_back(name);
    state.settings.AddressList.push_back(address);
    RefreshNameList(form, state.settings);
    Save(form, state);
    return true;
}

bool cmdDelClick(TfrmMain& form, SharedState& state) {
    const int index = form.SelectedIndex(TfrmMain::edsName);
    auto& names = state.settings.NameList;
    auto& addresses = state.settings.AddressList;
    if (index < 0 || static_cast<std::size_t>(index) >= names.size()) return false;
    names.erase(names.begin() + index);
    if (static_cast<std::size_t>(index) < addresses.size()) addresses.erase(addresses.begin() + index);
    RefreshNameList(form, state.settings);
    Save(form, state);
    return true;
}

void InstallNameList(TfrmMain& form, SharedState& state) {
    form.Hooks.edsNameClick = [&form, &state] { edsNameClick(form, state.settings); };
    form.Hooks.cmdAddClick = [&form, &state] { cmdAddClick(form, state); };
    form.Hooks.cmdDelClick = [&form, &state] { cmdDelClick(form, state); };
}

} // namespace tarvel::ui
