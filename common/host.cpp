#include <windows.h>
#include <oleauto.h>

#include "host.h"

namespace host {
namespace {

// Late-bound property read: GetIDsOfNames, then Invoke with DISPATCH_PROPERTYGET.
HRESULT GetProperty(IDispatch* object, const wchar_t* name, UniqueVariant& result) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, kLocale, &id);
    if (FAILED(hr)) return hr;
    DISPPARAMS noArguments = {};
    EXCEPINFO exception = {};
    UINT badArgument = 0;
    hr = object->Invoke(id, IID_NULL, kLocale, DISPATCH_PROPERTYGET, &noArguments, result.get(),
                        &exception, &badArgument);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    if (hr == DISP_E_EXCEPTION && exception.scode != 0) hr = exception.scode;
    return hr;
}

}  // namespace

HRESULT Connect(ComPtr<IDispatch>& application) {
    application.Reset();
    ComPtr<IDispatch> global;
    HRESULT hr = CoCreateInstance(kGlobalClsid, nullptr, CLSCTX_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(global.GetAddressOf()));
    if (FAILED(hr)) return hr;
    UniqueVariant result;
    hr = GetProperty(global.Get(), L"Application", result);
    if (FAILED(hr)) return hr;
    if (result->vt != VT_DISPATCH || result->pdispVal == nullptr) return DISP_E_TYPEMISMATCH;
    application = result->pdispVal;
    return S_OK;
}

HRESULT ReadText(IDispatch* application, const wchar_t* name, std::wstring& value) {
    value.clear();
    if (application == nullptr) return E_POINTER;
    UniqueVariant result;
    HRESULT hr = GetProperty(application, name, result);
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
