#include "platform/LoginComponent.h"

#include "platform/Error.h"
#include "platform/Text.h"

#include <windows.h>

#include <oleauto.h>

namespace gst
{

namespace
{

[[noreturn]] void fail(const QString& what, HRESULT hr)
{
    // One arg(): text the component gave (in `what`) may hold "%1" itself.
    throw AppError(err::kLoginSettings,
                   QStringLiteral("The login component %1 %2 (0x%3: %4).")
                       .arg(QLatin1String(kLoginComponentClass), what,
                            QStringLiteral("%1").arg(static_cast<quint32>(hr), 8, 16, QLatin1Char('0')),
                            printable(qt_error_string(static_cast<int>(hr)).trimmed())));
}

QString takeText(BSTR text)
{
    if (!text)
        return QString();
    const QString value = QString::fromWCharArray(text, static_cast<int>(SysStringLen(text)));
    SecureZeroMemory(text, SysStringByteLen(text));
    SysFreeString(text);
    return value;
}

QString readProperty(IDispatch* component, const wchar_t* name)
{
    const QString shown = QString::fromWCharArray(name);
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = component->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        fail(QStringLiteral("has no property %1").arg(shown), hr);
    DISPPARAMS none{};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    hr = component->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result,
                           &exception, nullptr);
    if (hr == DISP_E_EXCEPTION) {
        if (exception.pfnDeferredFillIn)
            exception.pfnDeferredFillIn(&exception);
        takeText(exception.bstrSource);
        takeText(exception.bstrHelpFile);
        const QString said = takeText(exception.bstrDescription);
        if (FAILED(exception.scode))
            hr = exception.scode;
        if (!said.isEmpty())
            fail(QStringLiteral("could not give %1: %2").arg(shown, printable(said.left(200))), hr);
    }
    if (FAILED(hr))
        fail(QStringLiteral("could not give %1").arg(shown), hr);
    if (result.vt != VT_BSTR) {
        hr = VariantChangeType(&result, &result, 0, VT_BSTR);
        if (FAILED(hr)) {
            VariantClear(&result);
            fail(QStringLiteral("gave %1 as a value that is not text").arg(shown), hr);
        }
    }
    const QString value = takeText(result.bstrVal);
    result.vt = VT_EMPTY;
    return value;
}

} // namespace

LoginComponentAnswer readLoginComponent()
{
    LoginComponentAnswer answer;
    answer.outcome = LoginComponentAnswer::Outcome::NotRegistered;
    // The windows platform has initialised this thread for COM already
    // (S_FALSE); any other successful answer is ours to undo.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    struct Uninitialize {
        bool ours;
        ~Uninitialize()
        {
            if (ours)
                CoUninitialize();
        }
    } uninitialize{SUCCEEDED(init)};

    CLSID id{};
    HRESULT hr = CLSIDFromProgID(QString::fromLatin1(kLoginComponentClass).toStdWString().c_str(), &id);
    if (hr == CO_E_CLASSSTRING || hr == REGDB_E_CLASSNOTREG || hr == REGDB_E_READREGDB)
        return answer;
    if (FAILED(hr))
        fail(QStringLiteral("could not be looked up"), hr);
    IDispatch* component = nullptr;
    hr = CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&component));
    // A 32-bit component is registered for 32-bit programs only; this 64-bit
    // program reaches it in a surrogate process when one is set up for it.
    if (hr == REGDB_E_CLASSNOTREG)
        hr = CoCreateInstance(id, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_ACTIVATE_32_BIT_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(&component));
    if (hr == REGDB_E_CLASSNOTREG)
        fail(QStringLiteral("is named on this computer but is registered for 32-bit programs only and "
                            "has no surrogate (DllSurrogate) to run it for this 64-bit program"),
             hr);
    if (FAILED(hr) || !component)
        fail(QStringLiteral("is registered but could not be created"), FAILED(hr) ? hr : E_NOINTERFACE);
    struct Release {
        IDispatch* p;
        ~Release() { p->Release(); }
    } release{component};
    answer.settings.serverName = readProperty(component, L"ServerName");
    answer.settings.pwd = readProperty(component, L"pwd");
    answer.outcome = LoginComponentAnswer::Outcome::Answered;
    return answer;
}

} // namespace gst
