// Waiting for the host application (Microsoft Excel), which answers through COM from a process of
// its own and may be slow to start, busy, hung or gone.
//
// Every call into the host is made on a thread of its own (HostThread), in COM's multithreaded
// apartment. The window's thread waits for each answer with a bound, handing its messages to its
// windows meanwhile: the window keeps answering, and the user may stop the wait (RequestStop).
// While the host is busy (starting up, or stopped at a dialog that it cannot show while hidden) it
// rejects calls; a rejected call is made again after a short pause, for up to kBusyLimitMs in
// all. A try that gets no answer at all (the host hangs) is given up after kNoAnswerLimitMs, and
// letting go of the host at the program's end after kLetGoLimitMs: the thread is then left to
// itself, and ends with the program.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>

#include "scoped.h"

namespace host {

// How long a call is repeated while the host rejects it, counted from its first try.
inline constexpr DWORD kBusyLimitMs = 30000;
// How long a try that the host neither answers nor rejects is waited for.
inline constexpr DWORD kNoAnswerLimitMs = 60000;
// How long letting go of the host is waited for at the program's end.
inline constexpr DWORD kLetGoLimitMs = 3000;

// How a call into the host failed, where the host or the user is the cause.
enum class Fault {
    kOther,     // anything else: the answer itself says what
    kBusy,      // rejected until the busy wait ran out
    kNoAnswer,  // no answer within kNoAnswerLimitMs (RPC_E_CALL_CANCELED)
    kEnded,     // the host's process ended or crashed while it was asked
    kStopped,   // the user stopped the wait (E_ABORT)
};
Fault FaultOf(HRESULT hr);

// Stops every wait for the host from now on: a call that is out is given up, and no call is made
// or repeated. For the close command while the host is asked.
void RequestStop();

// The pause before the next try of a call that the host rejected, `elapsed` milliseconds after
// its first try; nothing once kBusyLimitMs have passed. The pauses start short and grow to a
// second, and the last try falls on the limit.
std::optional<DWORD> PauseBeforeRetry(DWORD elapsed);

// The time the waits run on; a test's may move faster. Used from both threads.
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
// requested.
HRESULT CallWhileBusy(Clock& clock, const std::function<HRESULT()>& call);

// The thread on which every call into the host is made.
class HostThread {
public:
    explicit HostThread(Clock& clock);
    HostThread(const HostThread&) = delete;
    HostThread& operator=(const HostThread&) = delete;
    ~HostThread();  // finishes, if not yet done

    // Makes `call` there as CallWhileBusy does, and waits here for its answer, handing this
    // thread's messages to their windows meanwhile. Gives RPC_E_CALL_CANCELED once a try has gone
    // kNoAnswerLimitMs unanswered, and E_ABORT once a stop is requested: the call is then left to
    // itself, so it must hold what it uses.
    HRESULT Call(std::function<HRESULT()> call);

    // Runs `last` there (it lets go of the host), and ends the thread; gives whether all was done
    // within kLetGoLimitMs.
    bool Finish(std::function<void()> last);

private:
    struct Shared;
    Clock& clock_;
    std::shared_ptr<Shared> shared_;
    UniqueHandle thread_;
};

}  // namespace host
