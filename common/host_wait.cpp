#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <vector>
#include <utility>

#include "host_wait.h"
#include "scoped.h"

namespace host {
namespace {

constexpr DWORD kFirstPauseMs = 100;
constexpr DWORD kLongestPauseMs = 1000;
// How often a wait looks whether it is overdue or stopped.
constexpr DWORD kLookMs = 100;

std::atomic<bool> stopRequested{false};

constexpr HRESULT FromWin32(DWORD error) {
    return static_cast<HRESULT>((error & 0xFFFF) | (FACILITY_WIN32 << 16) | 0x80000000);
}

class SystemTime final : public Clock {
public:
    DWORD Now() override { return GetTickCount(); }
    void Pause(DWORD milliseconds) override { Sleep(milliseconds); }
};

// One thing asked on the host's thread: its answer, and when its current try went out.
struct Job {
    std::function<HRESULT()> call;
    HRESULT answer = E_PENDING;
    std::atomic<bool> tryOut{false};
    std::atomic<DWORD> tryStart{0};
    UniqueHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

// Waits until `event` is set, handing this thread's messages to their windows meanwhile; gives
// S_OK then, or the failure that `overdue` gives first (asked every kLookMs and after messages).
template <typename Overdue>
HRESULT WaitHandingOnMessages(HANDLE event, Overdue overdue) {
    for (;;) {
        if (MsgWaitForMultipleObjectsEx(1, &event, kLookMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE) ==
            WAIT_OBJECT_0) {
            return S_OK;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {  // the program's own loop ends it
                PostQuitMessage(static_cast<int>(message.wParam));
                return E_ABORT;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (const HRESULT hr = overdue(); FAILED(hr)) return hr;
    }
}

}  // namespace

// The jobs for the thread, which both threads reach under a slim lock.
struct HostThread::Shared {
    SRWLOCK lock = SRWLOCK_INIT;
    std::vector<std::shared_ptr<Job>> jobs;
    bool finishing = false;
    UniqueHandle wake{CreateEventW(nullptr, FALSE, FALSE, nullptr)};

    void Put(std::shared_ptr<Job> job, bool last) {
        AcquireSRWLockExclusive(&lock);
        jobs.push_back(std::move(job));
        finishing = finishing || last;
        ReleaseSRWLockExclusive(&lock);
        SetEvent(wake.get());
    }

    // The next job, or null when there is none; `last` then says whether the thread is done.
    std::shared_ptr<Job> Take(bool& last) {
        AcquireSRWLockExclusive(&lock);
        std::shared_ptr<Job> job;
        if (jobs.empty()) {
            last = finishing;
        } else {
            job = std::move(jobs.front());
            jobs.erase(jobs.begin());
        }
        ReleaseSRWLockExclusive(&lock);
        return job;
    }

    // The thread: each job in turn, until the last one.
    static DWORD WINAPI Serve(void* parameter) {
        const std::shared_ptr<Shared> self(
            std::move(*static_cast<std::shared_ptr<Shared>*>(parameter)));
        delete static_cast<std::shared_ptr<Shared>*>(parameter);
        const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        for (bool last = false; !last;) {
            WaitForSingleObject(self->wake.get(), INFINITE);
            while (const std::shared_ptr<Job> job = self->Take(last)) {
                job->answer = job->call();
                SetEvent(job->done.get());
            }
        }
        if (SUCCEEDED(com)) CoUninitialize();
        return 0;
    }
};

Fault FaultOf(HRESULT hr) {
    switch (hr) {
        case RPC_E_CALL_REJECTED:
        case RPC_E_SERVERCALL_RETRYLATER:
            return Fault::kBusy;
        case RPC_E_CALL_CANCELED:
            return Fault::kNoAnswer;
        case E_ABORT:
            return Fault::kStopped;
        case RPC_E_DISCONNECTED:
        case RPC_E_SERVER_DIED:
        case RPC_E_SERVER_DIED_DNE:
        case FromWin32(RPC_S_SERVER_UNAVAILABLE):
        case FromWin32(RPC_S_CALL_FAILED):
        case FromWin32(RPC_S_CALL_FAILED_DNE):
        case CO_E_OBJNOTCONNECTED:
            return Fault::kEnded;
        default:
            return Fault::kOther;
    }
}

void RequestStop() { stopRequested = true; }

std::optional<DWORD> PauseBeforeRetry(DWORD elapsed) {
    if (elapsed >= kBusyLimitMs) return std::nullopt;
    return std::min({std::clamp(elapsed, kFirstPauseMs, kLongestPauseMs), kBusyLimitMs - elapsed});
}

Clock& SystemClock() {
    static SystemTime clock;
    return clock;
}

HRESULT CallWhileBusy(Clock& clock, const std::function<HRESULT()>& call) {
    const DWORD start = clock.Now();
    for (;;) {
        if (stopRequested) return E_ABORT;
        const HRESULT hr = call();
        if (stopRequested) return E_ABORT;
        if (FaultOf(hr) != Fault::kBusy) return hr;
        const std::optional<DWORD> pause = PauseBeforeRetry(clock.Now() - start);
        if (!pause) return hr;
        clock.Pause(*pause);
    }
}

HostThread::HostThread(Clock& clock) : clock_(clock), shared_(std::make_shared<Shared>()) {
    auto* handed = new std::shared_ptr<Shared>(shared_);
    thread_.reset(CreateThread(nullptr, 0, Shared::Serve, handed, 0, nullptr));
    if (!thread_) delete handed;
}

HostThread::~HostThread() {
    if (thread_) Finish(nullptr);
}

HRESULT HostThread::Call(std::function<HRESULT()> call) {
    if (!thread_) return E_OUTOFMEMORY;
    if (stopRequested) return E_ABORT;
    auto job = std::make_shared<Job>();
    job->call = [job = job.get(), call = std::move(call), &clock = clock_] {
        return CallWhileBusy(clock, [&] {
            job->tryStart = clock.Now();
            job->tryOut = true;
            const HRESULT hr = call();
            job->tryOut = false;
            return hr;
        });
    };
    shared_->Put(job, false);
    const HRESULT waited = WaitHandingOnMessages(job->done.get(), [&] {
        if (stopRequested) return E_ABORT;
        const bool unanswered = job->tryOut && clock_.Now() - job->tryStart >= kNoAnswerLimitMs;
        return unanswered ? RPC_E_CALL_CANCELED : S_OK;
    });
    return FAILED(waited) ? waited : job->answer;
}

bool HostThread::Finish(std::function<void()> last) {
    if (!thread_) return true;
    auto job = std::make_shared<Job>();
    job->call = [last = std::move(last)] {
        if (last) last();
        return S_OK;
    };
    shared_->Put(std::move(job), true);
    const UniqueHandle thread = std::move(thread_);
    const DWORD start = GetTickCount();
    const HRESULT waited = WaitHandingOnMessages(thread.get(), [&] {
        return GetTickCount() - start >= kLetGoLimitMs ? RPC_E_CALL_CANCELED : S_OK;
    });
    return SUCCEEDED(waited);
}

}  // namespace host
