#pragma once
// An automation::AutomationObject served to other processes as IDispatch: the other half of
// RemoteObject, so that our own object tree can stand where Excel stands.
//
// Member names get dispatch ids on first use, the same id for the same name (without regard to
// case) on every object; DISPID_VALUE is the default member (the empty name). An automation
// error becomes DISP_E_EXCEPTION with the description in EXCEPINFO, as Excel reports its own.
// Every wrapper alive is counted, so that a server can end when the last one is released and a
// test can see that its client released everything.

#include "platform/automation/AutomationObject.h"

#include <objbase.h>
#include <oleauto.h>

#include <functional>

namespace com {

class ObjectDispatch final : public IDispatch {
public:
    // A new wrapper holding one reference, for the caller to hand out.
    static IDispatch *create(automation::ObjectRef object);
    // Wrappers alive in this process now.
    static long liveCount();
    // Called (on the thread that released it) when the live count drops to 0.
    static void setLastReleasedHandler(std::function<void()> handler);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT *count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo **info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR *names, UINT count, LCID locale, DISPID *ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS *params, VARIANT *result,
                                     EXCEPINFO *exception, UINT *badArgument) override;

private:
    explicit ObjectDispatch(automation::ObjectRef object);
    ~ObjectDispatch();

    automation::ObjectRef m_object;
    LONG m_refs = 1;
};

} // namespace com
