#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <utility>

#include "host.h"

namespace host {
namespace {

constexpr DWORD kFirstPauseMs = 100;
constexpr DWORD kLongestPauseMs = 1000;
// How often COM is woken to ask the message filter about a call that is out.
constexpr DWORD kWakeMs = 200;

bool stopRequested = false;
std::function<void(HRESULT)> endWhenNotHandedBack;

bool IsBusy(HRESULT hr) { return FaultOf(hr) == Fault::kBusy; }

// COM leaves the window's messages queued while a call is out, or discards them (keyboard and
// mouse), and starting the host holds the thread: a close command that waits in the queue (the
// taskbar's, or a script's) stops the wait before the next call, and during one.
void StopOnQueuedClose() {
    MSG close;
    if (PeekMessageW(&close, nullptr, WM_CLOSE, WM_CLOSE, PM_NOREMOVE) ||
        (PeekMessageW(&close, nullptr, WM_SYSCOMMAND, WM_SYSCOMMAND, PM_NOREMOVE) &&
         (close.wParam & 0xFFF0) == SC_CLOSE)) {
        stopRequested = true;
    }
}

// A call into the host that is out. COM waits for its answer in a message loop and asks the
// message filter about it only when a message arrives: a message is posted to the thread every
// kWakeMs meanwhile, which the program's loops pass over.
class OutstandingCall {
public:
    explicit OutstandingCall(Clock& clock)
        : clock_(clock), start_(clock.Now()), previous_(std::exchange(current, this)) {
        CreateTimerQueueTimer(&timer_, nullptr, Wake,
                              reinterpret_cast<void*>(static_cast<ULONG_PTR>(GetCurrentThreadId())),
                              kWakeMs, kWakeMs, WT_EXECUTEDEFAULT);
    }
    OutstandingCall(const OutstandingCall&) = delete;
    OutstandingCall& operator=(const OutstandingCall&) = delete;
    ~OutstandingCall() {
        if (timer_) DeleteTimerQueueTimer(nullptr, timer_, INVALID_HANDLE_VALUE);
        current = previous_;
    }

    // The call that is out now, if any.
    static OutstandingCall* current;

    // Whether the call is to be cancelled: it has gone unanswered too long, or the user stopped
    // it. One that COM does not hand back within kNotHandedBackMs of that ends the program.
    bool Cancelled() {
        const bool overdue = clock_.Now() - start_ >= kNoAnswerLimitMs;
        if (!overdue && !stopRequested) return false;
        if (!cancelledAt_) cancelledAt_ = clock_.Now();
        if (clock_.Now() - *cancelledAt_ >= kNotHandedBackMs && endWhenNotHandedBack) {
            std::exchange(endWhenNotHandedBack,
                          nullptr)(stopRequested ? E_ABORT : RPC_E_CALL_CANCELED);
        }
        return true;
    }

private:
    static VOID CALLBACK Wake(void* thread, BOOLEAN) {
        PostThreadMessageW(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(thread)), WM_NULL, 0, 0);
    }

    Clock& clock_;
    DWORD start_;
    OutstandingCall* previous_;
    HANDLE timer_ = nullptr;
    std::optional<DWORD> cancelledAt_;
};
OutstandingCall* OutstandingCall::current = nullptr;

// Late-bound property read: GetIDsOfNames, then Invoke with DISPATCH_PROPERTYGET; each is
// repeated while the host is busy.
HRESULT GetProperty(IDispatch* object, const wchar_t* name, UniqueVariant& result, Clock& clock) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = CallWhileBusy(
        clock, [&] { return object->GetIDsOfNames(IID_NULL, names, 1, kLocale, &id); });
    if (FAILED(hr)) return hr;
    return CallWhileBusy(clock, [&] {
        DISPPARAMS noArguments = {};
        EXCEPINFO exception = {};
        UINT badArgument = 0;
        VariantClear(result.get());
        HRESULT invoked = object->Invoke(id, IID_NULL, kLocale, DISPATCH_PROPERTYGET, &noArguments,
                                         result.get(), &exception, &badArgument);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        if (invoked == DISP_E_EXCEPTION && exception.scode != 0) invoked = exception.scode;
        return invoked;
    });
}

class PumpingClock final : public Clock {
public:
    DWORD Now() override { return GetTickCount(); }

    // Waits, handing the thread's messages to their windows meanwhile, until the time is up or a
    // stop is requested. A quit message is put back for the program's own loop.
    void Pause(DWORD milliseconds) override {
        const DWORD start = GetTickCount();
        for (DWORD waited = 0; waited < milliseconds && !stopRequested;
             waited = GetTickCount() - start) {
            MsgWaitForMultipleObjectsEx(0, nullptr, milliseconds - waited, QS_ALLINPUT,
                                        MWMO_INPUTAVAILABLE);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == WM_QUIT) {
                    PostQuitMessage(static_cast<int>(message.wParam));
                    const DWORD left = milliseconds - (GetTickCount() - start);
                    if (left <= milliseconds) Sleep(left);
                    return;
                }
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }
};

// Repeats what the host rejects inside COM, by the rule of PauseBeforeRetry, and cancels a call
// that has gone unanswered too long or that the user stopped. It lives as long as the program:
// COM holds it without counting.
class BusyHostFilter final : public IMessageFilter {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IMessageFilter) {
            *object = static_cast<IMessageFilter*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override {
        return SERVERCALL_ISHANDLED;
    }
    // Gives the pause before COM tries again, or -1 to give up and fail the call.
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD elapsed, DWORD rejectType) override {
        if (stopRequested ||
            (rejectType != SERVERCALL_RETRYLATER && rejectType != SERVERCALL_REJECTED)) {
            return static_cast<DWORD>(-1);
        }
        return PauseBeforeRetry(elapsed).value_or(static_cast<DWORD>(-1));
    }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override {
        StopOnQueuedClose();
        OutstandingCall* call = OutstandingCall::current;
        return (call ? call->Cancelled() : stopRequested) ? PENDINGMSG_CANCELCALL
                                                          : PENDINGMSG_WAITDEFPROCESS;
    }
};

BusyHostFilter busyHostFilter;

constexpr HRESULT FromWin32(DWORD error) {
    return static_cast<HRESULT>((error & 0xFFFF) | (FACILITY_WIN32 << 16) | 0x80000000);
}

}  // namespace

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
bool StopRequested() { return stopRequested; }

std::optional<DWORD> PauseBeforeRetry(DWORD elapsed) {
    if (elapsed >= kBusyLimitMs) return std::nullopt;
    return std::min({std::clamp(elapsed, kFirstPauseMs, kLongestPauseMs), kBusyLimitMs - elapsed});
}

Clock& SystemClock() {
    static PumpingClock clock;
    return clock;
}

HRESULT CallWhileBusy(Clock& clock, const std::function<HRESULT()>& call) {
    const DWORD start = clock.Now();
    for (;;) {
        StopOnQueuedClose();
        if (stopRequested) return E_ABORT;
        HRESULT hr;
        {
            const OutstandingCall outstanding(clock);
            hr = call();
        }
        if (stopRequested) return E_ABORT;
        if (!IsBusy(hr)) return hr;
        const std::optional<DWORD> pause = PauseBeforeRetry(clock.Now() - start);
        if (!pause) return hr;
        clock.Pause(*pause);
    }
}

void OnCancelledCallNotHandedBack(std::function<void(HRESULT)> end) {
    endWhenNotHandedBack = std::move(end);
}

void RegisterMessageFilter() { CoRegisterMessageFilter(&busyHostFilter, nullptr); }

namespace {
DWORD WINAPI EndAfterLetGoLimit(void* exitCode) {
    Sleep(kLetGoLimitMs);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(reinterpret_cast<UINT_PTR>(exitCode)));
    return 0;
}
}  // namespace

void LetGo(ComPtr<IDispatch>& application, int exitCode) {
    CloseHandle(CreateThread(nullptr, 0, EndAfterLetGoLimit,
                             reinterpret_cast<void*>(static_cast<UINT_PTR>(exitCode)), 0, nullptr));
    application.Reset();
}

HRESULT Connect(ComPtr<IDispatch>& application, Clock& clock) {
    application.Reset();
    ComPtr<IDispatch> global;
    HRESULT hr = CallWhileBusy(clock, [&] {
        return CoCreateInstance(kGlobalClsid, nullptr, CLSCTX_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(global.ReleaseAndGetAddressOf()));
    });
    if (FAILED(hr)) return hr;
    UniqueVariant result;
    hr = GetProperty(global.Get(), L"Application", result, clock);
    if (FAILED(hr)) return hr;
    if (result->vt != VT_DISPATCH || result->pdispVal == nullptr) return DISP_E_TYPEMISMATCH;
    application = result->pdispVal;
    return S_OK;
}

HRESULT ReadText(IDispatch* application, const wchar_t* name, std::wstring& value, Clock& clock) {
    value.clear();
    if (application == nullptr) return E_POINTER;
    UniqueVariant result;
    HRESULT hr = GetProperty(application, name, result, clock);
    if (FAILED(hr)) return hr;
    hr = VariantChangeTypeEx(result.get(), result.get(), kLocale, 0, VT_BSTR);
    if (FAILED(hr)) return hr;
    if (result->bstrVal) value.assign(result->bstrVal, SysStringLen(result->bstrVal));
    return S_OK;
}

bool IsFolderPath(std::wstring_view path) {
    const auto letter = [](wchar_t c) {
        return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
    };
    if (path.size() >= 3 && letter(path[0]) && path[1] == L':' && path[2] == L'\\') return true;
    if (path.size() < 5 || path.substr(0, 2) != L"\\\\") return false;
    const size_t share = path.find(L'\\', 2);  // "\\server\share": both names present
    return share != std::wstring_view::npos && share > 2 && share + 1 < path.size() &&
           path[share + 1] != L'\\';
}

}  // namespace host
