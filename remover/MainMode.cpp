#include <windows.h>

#include "Form1.h"
#include "exit_codes.h"
#include "MainMode.h"
#include "host.h"
#include "lock.h"
#include "logbook.h"
#include "removal.h"
#include "window.h"

namespace MainMode {

int Main(HINSTANCE instance, int showCommand, bool quiet, const removal::Options& options) {
    // The notice shows at once: asking the host may take seconds, and the window answers
    // meanwhile.
    Form1 notice;
    if (!quiet && !notice.Show(instance, showCommand)) {
        logbook::Note(L"无法显示提示窗口，未做任何更改。");
        return logbook::Ending(exit_code::kSomethingRemains);
    }
    host::Excel excel;  // the host application object, held until the program ends
    removal::Outcome outcome;
    {
        // Held while the removal runs, not while the notice waits for the user.
        InstallationLock lock(InstallationLock::Taker::kRemover);
        outcome = lock.taken() ? removal::RemoveAll(excel, lock, options)
                               : removal::Outcome{.anotherRuns = true};
    }
    const std::wstring text = removal::NoticeText(outcome);
    logbook::Note(L"提示：" + text);
    if (!quiet) {
        notice.ShowOutcome(text);
        ui::RunMessageLoop(notice.handle());
    }
    const int exitCode = logbook::Ending(removal::ExitCodeOf(outcome));
    excel.LetGo(exitCode);
    return exitCode;
}

}  // namespace MainMode
