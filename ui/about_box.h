// AboutBox: the product's name and version, two lines of help and the line
// that opens the home page in the browser. Not modal, at most one at a time.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "platform/services.h"
#include "win/form.h"
#include "ui/shared_state.h"

namespace tarvel::ui {

inline constexpr const char* HomePageLine = "The URL is: http://www.tarvel.example/";

class AboutBox : public Form {
public:
    enum Id : int {
        titleLabel = 101,
        versionLabel,
        blurbLabel,
        helpLabel,
        homePageLabel,
        troubleshootingLabel,
        homePageLine,
        closeButton
    };

    // The home page opens through `services`.
    AboutBox(SharedState& state, Services services);
    ~AboutBox() override;

    // Creates the box hidden, owned by `owner` (FormCreate included); false when it cannot be made.
    bool Create(HWND owner);

    // Event handlers.
    void FormCreate();
    void FormActivate();
    void HomePageLineChanged();
    void HomePageLineClick();
    void CloseClick();

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    static LRESULT CALLBACK AddressLineProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR id, DWORD_PTR self);

    SharedState& state_;
    Services services_;
};

// The tray menu's About: makes the box when none exists (AboutOpen clear), else reuses the open one, and
// shows it. Returns the box, nullptr when it could not be made.
AboutBox* OpenAbout(std::unique_ptr<AboutBox>& form, SharedState& state, HWND owner, Services services);

} // namespace tarvel::ui
