// A stand-in for Excel's automation objects, registered in the test prefixes under Excel's class
// id. Test code only, never shipped. This one source builds two servers: an in-process one
// (standin_host.dll, the fast default) and a local server (standin_host.exe, built with
// QORVEL_STANDIN_LOCAL_SERVER), which COM starts in a process of its own, as it starts Excel.
// The local server inherits the environment of the program that starts it (so under Wine), and
// registers its class for a single use, as Excel does: each program gets a fresh host process,
// which ends when the program lets go of it, or after 10 seconds without calls (a killed
// program never lets go, and under Wine the host keeps the output pipes of a test open).
//
// Its answers come from "answers.ini" (section [host]) in the folder named by the environment
// variable QORVEL_STANDIN_DIR, read afresh at every call, so that a test sets them before it
// starts a program and the program inherits them:
//   Path, StartupPath, Version   the texts it answers;
//   CreateFails                  an HRESULT (hex) that creating the object fails with;
//   FailRead, FailReadHr         a property whose read fails, and with which HRESULT (hex);
//   ExitOnRead                   a property whose read ends the process at once, as a kill would:
//                                in process that is the program itself, out of process the host;
//   DelayMs                      how long each answer takes;
//   HangOnRead                   a property whose read gets no answer for 15 s, as a hung Excel;
//   HangOnRelease                1: letting go of the object gets no answer for 15 s;
//   RejectCalls                  how many calls the host object rejects first, as a busy Excel
//                                does: each of them answers RPC_E_CALL_REJECTED;
//   StartDelay                   seconds the local server takes to start before it takes calls.
// It appends every call it gets to "calls.log" there, one line each:
//   "GetIDsOfNames <name> <lcid>" and "Invoke <name> <lcid> <flags>", followed by " rejected"
//   when it rejected the call.
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <string>

namespace {

std::atomic<long> liveObjects{0};
std::atomic<DWORD> lastCall{0};

// The local server ends when its last object goes.
void LastObjectReleased();

std::wstring StandInFolder() {
    wchar_t folder[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"QORVEL_STANDIN_DIR", folder, MAX_PATH)) return {};
    return folder;
}

std::wstring Answer(const wchar_t* key, const wchar_t* fallback) {
    const std::wstring folder = StandInFolder();
    if (folder.empty()) return fallback;
    wchar_t value[1024] = {};
    GetPrivateProfileStringW(L"host", key, fallback, value, 1024,
                             (folder + L"\\answers.ini").c_str());
    return value;
}

HRESULT AnswerHresult(const wchar_t* key) {
    return static_cast<HRESULT>(wcstoul(Answer(key, L"0").c_str(), nullptr, 16));
}

void Record(const std::wstring& line) {
    const std::wstring folder = StandInFolder();
    if (folder.empty()) return;
    const std::wstring text = line + L"\n";
    char utf8[2048];
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         utf8, sizeof utf8, nullptr, nullptr);
    const HANDLE log = CreateFileW((folder + L"\\calls.log").c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(log, utf8, static_cast<DWORD>(size), &written, nullptr);
    CloseHandle(log);
}

constexpr DWORD kHangMs = 15000;

const wchar_t* const kNames[] = {L"Application", L"Path", L"StartupPath", L"Version"};
constexpr DISPID kFirstId = 1;

// Answers for the global object and the Application object alike: "Application" gives itself.
class Application final : public IDispatch {
public:
    Application() { ++liveObjects; }
    ~Application() {
        if (--liveObjects == 0) LastObjectReleased();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *object = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0 && Answer(L"HangOnRelease", L"") == L"1") Sleep(kHangMs);
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override {
        if (Rejects()) {
            Record(L"GetIDsOfNames " + std::wstring(count ? names[0] : L"") + L" " +
                   std::to_wstring(lcid) + L" rejected");
            return RPC_E_CALL_REJECTED;
        }
        HRESULT result = S_OK;
        for (UINT i = 0; i < count; ++i) {
            Record(L"GetIDsOfNames " + std::wstring(names[i]) + L" " + std::to_wstring(lcid));
            ids[i] = DISPID_UNKNOWN;
            for (DISPID id = 0; id < static_cast<DISPID>(std::size(kNames)); ++id) {
                if (lstrcmpiW(names[i], kNames[id]) == 0) ids[i] = kFirstId + id;
            }
            if (ids[i] == DISPID_UNKNOWN) result = DISP_E_UNKNOWNNAME;
        }
        return result;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS*,
                                     VARIANT* result, EXCEPINFO*, UINT*) override {
        if (id < kFirstId || id >= kFirstId + static_cast<DISPID>(std::size(kNames))) {
            Record(L"Invoke #" + std::to_wstring(id) + L" " + std::to_wstring(lcid));
            return DISP_E_MEMBERNOTFOUND;
        }
        const std::wstring name = kNames[id - kFirstId];
        const std::wstring call =
            L"Invoke " + name + L" " + std::to_wstring(lcid) + L" " + std::to_wstring(flags);
        if (Rejects()) {
            Record(call + L" rejected");
            return RPC_E_CALL_REJECTED;
        }
        Record(call);
        if (!(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;

        Sleep(wcstoul(Answer(L"DelayMs", L"0").c_str(), nullptr, 10));
        if (lstrcmpiW(Answer(L"HangOnRead", L"").c_str(), name.c_str()) == 0) Sleep(kHangMs);
        if (lstrcmpiW(Answer(L"ExitOnRead", L"").c_str(), name.c_str()) == 0) {
            TerminateProcess(GetCurrentProcess(), 99);
        }
        if (lstrcmpiW(Answer(L"FailRead", L"").c_str(), name.c_str()) == 0) {
            const HRESULT hr = AnswerHresult(L"FailReadHr");
            return FAILED(hr) ? hr : E_FAIL;
        }

        VariantInit(result);
        if (name == L"Application") {
            result->vt = VT_DISPATCH;
            result->pdispVal = this;
            AddRef();
            return S_OK;
        }
        const wchar_t* fallback = name == L"Path" ? L"C:\\Program Files\\Microsoft Office\\Office14"
                                  : name == L"StartupPath" ? L"C:\\users\\Public\\XLSTART"
                                                           : L"14.0";
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(Answer(name.c_str(), fallback).c_str());
        return S_OK;
    }

private:
    // Whether this call is one of the first RejectCalls ones, which a busy host rejects.
    bool Rejects() {
        lastCall = GetTickCount();
        return calls_++ < wcstoul(Answer(L"RejectCalls", L"0").c_str(), nullptr, 10);
    }

    std::atomic<ULONG> references_{1};
    unsigned long calls_ = 0;
};

class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (const HRESULT hr = AnswerHresult(L"CreateFails"); FAILED(hr)) {
            if (liveObjects == 0) LastObjectReleased();
            return hr;
        }
        Application* application = new Application;
        const HRESULT hr = application->QueryInterface(iid, object);
        application->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

#ifdef QORVEL_STANDIN_LOCAL_SERVER

constexpr CLSID kHostClsid = {
    0x00020812, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr DWORD kIdleLimitMs = 10000;

void LastObjectReleased() { PostQuitMessage(0); }

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    Sleep(1000 * wcstoul(Answer(L"StartDelay", L"0").c_str(), nullptr, 10));
    DWORD registration = 0;
    if (FAILED(CoRegisterClassObject(kHostClsid, &factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE,
                                     &registration))) {
        CoUninitialize();
        return 1;
    }
    lastCall = GetTickCount();
    SetTimer(nullptr, 0, 1000, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && GetTickCount() - lastCall > kIdleLimitMs) break;
        DispatchMessageW(&message);
    }
    CoRevokeClassObject(registration);
    CoUninitialize();
    return 0;
}

#else

void LastObjectReleased() {}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID iid, void** object) {
    return factory.QueryInterface(iid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return liveObjects == 0 ? S_OK : S_FALSE; }

#endif
