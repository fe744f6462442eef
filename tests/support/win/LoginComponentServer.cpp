// A stand-in for the maker's login component, registered by the tests as
// "LoginDll.clsLogin": an in-process COM server whose object answers the
// properties ServerName and pwd through IDispatch only (late binding), from
// the environment variables GST_TEST_COMPONENT_SERVER and _PWD. The property
// named by GST_TEST_COMPONENT_FAIL fails as a VB component's error would.

#include <windows.h>

#include <oleauto.h>

#include <atomic>

namespace
{

std::atomic<long> g_objects{0};

// {6B1D3C57-2F0E-4F7A-9A61-3D528E0C7142}, also in test_platform_win.cpp.
const CLSID kClassId = {0x6b1d3c57, 0x2f0e, 0x4f7a, {0x9a, 0x61, 0x3d, 0x52, 0x8e, 0x0c, 0x71, 0x42}};

enum : DISPID { kServerName = 1, kPwd = 2 };

class Login final : public IDispatch
{
public:
    Login() { ++g_objects; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --m_refs;
        if (left == 0) {
            delete this;
            --g_objects;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            if (lstrcmpiW(names[i], L"ServerName") == 0)
                ids[i] = kServerName;
            else if (lstrcmpiW(names[i], L"pwd") == 0)
                ids[i] = kPwd;
            else {
                ids[i] = DISPID_UNKNOWN;
                hr = DISP_E_UNKNOWNNAME;
            }
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                                     EXCEPINFO* exception, UINT*) override
    {
        if ((flags & DISPATCH_PROPERTYGET) == 0 || (id != kServerName && id != kPwd) || !result)
            return DISP_E_MEMBERNOTFOUND;
        const wchar_t* name = id == kServerName ? L"ServerName" : L"pwd";
        wchar_t failing[64] = {};
        if (GetEnvironmentVariableW(L"GST_TEST_COMPONENT_FAIL", failing, 64) &&
            lstrcmpiW(failing, name) == 0) {
            if (exception) {
                *exception = EXCEPINFO{};
                exception->bstrSource = SysAllocString(L"LoginDll");
                exception->bstrDescription = SysAllocString(L"Login database not found");
                exception->scode = E_FAIL;
            }
            return DISP_E_EXCEPTION;
        }
        wchar_t value[512] = {};
        const DWORD length = GetEnvironmentVariableW(
            id == kServerName ? L"GST_TEST_COMPONENT_SERVER" : L"GST_TEST_COMPONENT_PWD", value, 512);
        VariantInit(result);
        result->vt = VT_BSTR;
        result->bstrVal = SysAllocStringLen(value, length < 512 ? length : 0);
        return S_OK;
    }

private:
    std::atomic<ULONG> m_refs{1};
};

class Factory final : public IClassFactory
{
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        if (outer)
            return CLASS_E_NOAGGREGATION;
        Login* login = new Login;
        const HRESULT hr = login->QueryInterface(riid, out);
        login->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory g_factory;

} // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID id, REFIID riid, void** out)
{
    if (!IsEqualCLSID(id, kClassId))
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, out);
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow()
{
    return g_objects == 0 ? S_OK : S_FALSE;
}
