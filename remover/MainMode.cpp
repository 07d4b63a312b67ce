#include <windows.h>

#include "Form1.h"
#include "MainMode.h"
#include "removal.h"
#include "window.h"

namespace MainMode {
namespace {

// The host application object, held until the program ends.
ComPtr<IDispatch> host;

}  // namespace

int Main(HINSTANCE instance, int showCommand) {
    // The notice shows at once: asking the host may take seconds, and the window answers
    // meanwhile.
    Form1 notice;
    if (!notice.Show(instance, showCommand)) return 1;
    const auto tell = [&](const removal::Outcome& outcome) {
        notice.ShowOutcome(removal::NoticeText(outcome));
        ui::RunMessageLoop(notice.handle());
        return removal::ExitCodeOf(outcome);
    };
    // A call into a hung host that is not handed back after its cancel ends the program here.
    host::OnCancelledCallNotHandedBack([&](HRESULT) {
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(tell(removal::HostStuck())));
    });
    const removal::Outcome outcome = removal::RemoveAll(host);
    host::OnCancelledCallNotHandedBack(nullptr);
    const int exitCode = tell(outcome);
    host::LetGo(host, exitCode);  // the program ends here, before COM does
    return exitCode;
}

}  // namespace MainMode
