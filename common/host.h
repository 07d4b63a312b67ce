// Access to the host spreadsheet application (Microsoft Excel) through automation. Nothing is
// ever asked of it beyond its Application object and three text properties: it is never made
// visible and never asked to quit; letting go of it is all the programs do at the end. Every call
// has its bound and may be stopped (host_wait.h).
#pragma once

#include <windows.h>
#include <objidl.h>

#include <memory>
#include <string>

#include "host_wait.h"

namespace host {

// Excel's global application object; the real host answers as a local server.
inline constexpr CLSID kGlobalClsid = {
    0x00020812, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// Every call into the host passes this locale: the host formats its answers in it.
inline constexpr LCID kLocale = 1033;

// Excel's Application object, held from Connect until the program lets go of it.
class Excel {
public:
    explicit Excel(Clock& clock = SystemClock());
    Excel(const Excel&) = delete;
    Excel& operator=(const Excel&) = delete;
    ~Excel();  // lets go, if not yet done, without ending the program

    // Creates Excel's global object and takes its Application object.
    HRESULT Connect();

    // Reads a property of the Application object as text. Only a text answer is taken
    // (DISP_E_TYPEMISMATCH otherwise): converting another would call into Excel again.
    HRESULT ReadText(const wchar_t* name, std::wstring& value);

    // Lets go of Excel at the program's end. A host that hangs then does not keep the program: it
    // ends with `exitCode` after kLetGoLimitMs, whatever the release still waits for.
    void LetGo(int exitCode);

    struct Objects;  // what it holds of Excel, on the host's thread

private:
    bool Release();  // gives whether it was done within kLetGoLimitMs

    std::shared_ptr<Objects> objects_;  // used on the host's thread only
    HostThread thread_;
};

}  // namespace host
