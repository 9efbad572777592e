// A main window under test: the real MainWindow over the system's stand-in (its tray requests, menu,
// boxes and dialogs recorded and answered instead of shown), with fast timers.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/text/wide.h"
#include "win/application.h"
#include "win/messages.h"
#include "ui/tray_icon.h"
#include "ui/main_window.h"
#include "support/fake_services.h"
#include "ui/ui_support.h"

namespace tarvel::test {

using tarvel::ui::MainWindow;

using ShellRequest = FakeSystem::ShellRequest;
using Popup = FakeSystem::Popup;

class MainWindowTest : public ::testing::Test {
protected:
    MainWindowTest() {
        settings.SMTPServer = "127.0.0.1";
        settings.EmailAddress = "me@example.com";
        options.idleInterval = 100;
        options.progressInterval = 50;
    }
    ~MainWindowTest() override {
        window.reset();
        Drain();
    }

    // Creates the window (hidden, as in tray mode) and shows it as start-up would in mail-to mode.
    void Open(bool show = true) {
        window = std::make_unique<MainWindow>(settings, messages, system.Make(), options);
        ASSERT_TRUE(window->Create()) << "needs a display (Xvfb)";
        window->Flow().OnStep = [this](tarvel::SendStep from, tarvel::SendStep to) {
            steps.push_back(std::string(tarvel::SendStepName(from)) + " -> " + tarvel::SendStepName(to));
        };
        if (show) window->Show();
        Drain();
    }

    HWND Ctl(int id) { return window->Control(id); }
    void Type(int id, const std::string& text) {
        SendMessageW(Ctl(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(tarvel::Widen(text).c_str()));
        Drain();
    }
    // Key by key: each UTF-16 unit as the WM_CHAR a keyboard layout or an input method sends.
    void Keys(int id, const std::string& text) {
        for (wchar_t unit : tarvel::Widen(text))
            SendMessageW(Ctl(id), WM_CHAR, unit, 1);
        Drain();
    }
    void Click(int id) {
        SendMessageA(Ctl(id), BM_CLICK, 0, 0);
        Drain();
    }
    void Menu(int id) {
        PostMessageA(window->Handle(), WM_COMMAND, static_cast<WPARAM>(id), 0);
        Drain();
    }
    void Tray(WPARAM iconId, LPARAM mouse) {
        PostMessageA(window->Handle(), tarvel::ui::WM_TRAY_NOTIFY, iconId, mouse);
        Drain();
    }
    std::string Status() { return window->Text(MainWindow::statusLabel); }
    // Waits for the send under way to end (a bounded wait, never a timing check).
    bool WaitIdle(DWORD limitMs = 20000) {
        return PumpUntil([this] { return !window->Flow().Busy(); }, limitMs);
    }

    // First, so that it goes last: the window's requests are recorded until the window has gone.
    FakeSystem system;
    tarvel::ui::Application app;
    tarvel::Settings settings;
    tarvel::MessageList messages{1};
    tarvel::ui::MainOptions options;
    std::vector<ShellRequest>& shell = system.shell;
    std::vector<Popup>& popups = system.popups;
    std::vector<std::string> steps; // the send flow's steps, "from -> to"
    std::unique_ptr<MainWindow> window;
};

} // namespace tarvel::test
