#include "platform/excel/com/ComApartment.h"

#include "platform/automation/AutomationError.h"
#include "platform/excel/com/RemoteObject.h"

#include <objbase.h>

namespace com {

namespace {

// Consulted by COM when a call of ours is turned away; answers how long to wait before the
// same call goes again (-1: give up, and the call fails with RPC_E_CALL_REJECTED).
class BusyFilter final : public IMessageFilter {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void **object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IMessageFilter)) {
            *object = static_cast<IMessageFilter *>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    // One instance for the life of the process: nothing to count.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    DWORD STDMETHODCALLTYPE HandleInComingCall(DWORD, HTASK, DWORD, LPINTERFACEINFO) override { return SERVERCALL_ISHANDLED; }
    DWORD STDMETHODCALLTYPE RetryRejectedCall(HTASK, DWORD waitedMs, DWORD rejectType) override
    {
        constexpr DWORD kRetryAfterMs = 100;
        if (rejectType == SERVERCALL_RETRYLATER && waitedMs < DWORD(busyTimeoutMs()))
            return kRetryAfterMs;
        return DWORD(-1);
    }
    DWORD STDMETHODCALLTYPE MessagePending(HTASK, DWORD, DWORD) override { return PENDINGMSG_WAITDEFPROCESS; }
};

BusyFilter g_filter;
bool g_entered = false; // the user-interface thread's only

} // namespace

void enterApartment()
{
    if (g_entered)
        return;
    // S_FALSE: Qt (OleInitialize for the clipboard and drag and drop) was here first, in the
    // same apartment model; that is what we need.
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (hr == RPC_E_CHANGED_MODE)
        throw automation::AutomationError(QStringLiteral("COM is initialised for the multi-threaded apartment on this thread; "
                                                         "Excel can be driven only from an apartment-threaded one"));
    if (FAILED(hr))
        throw automation::AutomationError(QStringLiteral("COM could not be initialised: %1").arg(describeResult(hr)));
    IMessageFilter *previous = nullptr;
    if (SUCCEEDED(CoRegisterMessageFilter(&g_filter, &previous)) && previous)
        previous->Release();
    g_entered = true;
}

} // namespace com
