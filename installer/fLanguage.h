// The installer window: announces the installation, installs on OK, ends the program on Cancel.
#pragma once

#include <windows.h>

#include <string>

#include "exit_codes.h"
#include "host.h"
#include "install.h"
#include "scoped.h"
#include "window.h"

// Line breaks of the announcement are carriage returns alone; drawing turns each into CR LF,
// which every version of DrawText breaks at exactly once.
std::wstring WithLineFeeds(const std::wstring& text);

class fLanguage final : public ui::Window {
public:
    // The install procedure, as `options` ask for it, asks `excel`, which the program holds until
    // it ends.
    fLanguage(host::Excel& excel, const install::Options& options);

    // Creates the window, runs its Load handler and shows it at the centre of the screen.
    bool Show(HINSTANCE instance, int showCommand);

    // Brings the window of the Setup that runs already to the front, with the message it shows,
    // if any; waits a moment for a window that is still being created. Gives whether there was
    // one: a Setup in another session, or one that is ending, shows none here.
    static bool BringRunningToFront();

private:
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void Load();
    void DrawLabel(const DRAWITEMSTRUCT& item) const;
    void OnCommand(int id);
    void cmdOK_Click();
    void Finish(const install::Outcome& outcome);
    void cmdCancel_Click();

    HWND Label1 = nullptr;
    HWND cmdOK = nullptr;
    HWND cmdCancel = nullptr;
    bool installing_ = false;
    int exitCode_ = exit_code::kCancelled;  // what the program ends with
    host::Excel& excel_;
    install::Options options_;
};
