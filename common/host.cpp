#include <windows.h>
#include <oleauto.h>

#include <utility>

#include "host.h"
#include "scoped.h"

namespace host {

struct Excel::Objects {
    ComPtr<IDispatch> global;
    ComPtr<IDispatch> application;
};

namespace {

// Reads property `name` of `object` late bound: GetIDsOfNames, then Invoke with
// DISPATCH_PROPERTYGET, each on the host's thread and repeated while the host is busy; `take`
// takes the answer there.
template <typename Take>
HRESULT ReadProperty(HostThread& thread, std::shared_ptr<Excel::Objects> objects,
                     ComPtr<IDispatch> Excel::Objects::*object, const wchar_t* name, Take take) {
    auto id = std::make_shared<DISPID>(DISPID_UNKNOWN);
    const HRESULT found = thread.Call([objects, object, id, name = std::wstring(name)] {
        IDispatch* const target = (*objects.*object).Get();
        if (!target) return E_POINTER;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
        return target->GetIDsOfNames(IID_NULL, names, 1, kLocale, id.get());
    });
    if (FAILED(found)) return found;
    return thread.Call([objects, object, id, take] {
        DISPPARAMS noArguments = {};
        EXCEPINFO exception = {};
        UINT badArgument = 0;
        UniqueVariant result;
        HRESULT invoked = (*objects.*object)
                              ->Invoke(*id, IID_NULL, kLocale, DISPATCH_PROPERTYGET, &noArguments,
                                       result.get(), &exception, &badArgument);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        if (invoked == DISP_E_EXCEPTION && exception.scode != 0) invoked = exception.scode;
        return FAILED(invoked) ? invoked : take(*result);
    });
}

}  // namespace

Excel::Excel(Clock& clock) : objects_(std::make_shared<Objects>()), thread_(clock) {}

HRESULT Excel::Connect() {
    const HRESULT created = thread_.Call([objects = objects_] {
        return CoCreateInstance(kGlobalClsid, nullptr, CLSCTX_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(objects->global.ReleaseAndGetAddressOf()));
    });
    if (FAILED(created)) return created;
    return ReadProperty(thread_, objects_, &Objects::global, L"Application",
                        [objects = objects_](const VARIANT& answer) {
                            if (answer.vt != VT_DISPATCH || !answer.pdispVal)
                                return DISP_E_TYPEMISMATCH;
                            objects->application = answer.pdispVal;
                            return S_OK;
                        });
}

HRESULT Excel::ReadText(const wchar_t* name, std::wstring& value) {
    value.clear();
    auto text = std::make_shared<std::wstring>();
    const HRESULT hr =
        ReadProperty(thread_, objects_, &Objects::application, name, [text](const VARIANT& answer) {
            if (answer.vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
            if (answer.bstrVal) {
                text->assign(answer.bstrVal, SysStringLen(answer.bstrVal));
            }
            return S_OK;
        });
    if (SUCCEEDED(hr)) value = std::move(*text);
    return hr;
}

Excel::~Excel() { Release(); }

void Excel::LetGo(int exitCode) {
    if (!Release()) TerminateProcess(GetCurrentProcess(), static_cast<UINT>(exitCode));
}

bool Excel::Release() {
    return thread_.Finish([objects = objects_] {
        objects->application.Reset();
        objects->global.Reset();
    });
}

}  // namespace host
