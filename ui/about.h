// frmAbout (TfrmAbout, module About): the product's name and version, two lines of help and the line
// that opens the home page in the browser. Not modal, at most one at a time.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "ui/form.h"
#include "ui/shared_state.h"

namespace tarvel::ui {

inline constexpr const char* HomePageLine = "The URL is: http://www.tarvel.example/";

class TfrmAbout : public Form {
public:
    enum Id : int { Label1 = 101, lblVersion, Label2, Label3, Label4, Label5, txtHTML, cmdClose };

    // `openHomePage` replaces the shell request in tests; empty: the real one.
    explicit TfrmAbout(SharedState& state, std::function<void()> openHomePage = {});
    ~TfrmAbout() override;

    // Creates the box hidden, owned by `owner` (FormCreate included); false when it cannot be made.
    bool Create(HWND owner);

    // Event handlers.
    void FormCreate();
    void FormActivate();
    void txtHTMLChange();
    void txtHTMLClick();
    void cmdCloseClick();

protected:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    static LRESULT CALLBACK AddressLineProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                            UINT_PTR id, DWORD_PTR self);

    SharedState& state_;
    std::function<void()> openHomePage_;
};

// AboutOndrix1Click: makes the box when none exists (AboutOpen clear), else reuses the open one, and
// shows it. Returns the box, nullptr when it could not be made.
TfrmAbout* OpenAbout(std::unique_ptr<TfrmAbout>& frmAbout, SharedState& state, HWND owner,
                     std::function<void()> openHomePage = {});

} // namespace tarvel::ui
