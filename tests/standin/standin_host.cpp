// A stand-in for Excel's automation objects, registered in the test prefixes under Excel's class
// id. Test code only, never shipped. This one source builds two servers: an in-process one
// (standin_host.dll, the fast default; "regsvr32 standin_host.dll" registers it) and a local
// server (standin_host.exe, built with QORVEL_STANDIN_LOCAL_SERVER; "standin_host.exe /RegServer"
// registers it), which COM starts in a process of its own, as it starts Excel. The local server
// inherits the environment of the program that starts it (so under Wine), and registers its class
// for a single use, as Excel does: each program gets a fresh host process, which ends when the
// program lets go of it, or after 10 seconds without calls (a killed program never lets go, and
// under Wine the host keeps the output pipes of a test open).
//
// Its answers come from "answers.ini" (section [host]) in the folder named by the environment
// variable QORVEL_STANDIN_DIR, read afresh at every call, so that a test sets them before it
// starts a program and the program inherits them:
//   Path, StartupPath, Version   the texts it answers (Version: 14.0 when not set);
//   CreateFails                  an HRESULT (hex) that creating the object fails with;
//   ExitOnRead                   a property whose read ends the process at once, as a kill would:
//                                in process that is the program itself, out of process the host;
//   HangOnRead                   a property whose read gets no answer for HangMs, as a hung Excel;
//   ObjectOnRead                 a property answered with an object, whose value (DISPID_VALUE)
//                                gets no answer for HangMs;
//   HangOnRelease                1: letting go of the object gets no answer for HangMs;
//   HangMs                       how long a hang lasts (12000 when not set);
//   RejectCalls                  how many calls the host object rejects first, as a busy Excel
//                                does: each of them answers RPC_E_CALL_REJECTED;
//   StartDelay                   seconds the local server takes to start before it takes calls.
// It appends every call it gets to "calls.log" there, one line each: "CreateInstance",
//   "GetIDsOfNames <name> <lcid>" and "Invoke <name> <lcid> <flags>", followed by " rejected"
//   when it rejected the call.
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <string>

#include "files.h"
#include "host.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;  // this module

namespace {

std::atomic<long> liveObjects{0};
std::atomic<DWORD> lastCall{0};
const wchar_t* const kNames[] = {L"Application", L"Path", L"StartupPath", L"Version"};

// The local server ends when its last object goes.
void LastObjectReleased();

// A file in the folder that QORVEL_STANDIN_DIR names.
std::wstring FileNamed(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = {};
    GetEnvironmentVariableW(L"QORVEL_STANDIN_DIR", folder, MAX_PATH);
    return std::wstring(folder) + L"\\" + name;
}

std::wstring Answer(const wchar_t* key, const wchar_t* fallback = L"") {
    wchar_t value[1024] = {};
    GetPrivateProfileStringW(L"host", key, fallback, value, 1024,
                             FileNamed(L"answers.ini").c_str());
    return value;
}
unsigned long AnswerNumber(const wchar_t* key, int base = 10) {
    return wcstoul(Answer(key).c_str(), nullptr, base);
}

void Hang() { Sleep(wcstoul(Answer(L"HangMs", L"12000").c_str(), nullptr, 10)); }

void Record(const std::wstring& line) {
    std::ofstream(fs::path(FileNamed(L"calls.log")), std::ios::app | std::ios::binary)
        << Utf8(line) << '\n';
}

// Registers this server under the host's class id, in the registry view of its own bitness. The
// in-process one answers on whichever thread asks, as Excel's proxy does.
HRESULT Register(const std::wstring& server) {
    wchar_t self[MAX_PATH], clsid[40];
    const DWORD length =
        GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), self, MAX_PATH);
    StringFromGUID2(host::kGlobalClsid, clsid, 40);
    const std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + clsid + L"\\" + server;
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"ThreadingModel", REG_SZ, L"Both",
                    sizeof L"Both");  // for the in-process one; the local server does not read it
    return HRESULT_FROM_WIN32(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ,
                                              self, (length + 1) * sizeof(wchar_t)));
}

// Answers for the global object and the Application object alike: "Application" gives itself.
class Application final : public IDispatch {
public:
    Application() { ++liveObjects; }
    ~Application() {
        if (--liveObjects == 0) LastObjectReleased();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = iid == IID_IUnknown || iid == IID_IDispatch ? this : nullptr;
        if (*object) AddRef();
        return *object ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0 && AnswerNumber(L"HangOnRelease") == 1) Hang();
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return *count = 0, S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override {
        if (Rejects(L"GetIDsOfNames " + std::wstring(count ? names[0] : L"") + L" " +
                    std::to_wstring(lcid))) {
            return RPC_E_CALL_REJECTED;
        }
        ids[0] = DISPID_UNKNOWN;
        for (DISPID id = 0; id < static_cast<DISPID>(std::size(kNames)); ++id) {
            if (count == 1 && lstrcmpiW(names[0], kNames[id]) == 0) ids[0] = id + 1;
        }
        return ids[0] == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
    }

    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS*,
                                     VARIANT* result, EXCEPINFO*, UINT*) override {
        const bool known = id >= 1 && id <= static_cast<DISPID>(std::size(kNames));
        const std::wstring name = known ? kNames[id - 1] : L"#" + std::to_wstring(id);
        if (Rejects(L"Invoke " + name + L" " + std::to_wstring(lcid) + L" " +
                    std::to_wstring(flags))) {
            return RPC_E_CALL_REJECTED;
        }
        if (!result || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
        if (Answer(L"HangOnRead") == name || id == DISPID_VALUE) Hang();
        if (Answer(L"ExitOnRead") == name) TerminateProcess(GetCurrentProcess(), 99);
        VariantInit(result);
        if (name == L"Application" || Answer(L"ObjectOnRead") == name) {
            result->vt = VT_DISPATCH;
            result->pdispVal = this;
            AddRef();
            return S_OK;
        }
        if (!known && id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocString(
            Answer(name.c_str(), name == L"Version" || id == DISPID_VALUE ? L"14.0" : L"").c_str());
        return S_OK;
    }

private:
    // Records the call; whether it is one of the first RejectCalls ones, which a busy host
    // rejects.
    bool Rejects(const std::wstring& call) {
        lastCall = GetTickCount();
        const bool rejected = calls_++ < AnswerNumber(L"RejectCalls");
        Record(rejected ? call + L" rejected" : call);
        return rejected;
    }

    std::atomic<ULONG> references_{1};
    unsigned long calls_ = 0;
};

class Factory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        *object = iid == IID_IUnknown || iid == IID_IClassFactory ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        *object = nullptr;
        Record(L"CreateInstance");
        if (outer) return CLASS_E_NOAGGREGATION;
        if (const auto hr = static_cast<HRESULT>(AnswerNumber(L"CreateFails", 16)); FAILED(hr)) {
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

constexpr DWORD kIdleLimitMs = 10000;

void LastObjectReleased() { PostQuitMessage(0); }

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    if (lstrcmpiW(commandLine, L"/RegServer") == 0) return FAILED(Register(L"LocalServer32"));
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    Sleep(1000 * AnswerNumber(L"StartDelay"));
    DWORD registration = 0;
    if (FAILED(CoRegisterClassObject(host::kGlobalClsid, &factory, CLSCTX_LOCAL_SERVER,
                                     REGCLS_SINGLEUSE, &registration))) {
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
extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() { return Register(L"InprocServer32"); }
extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return liveObjects == 0 ? S_OK : S_FALSE; }

#endif
