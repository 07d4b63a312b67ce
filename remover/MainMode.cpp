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
    const removal::Outcome outcome = removal::RemoveAll(host);
    Form1 notice;
    int exitCode = 1;
    if (notice.Show(instance, showCommand, removal::NoticeText(outcome))) {
        exitCode = ui::RunMessageLoop(notice.handle());
    }
    host.Reset();  // the program ends here, before COM does
    return exitCode;
}

}  // namespace MainMode
