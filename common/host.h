// Access to the host spreadsheet application (Microsoft Excel) through automation. Nothing is
// ever asked of the host beyond its Application object and three text properties: it is never
// made visible and never asked to quit; dropping the reference is all the programs do at the end.
//
// Excel answers as a local server, in a process of its own. While it is busy (starting up, or
// stopped at a dialog that it cannot show while hidden) it rejects calls; every call into it is
// then repeated after a short pause, for up to kBusyLimitMs in all. A call that gets no answer at
// all (Excel hangs) is given up after kNoAnswerLimitMs. It may also end in the middle of a run.
// The window keeps answering meanwhile, and the user may stop the wait (RequestStop).
#pragma once

#include <windows.h>
#include <objidl.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "scoped.h"

namespace host {

// Excel's global application object; the real host answers as a local server.
inline constexpr CLSID kGlobalClsid = {
    0x00020812, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// Every call into the host passes this locale: the host formats its answers in it.
inline constexpr LCID kLocale = 1033;

// Where the add-in lives: the host's StartupPath followed by this name. Setup copies it there on
// every run and the remover deletes it again; it is the one fact the two programs share.
inline constexpr wchar_t kAddInName[] = L"\\Qorv.xla";

// How long a call is repeated while the host rejects it, counted from its first try.
inline constexpr DWORD kBusyLimitMs = 30000;
// How long a call that the host neither answers nor rejects is waited for.
inline constexpr DWORD kNoAnswerLimitMs = 60000;

// How a call into the host failed, where the host or the user is the cause.
enum class Fault {
    kOther,     // anything else: the answer itself says what
    kBusy,      // rejected until the busy wait ran out
    kNoAnswer,  // no answer within kNoAnswerLimitMs
    kEnded,     // the host's process ended or crashed while it was asked
    kStopped,   // the user stopped the wait
};
Fault FaultOf(HRESULT hr);

// Stops every wait for the host from now on: the call that waits is cancelled, and no call is
// repeated. For the close command while the host is asked.
void RequestStop();
bool StopRequested();

// The pause before the next try of a call that the host rejected, `elapsed` milliseconds after
// its first try; nothing once kBusyLimitMs have passed. The pauses start short and grow to a
// second, and the last try falls on the limit.
std::optional<DWORD> PauseBeforeRetry(DWORD elapsed);

// The time the busy wait runs on. The programs' clock pumps the thread's messages while it
// pauses, so that the window stays answered; a test's may move at once.
class Clock {
public:
    virtual DWORD Now() = 0;  // milliseconds, from any start
    virtual void Pause(DWORD milliseconds) = 0;

protected:
    ~Clock() = default;
};
Clock& SystemClock();

// Makes `call` and repeats it while the host rejects it, pausing as PauseBeforeRetry says; gives
// its first answer that is not a rejection, or the last rejection; E_ABORT once a stop is
// requested. While the call is out, COM asks the message filter about it every so often, and the
// filter cancels it (RPC_E_CALL_CANCELED) once it has gone kNoAnswerLimitMs unanswered on `clock`.
HRESULT CallWhileBusy(Clock& clock, const std::function<HRESULT()>& call);

// Windows hands a cancelled call back at once; where COM does not (Wine does only when the host
// answers at last), the call would hold the program for as long as the host hangs. `end` is then
// called, once, from inside the wait, kNotHandedBackMs after the call was cancelled, with
// RPC_E_CALL_CANCELED (no answer) or E_ABORT (stopped): it tells the user and ends the program.
// Nothing on disk is changed while the host is asked, so ending there leaves nothing half-done.
inline constexpr DWORD kNotHandedBackMs = 5000;
void OnCancelledCallNotHandedBack(std::function<void(HRESULT why)> end);

// Registers, for the calling thread, a message filter that repeats the calls that the host
// rejects inside COM by the rule of PauseBeforeRetry, and cancels those that go unanswered. Call
// it once, after COM is initialised.
void RegisterMessageFilter();

// Lets go of the host application object at the program's end. A host that hangs then (stopped
// at a dialog, or half-crashed) does not keep the program: it ends with `exitCode` within
// kLetGoLimitMs, whatever the release and COM's end still wait for.
inline constexpr DWORD kLetGoLimitMs = 3000;
void LetGo(ComPtr<IDispatch>& application, int exitCode);

// Creates the host's global object and reads its Application object into `application`.
HRESULT Connect(ComPtr<IDispatch>& application, Clock& clock = SystemClock());

// Reads a property of the Application object as text.
HRESULT ReadText(IDispatch* application, const wchar_t* name, std::wstring& value,
                 Clock& clock = SystemClock());

// Whether a folder the host answered is a complete folder path: a drive letter, colon and
// backslash ("C:\..."), or a UNC path ("\\server\share..."). Anything else (empty text, a
// relative path, "\Office") would put or take files somewhere nobody meant.
bool IsFolderPath(std::wstring_view path);

}  // namespace host
