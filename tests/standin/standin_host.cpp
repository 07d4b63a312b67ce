// A stand-in for Excel's automation objects: an in-process COM server registered in the test
// prefix under Excel's class id. Test code only, never shipped.
//
// Its answers come from "answers.ini" (section [host]) in the folder named by the environment
// variable QORVEL_STANDIN_DIR, read afresh at every call, so that a test sets them before it
// starts a program and the program inherits them:
//   Path, StartupPath, Version   the texts it answers;
//   CreateFails                  an HRESULT (hex) that creating the object fails with;
//   FailRead, FailReadHr         a property whose read fails, and with which HRESULT (hex);
//   ExitOnRead                   a property whose read ends the process at once, as a kill would;
//   DelayMs                      how long each answer takes.
// It appends every call it gets to "calls.log" there, one line each:
//   "GetIDsOfNames <name> <lcid>" and "Invoke <name> <lcid> <flags>".
#include <windows.h>
#include <oleauto.h>

#include <atomic>
#include <string>

namespace {

std::atomic<long> liveObjects{0};

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

const wchar_t* const kNames[] = {L"Application", L"Path", L"StartupPath", L"Version"};
constexpr DISPID kFirstId = 1;

// Answers for the global object and the Application object alike: "Application" gives itself.
class Application final : public IDispatch {
public:
    Application() { ++liveObjects; }
    ~Application() { --liveObjects; }

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
        Record(L"Invoke " + name + L" " + std::to_wstring(lcid) + L" " + std::to_wstring(flags));
        if (!(flags & DISPATCH_PROPERTYGET) || !result) return DISP_E_MEMBERNOTFOUND;

        Sleep(wcstoul(Answer(L"DelayMs", L"0").c_str(), nullptr, 10));
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
    std::atomic<ULONG> references_{1};
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
        if (const HRESULT hr = AnswerHresult(L"CreateFails"); FAILED(hr)) return hr;
        Application* application = new Application;
        const HRESULT hr = application->QueryInterface(iid, object);
        application->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID iid, void** object) {
    return factory.QueryInterface(iid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return liveObjects == 0 ? S_OK : S_FALSE; }
